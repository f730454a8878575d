// SPDX-License-Identifier: MIT
// Test helpers: a scratch folder, and the real zolt-flash run as a child process with its output
// caught in files. The child gets this process's environment without any VORLINK_*/PROBESIM_*
// variable, plus the ones a test names.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace zolt::cli::testing {

// A fresh folder under $TMPDIR, removed with everything in it when the object goes.
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

std::string ReadFileBytes(const std::string& path);  // "" when missing
// `size` bytes of a fixed pseudo-random pattern (seeded), so images never match erased flash.
std::string PatternBytes(size_t size, uint32_t seed);
uint32_t Crc32(const std::string& bytes);

struct ProcessResult {
  int exitCode = -1;  // 128 + signal when a signal ended it
  std::string out, err;
};

class FlashProcess {
 public:
  using Env = std::map<std::string, std::string>;
  // Starts `program` (zolt-flash) with `args`; its stdout and stderr go to files in `dir`, or its
  // stderr to `stderrFd` (a terminal, say) when that is not -1.
  FlashProcess(const std::string& program, const std::vector<std::string>& args, const Env& env,
               const std::string& dir, int stderrFd = -1);
  ~FlashProcess();  // kills a child that is still running

  void Signal(int signal) const;
  // Waits for the child; after `hangGuard` it is killed and the test fails.
  ProcessResult Wait(std::chrono::seconds hangGuard = std::chrono::seconds(120));

 private:
  pid_t pid_ = -1;
  std::string outPath_, errPath_;
};

// The zolt-flash built beside the tests.
std::string FlashProgram();

// Polls `path` until it contains `text`; false after `limit`.
bool WaitForFileText(const std::string& path, const std::string& text,
                     std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace zolt::cli::testing
