// SPDX-License-Identifier: MIT
// StopWatchdog: after a stop request the run must end within a bounded time, or zolt-flash ends
// it. `timeout` sends one SIGTERM and then waits; a run that never ended would keep it waiting.
//
// kStopWatchdog is what a run can take, from a stop request to its end, when every exchange of the
// probe protocol waits its full time-out (docs/cli.md, "Stopping", shows the sum): identification
// still under way, then a job's file in progress and the two further files, each stopped at its
// first block, and the JTAG reset.
//
// Threads: the watchdog owns one thread, started by the constructor and joined by the destructor
// (which cancels a pending expiry). Arm may be called from any thread; the first call counts.
// `onExpired` runs on the watchdog's thread and is expected to end the process.
#pragma once

#include <chrono>
#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

namespace zolt::cli {

// Identification: 16 probes x 4 exchanges x (500 ms write + 500 ms read)                  64 s
// The file in progress: erase response 10 s, then the rest of its block and the stop block,
//   each a stalled chunk write (7 s) and a block response (14 s)                           52 s
// Two further files, each announced (500 ms), erased (10 s) and stopped at their first
//   block (7 s chunk, 14 s block response)                                                 63 s
// JTAG reset (500 ms write + 500 ms read)                                                   1 s
// Together 180 s; with a margin for a loaded machine:                                     200 s
inline constexpr std::chrono::milliseconds kStopWatchdog{200'000};

class StopWatchdog {
 public:
  StopWatchdog(std::chrono::milliseconds limit, std::function<void()> onExpired);
  ~StopWatchdog();
  StopWatchdog(const StopWatchdog&) = delete;
  StopWatchdog& operator=(const StopWatchdog&) = delete;

  // Starts the countdown (a stop was requested). Later calls change nothing.
  void Arm();
  std::chrono::milliseconds limit() const { return limit_; }

 private:
  void Watch();

  const std::chrono::milliseconds limit_;
  std::function<void()> onExpired_;
  std::mutex mu_;
  std::condition_variable wake_;
  std::optional<std::chrono::steady_clock::time_point> deadline_;
  bool quitting_ = false;
  std::thread thread_;
};

}  // namespace zolt::cli
