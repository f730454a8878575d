// SPDX-License-Identifier: MIT
#include "cli/signal_watcher.h"

#include <signal.h>

namespace zolt::cli {
namespace {

// SIGHUP (the terminal closed, the SSH session dropped) is a stop request as SIGINT and SIGTERM
// are: dying mid-download would leave the board half written without a stop marker or summary.
// SIGUSR1 only wakes the watcher when it is told to quit.
sigset_t WatchedSignals() {
  sigset_t set;
  sigemptyset(&set);
  sigaddset(&set, SIGINT);
  sigaddset(&set, SIGTERM);
  sigaddset(&set, SIGHUP);
  sigaddset(&set, SIGUSR1);
  return set;
}

}  // namespace

SignalWatcher::SignalWatcher(std::function<void()> onFirst, std::function<void()> onSecond)
    : onFirst_(std::move(onFirst)), onSecond_(std::move(onSecond)) {
  sigset_t set = WatchedSignals();
  pthread_sigmask(SIG_BLOCK, &set, nullptr);
  thread_ = std::thread([this] { Watch(); });
}

SignalWatcher::~SignalWatcher() {
  quitting_ = true;
  pthread_kill(thread_.native_handle(), SIGUSR1);
  thread_.join();
}

void SignalWatcher::Watch() {
  const sigset_t set = WatchedSignals();
  int count = 0;
  for (;;) {
    int signal = 0;
    if (sigwait(&set, &signal) != 0) continue;
    if (signal == SIGUSR1) {
      if (quitting_) return;
      continue;
    }
    if (++count == 1) {
      onFirst_();
    } else {
      onSecond_();
    }
  }
}

}  // namespace zolt::cli
