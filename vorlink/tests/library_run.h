// SPDX-License-Identifier: MIT
// Runs the built libVorlink.so in a child process (vorlink_run) with an environment of the test's
// choosing, and small file helpers for the library's tests.
#pragma once

#include <stdlib.h>
#include <sys/wait.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "testing/scratch_dir.h"

namespace vorlink::testing {

namespace fs = std::filesystem;

struct Output {
  int status = -1;
  std::string text;
};

inline Output Shell(const std::string& command) {
  Output output;
  FILE* pipe = popen(command.c_str(), "r");
  if (!pipe) return output;
  char buffer[4096];
  size_t n;
  while ((n = fread(buffer, 1, sizeof buffer, pipe)) > 0) output.text.append(buffer, n);
  const int status = pclose(pipe);
  output.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  return output;
}

// Runs vorlink_run in a clean environment plus `env` ("NAME=value" words).
inline Output RunLibrary(const std::string& env, const std::string& calls) {
  return Shell("env -u VORLINK_BENCH -u VORLINK_TRACE -u PROBESIM_LOG -u PROBESIM_CONTROL " + env +
               " '" VORLINK_RUN "' '" VORLINK_LIBRARY "' " + calls);
}

inline std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) lines.push_back(line);
  return lines;
}

inline std::string ReadFile(const fs::path& path) {
  std::ifstream in(path);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

using zolt::testing::ScratchDir;

}  // namespace vorlink::testing
