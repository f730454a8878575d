// SPDX-License-Identifier: MIT
// A scratch folder for tests and benchmarks: a fresh folder under $TMPDIR (or /tmp), removed with
// everything in it when the object goes. No Qt, no test framework: the benchmarks and the fuzz
// targets use it too.
#pragma once

#include <string>
#include <string_view>

namespace zolt::testing {

class ScratchDir {
 public:
  // `prefix` names the folder ("<prefix>.XXXXXX"), so a folder left by a killed test tells whose it
  // was. Throws std::runtime_error when the folder cannot be made.
  explicit ScratchDir(std::string_view prefix = "zolt-test");
  // Removes the whole tree, also folders a test made unwritable; never throws.
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  // The path of `name` (which may hold folders) inside the scratch folder.
  std::string File(std::string_view name) const;
  std::string operator/(std::string_view name) const { return File(name); }
  // Writes `bytes` to the file `name` (replacing it) and returns its path; throws
  // std::runtime_error when the file cannot be written whole.
  std::string Write(std::string_view name, std::string_view bytes) const;

 private:
  std::string path_;
};

// The bytes of `path`; "" when it is missing or unreadable.
std::string ReadFileBytes(const std::string& path);

}  // namespace zolt::testing
