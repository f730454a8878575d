// SPDX-License-Identifier: MIT
// BenchControl: a test's connection to the virtual bench's PROBESIM_CONTROL socket (docs/bench.md),
// so a station test can place and remove boards and unplug and plug probes in a few lines:
//
//   zolt::testing::BenchControl bench(socketPath);
//   ASSERT_EQ(bench.Send("attach fixture-1"), "ok");
//
// The bench replies only once the command has taken effect, so the next poll sees the change.
// No Qt, no test framework. Not thread-safe: one object per thread.
#pragma once

#include <chrono>
#include <string>

namespace zolt::testing {

class BenchControl {
 public:
  // Connects at the first Send (the bench may not be loaded yet when the object is made).
  explicit BenchControl(std::string socketPath, std::chrono::milliseconds timeout = std::chrono::seconds(5));
  ~BenchControl();
  BenchControl(const BenchControl&) = delete;
  BenchControl& operator=(const BenchControl&) = delete;

  // Sends `command` as one line and returns the bench's reply line without its line end: "ok" or
  // "error: <reason>". Blocks up to the time-out for the connection and again for the reply. When
  // no reply comes, returns "(no reply: <why>)" (no bench listening, the time-out, the bench
  // closed the connection) and connects afresh at the next Send. A command holding a line feed is
  // not sent: "(not sent: the command holds a line feed)".
  std::string Send(const std::string& command);

 private:
  bool Connect(std::string& why);
  void Disconnect();

  std::string path_;
  std::chrono::milliseconds timeout_;
  int fd_ = -1;
  std::string buffered_;  // bytes after the last reply line
};

}  // namespace zolt::testing
