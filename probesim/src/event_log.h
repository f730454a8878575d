// SPDX-License-Identifier: MIT
// PROBESIM_LOG: one line per event a probe's firmware sees, each appended with a single write() so
// that lines of probes served in parallel never mix. Formats without allocating.
#pragma once

#include <cstdint>
#include <string>

namespace probesim {

// Microseconds on the monotonic clock.
uint64_t MonotonicMicros();

class EventLog {
 public:
  EventLog() = default;
  // Opens `path` for appending; an empty path or a failed open leaves the log off (error() says
  // why). The path is opened without waiting (a FIFO without a reader would stop the bench) and
  // must be a regular file or a character device such as /dev/stderr.
  explicit EventLog(const std::string& path);
  ~EventLog();
  EventLog(const EventLog&) = delete;
  EventLog& operator=(const EventLog&) = delete;

  bool enabled() const { return fd_ >= 0; }
  const std::string& error() const { return error_; }
  // Thread-safe: each call is one write() on an O_APPEND descriptor.
  void Command(int probe, uint8_t code, int length) const;
  void Data(int probe, int length, bool stopMarker) const;
  void Apply(int probe, bool high) const;
  // "attach board=<serial>", "detach board=<serial>", "unplug", "plug", "hold", "release" (serial
  // < 0: none shown).
  void Board(int probe, const char* event, int serial) const;

 private:
  int fd_ = -1;
  std::string error_;
};

}  // namespace probesim
