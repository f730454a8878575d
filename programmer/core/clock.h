// SPDX-License-Identifier: MIT
// Millisecond tick source, in place of GetTickCount: monotonic, wraps at 2^32 ms.
// Injectable so that long elapsed times can be tested without waiting.
#pragma once

#include <chrono>
#include <cstdint>

namespace zolt {

class TickClock {
 public:
  virtual ~TickClock() = default;
  // Milliseconds on a monotonic clock. Any thread; never blocks.
  virtual uint32_t NowMs() const = 0;
};

class SteadyTickClock final : public TickClock {
 public:
  uint32_t NowMs() const override {
    using namespace std::chrono;
    return static_cast<uint32_t>(duration_cast<milliseconds>(steady_clock::now().time_since_epoch()).count());
  }
};

// The process's real clock.
inline const TickClock& SystemTickClock() {
  static const SteadyTickClock clock;
  return clock;
}

}  // namespace zolt
