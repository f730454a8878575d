// SPDX-License-Identifier: MIT
// zolt-flash as a child process for the reliability tests, with its output caught in files, and a
// scratch folder per test. The child gets this process's environment without any VORLINK_* or
// PROBESIM_* variable, plus the ones the test names.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <cstdint>
#include <map>
#include <string>
#include <vector>

namespace zolt::reliability {

// A fresh folder under $TMPDIR (or /tmp), removed with everything in it when the object goes.
class ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
  ScratchDir(const ScratchDir&) = delete;
  ScratchDir& operator=(const ScratchDir&) = delete;

  const std::string& path() const { return path_; }
  std::string operator/(const std::string& name) const { return path_ + "/" + name; }
  std::string Write(const std::string& name, const std::string& bytes) const;  // returns the path

 private:
  std::string path_;
};

std::string ReadFileBytes(const std::string& path);  // "" when missing or unreadable
// `size` bytes of a fixed pseudo-random pattern, so images never match erased flash.
std::string PatternBytes(size_t size, uint32_t seed);

struct ProcessResult {
  int exitCode = -1;  // 128 + signal when a signal ended it; -1 when the hang guard killed it
  std::string out, err;
};

class FlashChild {
 public:
  using Env = std::map<std::string, std::string>;
  // Starts the zolt-flash built beside the tests with `args`; stdout and stderr go to files in `dir`.
  FlashChild(const std::vector<std::string>& args, const Env& env, const std::string& dir);
  ~FlashChild();  // kills a child that is still running
  FlashChild(const FlashChild&) = delete;
  FlashChild& operator=(const FlashChild&) = delete;

  void Signal(int signal) const;
  // Waits for the child; after `hangGuard` it is killed and the test fails.
  ProcessResult Wait(std::chrono::seconds hangGuard = std::chrono::seconds(120));

 private:
  pid_t pid_ = -1;
  std::string outPath_, errPath_;
};

// Starts zolt-flash and waits for it.
ProcessResult RunFlash(const std::vector<std::string>& args, const FlashChild::Env& env,
                       const std::string& dir, std::chrono::seconds hangGuard = std::chrono::seconds(120));

// Polls `path` until it holds `text`; false after `limit`.
bool WaitForFileText(const std::string& path, const std::string& text,
                     std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace zolt::reliability
