// SPDX-License-Identifier: MIT
// The pin toggle job on one probe of the fake bench, run on the test's thread (STOP is pressed
// from the probe's command hook, as the GUI thread would between two commands).
#include "jobs/pin_toggle_job.h"

#include "job_fixture.h"

namespace zolt::testing {
namespace {

constexpr int kDevice = 4;

class PinToggleTest : public JobFixture {
 protected:
  PinToggleTest() {
    clock.step.store(1);  // every reading moves the clock by 1 ms, so delays end by themselves
    bench.Configure(kDevice, ProbeFor(kKelda));
    op.fields.productIndex = kKelda;
    op.interval = 25;
    ctx.settings.deviceSlots[kDevice].store(1);
    // Run control leaves the run starting while the job prepares.
    ctx.MoveTo(RunState::kStarting);
    op.buttonEvents.clear();
  }
  // Presses STOP when the probe receives the `count`-th command `code`; `also` runs on every
  // command before that check.
  void StopAt(uint8_t code, int count, std::function<void(uint8_t)> also = nullptr) {
    // The bench copies its hook for every call, so the count lives outside the lambda.
    auto seen = std::make_shared<std::atomic<int>>(0);
    bench.OnCommand([this, code, count, seen, also](int, uint8_t c) {
      if (also) also(c);
      if (c == code && ++*seen == count) ctx.stopRequested.store(1);
    });
  }
  std::vector<FakeEvent> Applies() const {
    std::vector<FakeEvent> out;
    for (const FakeEvent& e : bench.Events(kDevice)) {
      if (e.text == "cmd=0x22" || e.text == "cmd=0x23") out.push_back(e);
    }
    return out;
  }
};

TEST_F(PinToggleTest, LoadsThePatternsThenAlternatesAtTheIntervalUntilStop) {
  // STOP during the third high half; the slider moved once toggling runs must not change the
  // half-period the job read at its start.
  StopAt(0x22, 3, [this](uint8_t c) {
    if (c == 0x22) op.interval = 400;
  });
  TakeRequest();
  PinToggleJob(ctx);
  EXPECT_EQ(op.firmwareVersion, " 2.12");
  EXPECT_EQ(op.bootloaderVersion, FakeProbeConfig{}.bootloader);

  const auto events = bench.Events(kDevice);
  std::vector<std::string> setUp;
  for (size_t i = 0; i < 6; ++i) setUp.push_back(events[i].text);
  EXPECT_EQ(setUp, (std::vector<std::string>{"cmd=0x98", "cmd=0x08", "cmd=0x04", "cmd=0x12", "cmd=0x20",
                                             "cmd=0x21"}));
  EXPECT_EQ(events[3].bytes.size(), 3u + 298u);  // KELDA's whole boundary image
  EXPECT_EQ(events[4].bytes.size(), 3u + 298u);
  EXPECT_EQ(events[5].bytes.size(), 3u + 298u);

  // High, low, high, low, high, low: the stop during the third high half still runs its low half.
  const auto applies = Applies();
  ASSERT_EQ(applies.size(), 6u);
  for (size_t i = 0; i < applies.size(); ++i) {
    EXPECT_EQ(applies[i].text, i % 2 == 0 ? "cmd=0x22" : "cmd=0x23");
    if (i > 0) {
      const uint32_t gap = applies[i].ms - applies[i - 1].ms;
      EXPECT_GT(gap, 25u);  // more than the interval
      EXPECT_LE(gap, 25u + 4u);
    }
  }
  EXPECT_EQ(op.Log(), "  Start Pin Toggling.\r\n  Stop Pin Toggling.\r\n\r\n");
  EXPECT_EQ(op.buttonEvents, (std::vector<std::string>{"state:toggling", "state:idle"}));
  EXPECT_EQ(ctx.stopRequested.load(), 0);
  EXPECT_FALSE(bench.IsOpen(kDevice));
  EXPECT_EQ(ctx.outcome.load(), RunOutcome::kToggleStopped);
  EXPECT_EQ(bench.Commands(kDevice).back(), "cmd=0x23");  // left driving the low pattern
}

TEST_F(PinToggleTest, EveryEarlyEndGivesTheRunButtonBack) {
  struct Case {
    const char* name;
    std::function<void(FakeProbeConfig&)> change;
    std::vector<std::string> messages;
    const char* log;
    std::vector<std::string> codes;
  };
  const Case cases[] = {
      {"no probe", [](FakeProbeConfig& p) { p.present = false; }, {"  DEVICE #4: Cannot open\r\n"}, "", {}},
      {"old firmware",
       [](FakeProbeConfig& p) { p.firmware = "02.11"; },
       {"DEVICE #4: Sorry, upgrate firmware of USB JTAG"},
       "",
       {"cmd=0x98"}},
      {"no extest",
       [](FakeProbeConfig& p) { p.failReadCode = 0x04; },
       {},
       "DEVICE #4: Cannot SET EXTEST",
       {"cmd=0x98", "cmd=0x08", "cmd=0x04"}},
      {"no boundary data",
       [](FakeProbeConfig& p) { p.nakCode = 0x12; },
       {},
       "Cannot INIT BOUNDARY Data",
       {"cmd=0x98", "cmd=0x08", "cmd=0x04", "cmd=0x12"}},
      {"no high pattern",
       [](FakeProbeConfig& p) { p.nakCode = 0x20; },
       {"Cannot Read 'SET HIGH Bounary' Response"},
       "",
       {"cmd=0x98", "cmd=0x08", "cmd=0x04", "cmd=0x12", "cmd=0x20"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench.Reset();
    FakeProbeConfig config = ProbeFor(kKelda);
    c.change(config);
    bench.Configure(kDevice, config);
    RecordingOperator fresh;
    JobContext job(fresh, clock);
    job.MoveTo(RunState::kStarting);
    job.link = ctx.link;
    job.request.productIndex = kKelda;
    job.settings.deviceSlots[kDevice].store(1);
    PinToggleJob(job);
    EXPECT_EQ(fresh.Messages(), c.messages);
    EXPECT_EQ(fresh.Log(), c.log);
    EXPECT_EQ(bench.Commands(kDevice), c.codes);
    EXPECT_FALSE(bench.IsOpen(kDevice));
    EXPECT_EQ(fresh.buttonEvents, (std::vector<std::string>{"state:starting", "state:idle"}));
    EXPECT_EQ(job.outcome.load(), RunOutcome::kToggleFailed);
  }
}

TEST_F(PinToggleTest, UnreadableBootloaderShowsUnknownAndTogglingStarts) {
  bench.Configure(kDevice, [] {
    FakeProbeConfig c = ProbeFor(kKelda);
    c.bootloader = "";
    return c;
  }());
  StopAt(0x22, 1);
  TakeRequest();
  PinToggleJob(ctx);
  EXPECT_EQ(op.bootloaderVersion, "Unknown");
  EXPECT_EQ(Applies().size(), 2u);
}

TEST_F(PinToggleTest, NoMarkedSlotEndsAtOnceWithoutProbeCalls) {
  ctx.settings.deviceSlots[kDevice].store(0);
  TakeRequest();
  PinToggleJob(ctx);
  EXPECT_EQ(bench.OpenCount(kDevice), 0);
  EXPECT_EQ(op.Log(), "");
  EXPECT_EQ(op.buttonEvents, (std::vector<std::string>{"state:idle"}));
}

}  // namespace
}  // namespace zolt::testing
