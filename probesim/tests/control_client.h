// SPDX-License-Identifier: MIT
// The test's side of PROBESIM_CONTROL: a bench loaded with the variable set, and a connection that
// sends one line and waits (up to 5 s) for its one-line reply.
#pragma once

#include <poll.h>
#include <stdlib.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cstring>
#include <string>

#include "host.h"

namespace probesim::test {

// Loads `toml` with PROBESIM_CONTROL (and, when given, PROBESIM_LOG) set for the load only.
inline BenchLoadResult LoadWithControl(const std::string& toml, const std::string& dir,
                                       const std::string& socket, const std::string& log = "") {
  ::setenv("PROBESIM_CONTROL", socket.c_str(), 1);
  if (!log.empty()) ::setenv("PROBESIM_LOG", log.c_str(), 1);
  BenchLoadResult result = LoadBenchFromString(toml, "test.toml", dir);
  ::unsetenv("PROBESIM_CONTROL");
  ::unsetenv("PROBESIM_LOG");
  return result;
}

class ControlClient {
 public:
  explicit ControlClient(const std::string& path) {
    fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::strncpy(address.sun_path, path.c_str(), sizeof address.sun_path - 1);
    if (fd_ >= 0 && ::connect(fd_, reinterpret_cast<sockaddr*>(&address), sizeof address) != 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }
  ~ControlClient() {
    if (fd_ >= 0) ::close(fd_);
  }
  bool connected() const { return fd_ >= 0; }

  // Sends `bytes` as they are (the caller adds the newline) and returns the next reply line, or
  // "(no reply)".
  std::string SendRaw(const std::string& bytes) {
    if (fd_ < 0 ||
        ::send(fd_, bytes.data(), bytes.size(), MSG_NOSIGNAL) != static_cast<ssize_t>(bytes.size()))
      return "(not sent)";
    std::string reply;
    char c = 0;
    while (true) {
      pollfd p{fd_, POLLIN, 0};
      if (::poll(&p, 1, 5000) != 1 || ::read(fd_, &c, 1) != 1) return "(no reply)";
      if (c == '\n') return reply;
      reply += c;
    }
  }
  std::string Send(const std::string& command) { return SendRaw(command + "\n"); }

 private:
  int fd_ = -1;
};

}  // namespace probesim::test
