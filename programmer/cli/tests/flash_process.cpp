// SPDX-License-Identifier: MIT
#include "flash_process.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <thread>

extern char** environ;

namespace zolt::cli::testing {

ScratchDir::ScratchDir() {
  const char* tmp = std::getenv("TMPDIR");
  std::string pattern =
      std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zolt-flash-test.XXXXXX";
  std::vector<char> buffer(pattern.begin(), pattern.end());
  buffer.push_back('\0');
  if (::mkdtemp(buffer.data()) == nullptr) {
    ADD_FAILURE() << "mkdtemp: " << std::strerror(errno);
  }
  path_ = buffer.data();
}

ScratchDir::~ScratchDir() {
  std::error_code ec;
  std::filesystem::remove_all(path_, ec);
}

std::string ScratchDir::Write(const std::string& name, const std::string& bytes) const {
  std::string path = *this / name;
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

uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

std::string FlashProgram() {
  return ZOLT_FLASH_PATH;
}

FlashProcess::FlashProcess(const std::string& program, const std::vector<std::string>& args, const Env& env,
                           const std::string& dir, int stderrFd) {
  static int serial = 0;
  ++serial;
  outPath_ = dir + "/stdout." + std::to_string(serial);
  errPath_ = dir + "/stderr." + std::to_string(serial);

  std::vector<std::string> envText;
  for (char** e = environ; *e != nullptr; ++e) {
    std::string entry = *e;
    if (entry.rfind("VORLINK_", 0) == 0 || entry.rfind("PROBESIM_", 0) == 0) continue;
    if (env.count(entry.substr(0, entry.find('='))) != 0) continue;
    envText.push_back(entry);
  }
  for (const auto& [key, value] : env) envText.push_back(key + "=" + value);
  std::vector<std::string> argText{program};
  argText.insert(argText.end(), args.begin(), args.end());

  std::vector<char*> argv, envp;
  for (auto& a : argText) argv.push_back(a.data());
  argv.push_back(nullptr);
  for (auto& e : envText) envp.push_back(e.data());
  envp.push_back(nullptr);

  pid_ = ::fork();
  if (pid_ == 0) {
    int out = ::open(outPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int err = stderrFd >= 0 ? stderrFd : ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    int in = ::open("/dev/null", O_RDONLY);
    if (out < 0 || err < 0 || in < 0) ::_exit(126);
    ::dup2(in, 0);
    ::dup2(out, 1);
    ::dup2(err, 2);
    // The test runner may have blocked or ignored signals; the program starts with defaults.
    sigset_t none;
    sigemptyset(&none);
    ::sigprocmask(SIG_SETMASK, &none, nullptr);
    ::signal(SIGINT, SIG_DFL);
    ::signal(SIGTERM, SIG_DFL);
    ::execve(argv[0], argv.data(), envp.data());
    ::_exit(127);
  }
  if (pid_ < 0) ADD_FAILURE() << "fork: " << std::strerror(errno);
}

FlashProcess::~FlashProcess() {
  if (pid_ > 0) {
    ::kill(pid_, SIGKILL);
    ::waitpid(pid_, nullptr, 0);
  }
}

void FlashProcess::Signal(int signal) const {
  if (pid_ > 0) ::kill(pid_, signal);
}

ProcessResult FlashProcess::Wait(std::chrono::seconds hangGuard) {
  ProcessResult result;
  if (pid_ <= 0) return result;
  const auto deadline = std::chrono::steady_clock::now() + hangGuard;
  int status = 0;
  for (;;) {
    pid_t done = ::waitpid(pid_, &status, WNOHANG);
    if (done == pid_) break;
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "zolt-flash did not end within " << hangGuard.count() << " s; killed";
      ::kill(pid_, SIGKILL);
      ::waitpid(pid_, &status, 0);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  pid_ = -1;
  if (WIFEXITED(status)) result.exitCode = WEXITSTATUS(status);
  if (WIFSIGNALED(status)) result.exitCode = 128 + WTERMSIG(status);
  result.out = ReadFileBytes(outPath_);
  result.err = ReadFileBytes(errPath_);
  return result;
}

bool WaitForFileText(const std::string& path, const std::string& text, std::chrono::seconds limit) {
  const auto deadline = std::chrono::steady_clock::now() + limit;
  while (std::chrono::steady_clock::now() < deadline) {
    if (ReadFileBytes(path).find(text) != std::string::npos) return true;
    std::this_thread::sleep_for(std::chrono::milliseconds(10));
  }
  return false;
}

}  // namespace zolt::cli::testing
