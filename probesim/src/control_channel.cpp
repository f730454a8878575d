// SPDX-License-Identifier: MIT
#include "control_channel.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <vector>

namespace probesim {
namespace {

std::string ErrorText(int error) {
  return std::strerror(error);
}

// True when a process listens on the socket at `address`.
bool SomeoneListens(const sockaddr_un& address) {
  const int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  const bool listening = ::connect(fd, reinterpret_cast<const sockaddr*>(&address), sizeof address) == 0;
  ::close(fd);
  return listening;
}

struct Client {
  int fd;
  std::string pending;   // bytes of a line not yet complete
  bool tooLong = false;  // the line being read is longer than kMaxLine
};

// One whole reply line; false when the client does not take it (gone, or not reading its replies),
// which ends its connection: the channel thread never waits for a client.
bool SendLine(int fd, std::string reply) {
  for (char& c : reply) {
    if (c == '\n' || c == '\r') c = ' ';  // a reply is one line, whatever a path or name holds
  }
  reply += '\n';
  size_t sent = 0;
  while (sent < reply.size()) {
    const ssize_t n = ::send(fd, reply.data() + sent, reply.size() - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n < 0 && errno == EINTR) continue;
    if (n <= 0) return false;
    sent += static_cast<size_t>(n);
  }
  return true;
}

}  // namespace

ControlChannel::ControlChannel(const std::string& path, Handler handler)
    : path_(path), handler_(std::move(handler)) {
  const std::string where = path + ": ";
  sockaddr_un address{};
  address.sun_family = AF_UNIX;
  if (path.empty() || path.size() >= sizeof address.sun_path || path.find('\0') != std::string::npos) {
    error_ = where + "not a socket path of 1 to " + std::to_string(sizeof address.sun_path - 1) + " bytes";
    return;
  }
  std::memcpy(address.sun_path, path.c_str(), path.size() + 1);

  struct stat st {};
  if (::lstat(path.c_str(), &st) == 0) {
    if (!S_ISSOCK(st.st_mode)) {
      error_ = where + "exists and is not a socket";
      return;
    }
    if (SomeoneListens(address)) {
      error_ = where + "another process listens on it";
      return;
    }
    // Left behind by a bench that ended without removing it.
    if (::unlink(path.c_str()) != 0 && errno != ENOENT) {
      error_ = where + "cannot remove the stale socket: " + ErrorText(errno);
      return;
    }
  } else if (errno != ENOENT) {
    error_ = where + ErrorText(errno);
    return;
  }

  int wake[2];
  listenFd_ = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
  if (listenFd_ < 0) {
    error_ = where + "cannot make a socket: " + ErrorText(errno);
    return;
  }
  auto fail = [&](const std::string& what) {
    error_ = where + what + ": " + ErrorText(errno);
    ::close(listenFd_);
    listenFd_ = -1;
  };
  if (::bind(listenFd_, reinterpret_cast<const sockaddr*>(&address), sizeof address) != 0) {
    fail("cannot listen");
    return;
  }
  // Nobody can connect before listen(), so the socket is its owner's before anyone can use it.
  if (::chmod(path.c_str(), 0600) != 0 || ::lstat(path.c_str(), &st) != 0) {
    fail("cannot set the socket's mode");
    ::unlink(path.c_str());
    return;
  }
  device_ = st.st_dev;
  inode_ = st.st_ino;
  if (::listen(listenFd_, static_cast<int>(kMaxClients)) != 0 || ::pipe2(wake, O_CLOEXEC | O_NONBLOCK) != 0) {
    fail("cannot listen");
    ::unlink(path.c_str());
    return;
  }
  wakeRead_ = wake[0];
  wakeWrite_ = wake[1];
  thread_ = std::thread([this] { Serve(); });
}

void ControlChannel::Stop() {
  if (!thread_.joinable()) return;
  const char byte = 1;
  [[maybe_unused]] const ssize_t written = ::write(wakeWrite_, &byte, 1);
  thread_.join();
  ::close(wakeRead_);
  ::close(wakeWrite_);
  ::close(listenFd_);
  wakeRead_ = wakeWrite_ = listenFd_ = -1;
  // Only the socket this channel made: another bench may have taken the name meanwhile.
  struct stat st {};
  if (::lstat(path_.c_str(), &st) == 0 && st.st_dev == device_ && st.st_ino == inode_)
    ::unlink(path_.c_str());
}

void ControlChannel::Serve() {
  std::vector<Client> clients;
  std::vector<pollfd> polled;
  while (true) {
    polled.clear();
    polled.push_back({wakeRead_, POLLIN, 0});
    polled.push_back({listenFd_, static_cast<short>(clients.size() < kMaxClients ? POLLIN : 0), 0});
    for (const Client& c : clients) polled.push_back({c.fd, POLLIN, 0});
    if (::poll(polled.data(), polled.size(), -1) < 0) {
      if (errno == EINTR) continue;
      break;
    }
    if (polled[0].revents != 0) break;
    std::vector<bool> drop(clients.size(), false);
    for (size_t i = 0; i < clients.size(); ++i) {
      if (polled[i + 2].revents == 0) continue;
      Client& c = clients[i];
      char buffer[4096];
      const ssize_t n = ::read(c.fd, buffer, sizeof buffer);
      if (n < 0 && (errno == EINTR || errno == EAGAIN)) continue;
      if (n <= 0) {
        drop[i] = true;
        continue;
      }
      for (ssize_t k = 0; k < n && !drop[i]; ++k) {
        const char ch = buffer[k];
        if (ch != '\n') {
          if (c.pending.size() < kMaxLine) {
            c.pending += ch;
          } else {
            c.tooLong = true;
          }
          continue;
        }
        if (!c.pending.empty() && c.pending.back() == '\r') c.pending.pop_back();
        std::string reply;
        if (c.tooLong) {
          reply = "error: line longer than " + std::to_string(kMaxLine) + " bytes";
        } else {
          try {
            reply = handler_(c.pending);
          } catch (const std::exception& e) {
            reply = std::string("error: ") + e.what();
          }
        }
        c.pending.clear();
        c.tooLong = false;
        drop[i] = !SendLine(c.fd, reply);
      }
    }
    for (size_t i = clients.size(); i-- > 0;) {
      if (!drop[i]) continue;
      ::close(clients[i].fd);
      clients.erase(clients.begin() + static_cast<long>(i));
    }
    if (polled[1].revents != 0) {
      const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_CLOEXEC | SOCK_NONBLOCK);
      if (fd >= 0) clients.push_back({fd, {}, false});
    }
  }
  for (const Client& c : clients) ::close(c.fd);
}

}  // namespace probesim
