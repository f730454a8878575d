// SPDX-License-Identifier: MIT
#include "event_log.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace probesim {
namespace {

// A line under construction in a stack buffer.
struct Line {
  char text[128];
  size_t used = 0;

  void Put(const char* s) {
    const size_t n = std::strlen(s);
    std::memcpy(text + used, s, n);
    used += n;
  }
  void Decimal(uint64_t v) {
    char digits[24];
    int n = 0;
    do {
      digits[n++] = static_cast<char>('0' + v % 10);
      v /= 10;
    } while (v != 0);
    while (n > 0) text[used++] = digits[--n];
  }
  void Hex2(uint8_t v) {
    static const char kHex[] = "0123456789abcdef";
    text[used++] = kHex[v >> 4];
    text[used++] = kHex[v & 15];
  }
  void Start(int probe) {
    Put("p=");
    Decimal(static_cast<uint64_t>(probe));
    Put(" t_us=");
    Decimal(MonotonicMicros());
  }
};

void WriteLine(int fd, const Line& line) {
  // One write: O_APPEND keeps the line whole against the other probes' lines.
  [[maybe_unused]] ssize_t ignored = ::write(fd, line.text, line.used);
}

}  // namespace

uint64_t MonotonicMicros() {
  timespec ts;
  clock_gettime(CLOCK_MONOTONIC, &ts);
  return static_cast<uint64_t>(ts.tv_sec) * 1000000u + static_cast<uint64_t>(ts.tv_nsec) / 1000u;
}

EventLog::EventLog(const std::string& path) {
  if (path.empty()) return;
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_CREAT | O_APPEND | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
  struct stat st {};
  if (fd < 0) {
    // A FIFO without a reader and a socket fail with ENXIO, a folder with EISDIR: say what they are.
    const int error = errno;
    const bool special = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode);
    error_ = path + ": " + (special ? "not a regular file or character device" : std::strerror(error));
    return;
  }
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
    error_ = path + ": not a regular file or character device";
    ::close(fd);
    return;
  }
  // Blocking again, so that a terminal that is slow to take a line does not lose it.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
  fd_ = fd;
}

EventLog::~EventLog() {
  if (fd_ >= 0) ::close(fd_);
}

void EventLog::Command(int probe, uint8_t code, int length) const {
  if (fd_ < 0) return;
  Line line;
  line.Start(probe);
  line.Put(" cmd=0x");
  line.Hex2(code);
  line.Put(" len=");
  line.Decimal(static_cast<uint64_t>(length));
  line.Put("\n");
  WriteLine(fd_, line);
}

void EventLog::Data(int probe, int length, bool stopMarker) const {
  if (fd_ < 0) return;
  Line line;
  line.Start(probe);
  line.Put(" data len=");
  line.Decimal(static_cast<uint64_t>(length));
  line.Put(stopMarker ? " stop\n" : "\n");
  WriteLine(fd_, line);
}

void EventLog::Apply(int probe, bool high) const {
  if (fd_ < 0) return;
  Line line;
  line.Start(probe);
  line.Put(high ? " apply=high\n" : " apply=low\n");
  WriteLine(fd_, line);
}

void EventLog::Board(int probe, const char* event, int serial) const {
  if (fd_ < 0) return;
  Line line;
  line.Start(probe);
  line.Put(" ");
  line.Put(event);
  if (serial >= 0) {
    line.Put(" board=");
    line.Decimal(static_cast<uint64_t>(serial));
  }
  line.Put("\n");
  WriteLine(fd_, line);
}

}  // namespace probesim
