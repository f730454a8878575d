// SPDX-License-Identifier: MIT
// Run control's transfers-in-flight switch against link libraries bound by path, with and without
// the WriteChunks export: the run's log, boxes and flash are the same whichever way it streams, and
// only a library without the export makes run control report that it streams as usual.

#include "job_fixture.h"
#include "jobs/run_control.h"

namespace zolt::testing {
namespace {

struct Outcome {
  std::string log;
  std::vector<std::string> messages;
  std::vector<std::string> events;
  std::vector<std::vector<uint8_t>> flashed;
  std::vector<int> chunkCalls;
  int unavailable = 0;  // calls of onTransfersInFlightUnavailable
  RunOutcome outcome = RunOutcome::kNone;
};

class RunControlInFlightTest : public JobFixture {
 protected:
  Outcome RunWith(const char* library, bool inFlight, bool nand) {
    bench.Reset();
    bench.SetClock(&clock);
    for (int d : {4}) {
      FakeProbeConfig config = ProbeFor(kKelda);
      config.flashId =
          nand ? std::array<uint16_t, 4>{0xEC, 0xDA, 0, 0x15} : std::array<uint16_t, 4>{0x1C, 0x4F, 0, 0};
      bench.Configure(d, config);
    }
    TestOperator view;
    view.fields.productIndex = kKelda;
    view.fields.nandSelected = nand;
    view.fields.norSelected = !nand;
    view.norType = 1;
    view.imageEnabled = {true, true, false};
    view.imagePath[0] = image1;
    view.imagePath[1] = image2;
    view.imagePath[2] = "";
    Outcome out;
    RunControlOptions options;
    options.libraryName = library;
    options.clock = &clock;
    options.transfersInFlight = inFlight;
    options.onTransfersInFlightUnavailable = [&out] { ++out.unavailable; };
    {
      RunControl control(view, options);
      control.OnRun(view.Request());
      control.WaitForIdle();
      out.outcome = control.LastOutcome();
    }
    out.log = view.Log();
    out.messages = view.Messages();
    for (int d : {4}) {
      for (const FakeEvent& e : bench.Events(d)) out.events.push_back(std::to_string(d) + " " + e.text);
      for (const FakeFile& f : bench.Files(d)) out.flashed.push_back(f.bytes);
    }
    out.chunkCalls = bench.ChunkCalls();
    return out;
  }
  const std::string image1 = ImageFile(dir, "a.bin", 40001);
  const std::string image2 = ImageFile(dir, "b.bin", 2047, 5);
};

TEST_F(RunControlInFlightTest, StreamsInFlightOnlyWithTheExportAndTheSwitchAndSendsTheSame) {
  for (bool nand : {false, true}) {
    SCOPED_TRACE(nand ? "NAND" : "NOR");
    const Outcome plain = RunWith(FAKE_VORLINK_PATH, false, nand);
    ASSERT_EQ(plain.outcome, RunOutcome::kComplete) << plain.log;
    EXPECT_TRUE(plain.chunkCalls.empty());
    EXPECT_EQ(plain.unavailable, 0);
    EXPECT_EQ(plain.flashed.size(), 2u);  // two files

    struct Case {
      const char* name;
      const char* library;
      bool inFlight;
      bool usesChunks;
      int unavailable;
    };
    const Case cases[] = {
        {"export and switch", FAKE_VORLINK_CHUNKS_PATH, true, true, 0},
        {"export, switch off", FAKE_VORLINK_CHUNKS_PATH, false, false, 0},
        {"switch, no export", FAKE_VORLINK_PATH, true, false, 1},
    };
    for (const Case& c : cases) {
      SCOPED_TRACE(c.name);
      const Outcome run = RunWith(c.library, c.inFlight, nand);
      EXPECT_EQ(run.outcome, plain.outcome);
      EXPECT_EQ(run.log, plain.log);
      EXPECT_EQ(run.messages, plain.messages);
      EXPECT_EQ(run.events, plain.events);
      EXPECT_EQ(run.flashed, plain.flashed);
      EXPECT_EQ(!run.chunkCalls.empty(), c.usesChunks);
      EXPECT_EQ(run.unavailable, c.unavailable);
    }
  }
}

}  // namespace
}  // namespace zolt::testing
