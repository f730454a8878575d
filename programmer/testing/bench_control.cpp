// SPDX-License-Identifier: MIT
#include "testing/bench_control.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace zolt::testing {
namespace {

using Clock = std::chrono::steady_clock;

// Waits for `events` on `fd` until `deadline`; false on the time-out or an error.
bool WaitFor(int fd, short events, Clock::time_point deadline) {
  while (true) {
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) return false;
    pollfd p{fd, events, 0};
    const int n = ::poll(&p, 1, static_cast<int>(left));
    if (n < 0 && errno == EINTR) continue;
    return n == 1;
  }
}

}  // namespace

BenchControl::BenchControl(std::string socketPath, std::chrono::milliseconds timeout)
    : path_(std::move(socketPath)), timeout_(timeout) {}

BenchControl::~BenchControl() {
  Disconnect();
}

void BenchControl::Disconnect() {
  if (fd_ >= 0) ::close(fd_);
  fd_ = -1;
  buffered_.clear();
}

bool BenchControl::Connect(std::string& why) {
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path_.empty() || path_.size() >= sizeof address.sun_path) {
    why = "not a socket path: " + path_;
    return false;
  }
  std::memcpy(address.sun_path, path_.c_str(), path_.size() + 1);
  fd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (fd_ < 0) {
    why = std::string("socket: ") + std::strerror(errno);
    return false;
  }
  const auto deadline = Clock::now() + timeout_;
  // A listener with a full backlog refuses at once (EAGAIN); try again until the time-out.
  while (::connect(fd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    const int error = errno;
    if (error == EINPROGRESS) {
      int result = 0;
      socklen_t length = sizeof result;
      if (WaitFor(fd_, POLLOUT, deadline) && ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &result, &length) == 0 &&
          result == 0) {
        return true;
      }
      why = "connect " + path_ + ": " + (result != 0 ? std::strerror(result) : "time-out");
    } else if (error == EAGAIN && Clock::now() < deadline) {
      ::usleep(1000);
      continue;
    } else {
      why = "connect " + path_ + ": " + std::strerror(error);
    }
    Disconnect();
    return false;
  }
  return true;
}

std::string BenchControl::Send(const std::string& command) {
  if (command.find('\n') != std::string::npos) return "(not sent: the command holds a line feed)";
  std::string why;
  if (fd_ < 0 && !Connect(why)) return "(no reply: " + why + ")";
  const std::string line = command + "\n";
  const auto deadline = Clock::now() + timeout_;
  size_t sent = 0;
  while (sent < line.size()) {
    const ssize_t n = ::send(fd_, line.data() + sent, line.size() - sent, MSG_NOSIGNAL);
    if (n > 0) {
      sent += static_cast<size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else if (n < 0 && errno == EAGAIN && WaitFor(fd_, POLLOUT, deadline)) {
      continue;
    } else {
      why = n < 0 && errno != EAGAIN ? std::string("send: ") + std::strerror(errno) : "send: time-out";
      Disconnect();
      return "(no reply: " + why + ")";
    }
  }
  while (true) {
    const size_t end = buffered_.find('\n');
    if (end != std::string::npos) {
      std::string reply = buffered_.substr(0, end);
      buffered_.erase(0, end + 1);
      return reply;
    }
    if (!WaitFor(fd_, POLLIN, deadline)) {
      Disconnect();
      return "(no reply: time-out)";
    }
    char bytes[512];
    const ssize_t n = ::read(fd_, bytes, sizeof bytes);
    if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
    if (n <= 0) {
      why = n == 0 ? "the bench closed the connection" : std::string("read: ") + std::strerror(errno);
      Disconnect();
      return "(no reply: " + why + ")";
    }
    buffered_.append(bytes, static_cast<size_t>(n));
  }
}

}  // namespace zolt::testing
