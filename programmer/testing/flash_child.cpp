// SPDX-License-Identifier: MIT
#include "testing/flash_child.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstring>
#include <thread>

#include "testing/scratch_dir.h"

extern char** environ;

namespace zolt::testing {

std::string FlashProgram() {
  return ZOLT_FLASH_PATH;
}

FlashChild::FlashChild(const std::string& program, const std::vector<std::string>& args, const Env& env,
                       const std::string& dir, ChildStreams streams) {
  static std::atomic<int> serial{0};
  const int n = ++serial;
  outPath_ = dir + "/stdout." + std::to_string(n);
  errPath_ = dir + "/stderr." + std::to_string(n);

  // Everything the child needs is built before fork: tests that fork may run other threads, so
  // only async-signal-safe calls come after it.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("VORLINK_", 0) == 0 || entry.rfind("PROBESIM_", 0) == 0) continue;
    // A variable the test names must not come twice: getenv would find the inherited one first.
    if (env.count(entry.substr(0, entry.find('='))) != 0) continue;
    envStrings.push_back(entry);
  }
  for (const auto& [key, value] : env) envStrings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err =
      streams.stderrFd >= 0 ? -1 : ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int in = streams.stdinFd >= 0 ? -1 : ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  const int childIn = streams.stdinFd >= 0 ? streams.stdinFd : in;
  const int childErr = streams.stderrFd >= 0 ? streams.stderrFd : err;
  if (out < 0 || childErr < 0 || childIn < 0) {
    ADD_FAILURE() << "cannot open the child's streams in " << dir << ": " << std::strerror(errno);
  } else {
    pid_ = ::fork();
    if (pid_ == 0) {
      ::dup2(childIn, 0);
      ::dup2(out, 1);
      ::dup2(childErr, 2);
      // The test runner may have blocked or ignored signals; the program starts with defaults.
      sigset_t none;
      sigemptyset(&none);
      ::sigprocmask(SIG_SETMASK, &none, nullptr);
      ::signal(SIGINT, SIG_DFL);
      ::signal(SIGTERM, SIG_DFL);
      ::signal(SIGHUP, SIG_DFL);
      ::execve(argv[0], argv.data(), envp.data());
      ::_exit(127);
    }
    if (pid_ < 0) ADD_FAILURE() << "fork: " << std::strerror(errno);
  }
  for (int fd : {out, err, in}) {
    if (fd >= 0) ::close(fd);
  }
}

FlashChild::~FlashChild() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void FlashChild::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

ProcessResult FlashChild::Wait(std::chrono::seconds hangGuard) {
  ProcessResult result;
  const auto deadline = std::chrono::steady_clock::now() + hangGuard;
  int status = 0;
  while (pid_ > 0) {
    const pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) {
      pid_ = -1;
      result.exitCode = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
      break;
    }
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "hang guard: zolt-flash still running after " << hangGuard.count() << " s; killed";
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, nullptr, 0);
      pid_ = -1;
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  result.out = ReadFileBytes(outPath_);
  result.err = ReadFileBytes(errPath_);
  return result;
}

ProcessResult RunFlash(const std::vector<std::string>& args, const FlashChild::Env& env,
                       const std::string& dir, std::chrono::seconds hangGuard) {
  return FlashChild(args, env, dir).Wait(hangGuard);
}

bool WaitForFileText(const std::string& path, const std::string& text, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (ReadFileBytes(path).find(text) == std::string::npos) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  return true;
}

}  // namespace zolt::testing
