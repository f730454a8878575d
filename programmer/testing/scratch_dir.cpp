// SPDX-License-Identifier: MIT
#include "testing/scratch_dir.h"

#include <stdlib.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <stdexcept>
#include <vector>

namespace zolt::testing {

namespace fs = std::filesystem;

ScratchDir::ScratchDir(std::string_view prefix) {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern = std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/";
  pattern.append(prefix).append(".XXXXXX");
  if (::mkdtemp(pattern.data()) == nullptr) {
    throw std::runtime_error("cannot make a scratch folder " + pattern + ": " + std::strerror(errno));
  }
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  fs::remove_all(path_, ec);
  if (!ec) return;
  // A test may have taken the write or search permission from a folder (to see a write refused):
  // give every folder of the tree back to its owner, then remove again. Links are not followed.
  std::vector<fs::path> folders{path_};
  while (!folders.empty()) {
    const fs::path folder = folders.back();
    folders.pop_back();
    fs::permissions(folder, fs::perms::owner_all, fs::perm_options::add, ec);
    for (fs::directory_iterator it(folder, ec), end; !ec && it != end; it.increment(ec)) {
      if (it->is_directory(ec) && !it->is_symlink(ec)) folders.push_back(it->path());
    }
  }
  fs::remove_all(path_, ec);
}

std::string ScratchDir::File(std::string_view name) const {
  return path_ + "/" + std::string(name);
}

std::string ScratchDir::Write(std::string_view name, std::string_view bytes) const {
  const std::string path = File(name);
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
  out.close();
  if (!out) throw std::runtime_error("cannot write " + path);
  return path;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream bytes;
  bytes << in.rdbuf();
  return bytes.str();
}

}  // namespace zolt::testing
