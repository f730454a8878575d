// SPDX-License-Identifier: MIT
#include "cli/stop_watchdog.h"

namespace zolt::cli {

StopWatchdog::StopWatchdog(std::chrono::milliseconds limit, std::function<void()> onExpired)
    : limit_(limit), onExpired_(std::move(onExpired)), thread_([this] { Watch(); }) {}

StopWatchdog::~StopWatchdog() {
  {
    std::lock_guard lock(mu_);
    quitting_ = true;
  }
  wake_.notify_all();
  thread_.join();
}

void StopWatchdog::Arm() {
  {
    std::lock_guard lock(mu_);
    if (deadline_) return;
    deadline_ = std::chrono::steady_clock::now() + limit_;
  }
  wake_.notify_all();
}

void StopWatchdog::Watch() {
  std::unique_lock lock(mu_);
  wake_.wait(lock, [this] { return quitting_ || deadline_.has_value(); });
  const auto deadline = deadline_;
  if (quitting_) return;
  if (wake_.wait_until(lock, *deadline, [this] { return quitting_; })) return;
  lock.unlock();
  onExpired_();
}

}  // namespace zolt::cli
