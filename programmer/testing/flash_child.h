// SPDX-License-Identifier: MIT
// The real zolt-flash run as a child process, for the end-to-end tests. Its stdout and stderr are
// caught in files of a folder the test names; its stdin is /dev/null unless the test hands one.
// The child gets this process's environment without any VORLINK_* or PROBESIM_* variable and
// without the variables the test names, plus the test's values for those. Failures (a child that
// cannot start, a hang) are reported as test failures.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <map>
#include <string>
#include <vector>

namespace zolt::testing {

// The zolt-flash built beside the tests.
std::string FlashProgram();

struct ProcessResult {
  int exitCode = -1;  // 128 + signal when a signal ended it; -1 when the hang guard killed it
  std::string out, err;
};

// Where the child's stdin and stderr come from instead of /dev/null and the stderr file (a
// terminal, say); -1 keeps the default. The descriptors stay the caller's.
struct ChildStreams {
  int stdinFd = -1;
  int stderrFd = -1;
};

class FlashChild {
 public:
  using Env = std::map<std::string, std::string>;
  // Starts `program` (a zolt-flash, maybe a copy elsewhere) with `args`; the output files go to
  // `dir`. The child starts with default signal handling and no blocked signal.
  FlashChild(const std::string& program, const std::vector<std::string>& args, const Env& env,
             const std::string& dir, ChildStreams streams = {});
  // The same with FlashProgram().
  FlashChild(const std::vector<std::string>& args, const Env& env, const std::string& dir)
      : FlashChild(FlashProgram(), args, env, dir) {}
  ~FlashChild();  // kills and reaps a child that is still running
  FlashChild(const FlashChild&) = delete;
  FlashChild& operator=(const FlashChild&) = delete;

  void Signal(int signal) const;
  // The file the child's stderr goes to (unless ChildStreams named another), to wait on a line.
  const std::string& ErrPath() const { return errPath_; }
  // Waits for the child; after `hangGuard` it is killed and the test fails.
  ProcessResult Wait(std::chrono::seconds hangGuard = std::chrono::seconds(120));

 private:
  pid_t pid_ = -1;
  std::string outPath_, errPath_;
};

// Starts FlashProgram() and waits for it.
ProcessResult RunFlash(const std::vector<std::string>& args, const FlashChild::Env& env,
                       const std::string& dir, std::chrono::seconds hangGuard = std::chrono::seconds(120));

// Polls `path` until it holds `text`; false after `limit` (a hang guard, not a timing).
bool WaitForFileText(const std::string& path, const std::string& text,
                     std::chrono::seconds limit = std::chrono::seconds(60));

}  // namespace zolt::testing
