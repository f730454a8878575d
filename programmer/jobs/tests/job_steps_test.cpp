// SPDX-License-Identifier: MIT
// The tick delay of the pin toggle.
#include "jobs/job_steps.h"

#include <gtest/gtest.h>

namespace zolt {
namespace {

// A tick source that moves one millisecond each time it is read, starting near the wrap.
class SteppingClock : public TickClock {
 public:
  explicit SteppingClock(uint32_t start) : now_(start) {}
  uint32_t NowMs() const override { return now_++; }
  int reads() const { return static_cast<int>(now_ - start_); }

 private:
  mutable uint32_t now_;
  uint32_t start_ = now_;
};

TEST(DelayMs, WaitsUntilMoreThanTheIntervalHasPassedAcrossTheWrap) {
  struct {
    int ms;
    uint32_t start;
    int reads;  // the first read notes the start; the wait ends on the read that sees ms + 1
  } cases[] = {{0, 0, 2}, {100, 0, 102}, {100, 0xFFFFFFC0, 102}, {500, 0xFFFFFFFF, 502}, {-5, 7, 2}};
  for (const auto& c : cases) {
    SteppingClock clock(c.start);
    DelayMs(clock, c.ms);
    EXPECT_EQ(clock.reads(), c.reads) << c.ms << " from " << c.start;
  }
}

TEST(DelayMs, OnTheProcessClockReturnsAfterTheInterval) {
  const TickClock& clock = SystemTickClock();
  const uint32_t start = clock.NowMs();
  DelayMs(clock, 20);
  EXPECT_GT(clock.NowMs() - start, 20u);
}

}  // namespace
}  // namespace zolt
