// SPDX-License-Identifier: MIT
// What zolt-bench-gui's modes share: serving the GUI thread's event loop until a condition holds,
// percentiles, and a 10 ms timer on the GUI thread that records how late each of its ticks fires.
//
// Threads: GUI thread only.
#pragma once

#include <QEventLoop>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <vector>

namespace zolt::bench {

// Serves the GUI thread's event loop until `done` holds (checked every 20 ms) or `seconds` pass.
template <class Done>
bool Serve(Done done, int seconds) {
  QEventLoop loop;
  QTimer check;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  bool ok = false;
  QObject::connect(&check, &QTimer::timeout, [&] {
    if (done()) {
      ok = true;
      loop.quit();
    } else if (std::chrono::steady_clock::now() > deadline) {
      loop.quit();
    }
  });
  check.start(20);
  loop.exec();
  return ok;
}

inline double Percentile(std::vector<double> values, double p) {
  if (values.empty()) return 0;
  std::sort(values.begin(), values.end());
  const size_t i = std::min(values.size() - 1, size_t(p * double(values.size() - 1) + 0.5));
  return values[i];
}

// A precise 10 ms timer; `lateness` holds how many ms each tick came after the 10 ms since the
// previous one (or since Restart).
class LatenessTicker {
 public:
  LatenessTicker() {
    tick_.setTimerType(Qt::PreciseTimer);
    QObject::connect(&tick_, &QTimer::timeout, [this] {
      const auto now = std::chrono::steady_clock::now();
      lateness.push_back(
          std::max(0.0, std::chrono::duration<double, std::milli>(now - last_).count() - 10.0));
      last_ = now;
    });
  }
  void Start() { tick_.start(10); }
  void Stop() { tick_.stop(); }
  // Forgets the ticks so far; the next tick is measured from now.
  void Restart() {
    lateness.clear();
    last_ = std::chrono::steady_clock::now();
  }
  std::vector<double> lateness;

 private:
  QTimer tick_;
  std::chrono::steady_clock::time_point last_ = std::chrono::steady_clock::now();
};

}  // namespace zolt::bench
