// SPDX-License-Identifier: MIT
// SignalWatcher: SIGINT, SIGTERM and SIGHUP for zolt-flash, taken by one thread of its own with sigwait.
//
// The constructor blocks the three signals in the calling thread, so it must run on the main thread
// before any other thread exists: every thread started later (run control's jobs included)
// inherits the mask, and only the watcher ever receives the signals. The first signal calls
// `onFirst`; every further one calls `onSecond`, which is expected to end the process (it is not
// a signal handler, so it may lock, format and write files).
//
// Threads: the callbacks run on the watcher thread. The destructor stops and joins that thread;
// a callback already running is waited for.
#pragma once

#include <pthread.h>

#include <atomic>
#include <functional>
#include <thread>

namespace zolt::cli {

class SignalWatcher {
 public:
  SignalWatcher(std::function<void()> onFirst, std::function<void()> onSecond);
  ~SignalWatcher();
  SignalWatcher(const SignalWatcher&) = delete;
  SignalWatcher& operator=(const SignalWatcher&) = delete;

 private:
  void Watch();

  std::function<void()> onFirst_, onSecond_;
  std::atomic<bool> quitting_{false};
  std::thread thread_;
};

}  // namespace zolt::cli
