// SPDX-License-Identifier: MIT
#include "flash_child.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace zolt::reliability {

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zolt-reliability.XXXXXX";
  if (::mkdtemp(pattern.data()) == nullptr) ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
  path_ = pattern;
}

ScratchDir::~ScratchDir() {
  std::error_code ignored;
  std::filesystem::remove_all(path_, ignored);
}

std::string ScratchDir::Write(const std::string& name, const std::string& bytes) const {
  const std::string path = *this / name;
  std::ofstream(path, std::ios::binary) << bytes;
  return path;
}

std::string ReadFileBytes(const std::string& path) {
  std::ifstream in(path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

std::string PatternBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<char>(x >> 24);
  }
  return bytes;
}

FlashChild::FlashChild(const std::vector<std::string>& args, const Env& env, const std::string& dir) {
  static int serial = 0;
  ++serial;
  outPath_ = dir + "/stdout." + std::to_string(serial);
  errPath_ = dir + "/stderr." + std::to_string(serial);

  // Everything the child needs is built before fork: only async-signal-safe calls after it.
  std::vector<std::string> envStrings;
  for (char** e = environ; *e != nullptr; ++e) {
    const std::string entry = *e;
    if (entry.rfind("VORLINK_", 0) == 0 || entry.rfind("PROBESIM_", 0) == 0) continue;
    envStrings.push_back(entry);
  }
  for (const auto& [key, value] : env) envStrings.push_back(key + "=" + value);
  std::vector<char*> envp;
  for (std::string& s : envStrings) envp.push_back(s.data());
  envp.push_back(nullptr);
  std::string program = ZOLT_FLASH_PATH;
  std::vector<std::string> argStrings{program};
  argStrings.insert(argStrings.end(), args.begin(), args.end());
  std::vector<char*> argv;
  for (std::string& s : argStrings) argv.push_back(s.data());
  argv.push_back(nullptr);

  const int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int err = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  const int in = ::open("/dev/null", O_RDONLY | O_CLOEXEC);
  pid_ = ::fork();
  if (pid_ == 0) {
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    ::execve(program.c_str(), argv.data(), envp.data());
    ::_exit(127);
  }
  ::close(out);
  ::close(err);
  ::close(in);
  if (pid_ < 0) ADD_FAILURE() << "fork: " << std::strerror(errno);
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
      ADD_FAILURE() << "hang guard: zolt-flash still running after " << hangGuard.count() << " s";
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

}  // namespace zolt::reliability
