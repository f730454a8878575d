// SPDX-License-Identifier: MIT
// Run control over the fake bench, bound as a link library by path: binding, identification,
// the run's settings and log, the threads it starts, STOP, and the pin-toggle run.
#include "jobs/run_control.h"

#include <fcntl.h>
#include <unistd.h>

#include <future>
#include <thread>
#include <tuple>

#include "job_fixture.h"

namespace zolt::testing {
namespace {

class RunControlTest : public JobFixture {
 protected:
  RunControlTest() {
    options.libraryName = FAKE_VORLINK_PATH;
    options.clock = &clock;
    op.fields.productIndex = kKelda;
    op.fields.nandSelected = false;
    op.fields.norSelected = true;
    op.norType = 1;
    op.imagePath[0] = ImageFile(dir, "a.bin", 3000);
  }
  void Probes(std::initializer_list<int> devices, int product = kKelda) {
    for (int d : devices) {
      FakeProbeConfig config = ProbeFor(product);
      config.flashId = {0x1C, 0x4F, 0, 0};
      bench.Configure(d, config);
    }
  }
  // Presses RUN and waits for the run's threads.
  void Run(RunControl& control) {
    control.OnRun(op.Request());
    control.WaitForIdle();
    EXPECT_FALSE(control.IsRunning());
  }
  RunControlOptions options;
};

TEST_F(RunControlTest, MissingLibraryShowsBothBoxesAndLeavesRunEnabled) {
  options.libraryName = dir.path() + "/libVorlink.so";
  RunControl control(op, options);
  for (int press = 1; press <= 2; ++press) {
    control.OnRun(op.Request());
    const auto messages = op.Messages();
    ASSERT_EQ(messages.size(), 2u * press);
    EXPECT_EQ(op.ErrorMessages().size(), static_cast<size_t>(press));
    EXPECT_EQ(messages.back(), "Cannot load 'libVorlink.so'");
    EXPECT_EQ(op.ShownRunState(), RunState::kIdle);
    EXPECT_EQ(control.LastOutcome(), RunOutcome::kNotStarted);
  }
}

TEST_F(RunControlTest, VerifyIsReadLiveAtEachAnnouncementAndThePagesOnceAtRun) {
  Probes({0});
  op.multiDevice = false;
  op.imageEnabled = {true, true, false};
  op.imagePath[1] = ImageFile(dir, "b.bin", 100, 9);
  RunControl control(op, options);
  control.SetVerify(false);
  int announcements = 0;
  // While the first file streams the operator ticks Verify and changes the second slot's block
  // text: the tick reaches the second announcement, the block text does not.
  bench.OnCommand([&](int, uint8_t code) {
    if (code == 0x18 && ++announcements == 1) {
      control.SetVerify(true);
      op.imageBlock[1] = 9;
    }
  });
  Run(control);
  bench.OnCommand(nullptr);
  const auto files = bench.Files(0);
  ASSERT_EQ(files.size(), 2u);
  EXPECT_EQ(files[0].dataInfo[15], 0);
  EXPECT_EQ(files[1].dataInfo[15], 1);
  EXPECT_EQ(files[1].dataInfo[7], 1);  // block 1, as RUN found it
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
}

TEST_F(RunControlTest, SingleDeviceRunProgramsTheFirstMatchingProbeOnly) {
  Probes({0, 3});
  op.multiDevice = false;
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(bench.OpenCount(3), 0);  // identification stopped at index 0
  EXPECT_EQ(bench.Files(0).size(), 1u);
  EXPECT_EQ(op.Log(),
            "[Download to NOR FLASH]\r\n"
            "  **** NOR FLASH SETTING ********************************\r\n"
            "  NAME: EN29LV040A\r\n"
            "  WIDTH: 8\r\n"
            "  INTERLEAVE: 1\r\n"
            "  **********************************************************\r\n"
            "  JTAG ID: 0x00AECADD\r\n"
            "  DEVICE #0: Maker ID(0x001C) Device ID(0x004F)\r\n"
            "  DEVICE #0: Downloading to sector #0 (a.bin)\r\n"
            "  DEVICE #0: Downloading done.(0[s], a.bin)\r\n"
            "\r\n"
            "\r\n");
  EXPECT_EQ(op.deviceCells[0], "100%");
  EXPECT_EQ(op.deviceCells[3], "NO");
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  EXPECT_EQ(op.progressPos, 100);
  // The bar starts the run at 0 and counts percent, without steps.
  EXPECT_EQ(op.progressPositions.front(), 0);
  EXPECT_EQ(std::make_tuple(op.progressLower, op.progressUpper, op.progressStep), std::make_tuple(0, 100, 0));
  EXPECT_EQ(op.ShownRunState(), RunState::kIdle);
  EXPECT_TRUE(op.runSettingControlsEnabled);
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
}

TEST_F(RunControlTest, MultiDeviceRunProgramsEveryMatchingProbeSideBySide) {
  Probes({0, 3, 7, 12});
  op.multiDevice = true;
  // A probe that is not of this system, and one on another product's target.
  FakeProbeConfig stranger = ProbeFor(kKelda);
  stranger.firmwarePrefix = "ACME USB JTAG";
  bench.Configure(1, stranger);
  bench.Configure(2, ProbeFor(kOko));
  op.imageEnabled = {true, true, false};
  op.imagePath[1] = ImageFile(dir, "b.bin", 5000, 9);
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(op.deviceStates, (std::array<uint8_t, 16>{1, 0, 0, 1, 0, 0, 0, 1, 0, 0, 0, 0, 1, 0, 0, 0}));
  for (int d : {0, 3, 7, 12}) {
    SCOPED_TRACE(d);
    const auto files = bench.Files(d);
    ASSERT_EQ(files.size(), 2u);
    EXPECT_EQ(files[0].bytes, Contents(op.imagePath[0]));
    EXPECT_EQ(files[1].bytes, Contents(op.imagePath[1]));
    EXPECT_NE(op.Log().find("  DEVICE #" + std::to_string(d) + ": Downloading done.(0[s], b.bin)"),
              std::string::npos);
  }
  EXPECT_EQ(bench.Commands(1), std::vector<std::string>{"cmd=0x98"});  // closed and skipped quietly
  EXPECT_EQ(op.TotalSentBytes(), 4u * 8000u);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  EXPECT_EQ(op.progressPos, 100);
}

TEST_F(RunControlTest, StopRequestedBetweenRunsDoesNotStopTheNextRun) {
  Probes({0});
  RunControl control(op, options);
  control.RequestStop();
  Run(control);
  EXPECT_EQ(op.Log().find("Download stopping"), std::string::npos);
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
}

TEST_F(RunControlTest, JobsOfProbesAt2And5NameTheirDevices) {
  Probes({2, 5});
  FakeProbeConfig failing = ProbeFor(kKelda);
  failing.flashId = {0x1C, 0x4F, 0, 0};
  failing.blockResponses[1] = {0x55, 0x00, 0x08, 0x00, 0x00};
  bench.Configure(5, failing);
  RunControl control(op, options);
  Run(control);
  const std::string log = op.Log();
  EXPECT_NE(log.find("  DEVICE #2: Downloading done."), std::string::npos);
  EXPECT_NE(log.find("\r\n  DEVICE #5: WRITE ERROR, ADDR: 0x00000800\r\n"), std::string::npos);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"WRITE ERROR"});  // and no "Download Complete !"
  EXPECT_LT(op.progressPos, 100);
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kFailed);
}

TEST_F(RunControlTest, FailureExitsShowTheirBoxAndLeaveRunEnabled) {
  struct Case {
    const char* name;
    std::function<void()> setUp;
    const char* message;
    const char* log;
  };
  const Case cases[] = {
      {"no probe", [] {}, "Cannot Found Valid Device or JTAG ID", "[Download to NAND FLASH]\r\n"},
      {"other product", [this] { bench.Configure(0, ProbeFor(kVtn3300)); },
       "Cannot Found Valid Device or JTAG ID", "[Download to NAND FLASH]\r\n"},
      {"no image paths",
       [this] {
         Probes({0});
         op.imagePath = {};
       },
       "Cannot open image files", "[Download to NAND FLASH]\r\n  JTAG ID: 0x00AECADD\r\n"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench.Reset();
    TestOperator fresh;
    fresh.fields.productIndex = kKelda;
    fresh.fields.nandSelected = true;
    fresh.fields.norSelected = false;
    fresh.imagePath = op.imagePath;
    c.setUp();
    fresh.imagePath = op.imagePath;
    RunControl control(fresh, options);
    control.OnRun(fresh.Request());
    EXPECT_FALSE(control.IsRunning());
    EXPECT_EQ(fresh.Messages(), std::vector<std::string>{c.message});
    EXPECT_EQ(fresh.Log(), c.log);
    EXPECT_EQ(fresh.buttonEvents, (std::vector<std::string>{"state:starting", "state:idle"}));
    EXPECT_FALSE(bench.IsOpen(0));
    EXPECT_EQ(control.LastOutcome(), RunOutcome::kNotStarted);
  }
}

TEST_F(RunControlTest, TarvisLogsNoNorBlockAndForcesNorType0) {
  Probes({0}, kTarvis);
  op.fields.productIndex = kTarvis;
  op.norType = 5;
  RunControl control(op, options);
  Run(control);
  EXPECT_TRUE(op.Log().starts_with("[Download to NOR FLASH]\r\n  JTAG ID: 0x0022F3A1\r\n"));
  bool sawFlashId = false;
  for (const FakeEvent& e : bench.Events(0)) {
    if (e.text == "cmd=0x14") {
      EXPECT_EQ(e.bytes, (std::vector<uint8_t>{0x14, 0x22, 0, 8, 1}));
      sawFlashId = true;
    }
  }
  EXPECT_TRUE(sawFlashId);
}

TEST_F(RunControlTest, NandRunHasNoNorWidthsButStillTakesTheOffset) {
  FakeProbeConfig config = ProbeFor(kKelda);
  config.flashId = {0xEC, 0x75, 0, 0};
  bench.Configure(0, config);
  op.fields.nandSelected = true;
  op.fields.norSelected = false;
  op.offset = 0x00123400;
  RunControl control(op, options);
  Run(control);
  EXPECT_TRUE(op.Log().starts_with("[Download to NAND FLASH]\r\n  JTAG ID: 0x00AECADD\r\n"));
  const auto files = bench.Files(0);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].dataInfo[2], 0x21);
  EXPECT_EQ(files[0].dataInfo[4], 0x34);  // norOffset, little-endian from byte 3
  EXPECT_EQ(files[0].dataInfo[5], 0x12);
  for (const FakeEvent& e : bench.Events(0)) {
    if (e.text == "cmd=0x14") {
      EXPECT_EQ(e.bytes, (std::vector<uint8_t>{0x14, 0x21, 0, 0, 0}));
    }
  }
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
}

TEST_F(RunControlTest, EnabledImagesThatCannotCountGiveAZeroTotalAndTheRunStillEnds) {
  Probes({0});
  op.imageEnabled = {false, false, false};
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(op.progressPos, 100);
  EXPECT_EQ(bench.Files(0).size(), 0u);
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
}

TEST_F(RunControlTest, ImageOf4GiBIsRefusedAndTheRunFails) {
  Probes({0});
  const std::string huge = dir.path() + "/huge.bin";
  const int fd = ::open(huge.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 32), 0);
  ::close(fd);
  op.imageEnabled = {true, true, false};
  op.imagePath[1] = huge;
  RunControl control(op, options);
  Run(control);
  EXPECT_NE(op.Log().find("  DEVICE #0: '" + huge + "' is too large (4 GiB or more)\r\n"), std::string::npos);
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_EQ(op.progressPos, 100);  // the total counted only the first image
  EXPECT_EQ(control.RunTotalBytes(), 3000u);  // a.bin once, for the one probe
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kFailed);
}

TEST_F(RunControlTest, StopPressedMidFileStopsEveryJob) {
  Probes({0, 1});
  op.imagePath[0] = ImageFile(dir, "big.bin", 64 * 1024);
  // The probes hold their announcement until STOP has been pressed.
  std::promise<void> pressed;
  std::shared_future<void> stop = pressed.get_future().share();
  bench.OnCommand([stop](int, uint8_t code) {
    if (code == 0x18) stop.wait();
  });
  RunControl control(op, options);
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([this] { return op.StopOffered(); }));
  control.OnRun(op.Request());  // the press of STOP
  EXPECT_FALSE(op.runEnabled.load());
  pressed.set_value();
  control.WaitForIdle();
  const std::string log = op.Log();
  EXPECT_NE(log.find("  DEVICE #0: Download stopping, Please wait ... \r\n"), std::string::npos);
  EXPECT_NE(log.find("  DEVICE #1: Download stopping, Please wait ... \r\n"), std::string::npos);
  EXPECT_TRUE(log.ends_with("  Download stop is OK.\r\n\r\n"));
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_LT(bench.Files(0)[0].bytes.size(), 64u * 1024u);
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kStopped);
  EXPECT_EQ(op.buttonEvents,
            (std::vector<std::string>{"state:starting", "state:running", "settings:0", "state:stopping",
                                      "state:ending", "settings:1", "state:idle"}));
}

TEST_F(RunControlTest, PinToggleRunKeepsRunDisabledUntilTogglingBegins) {
  Probes({1, 2});
  op.pinToggle = true;
  op.interval = 1;
  clock.step.store(1);
  // The button's state when the job's first command reaches the probe.
  auto enabledAtStart = std::make_shared<std::atomic<int>>(-1);
  bench.OnCommand([this, enabledAtStart](int, uint8_t code) {
    if (code == 0x98 && enabledAtStart->load() == -1) enabledAtStart->store(op.runEnabled.load() ? 1 : 0);
  });
  RunControl control(op, options);
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([this] { return op.StopOffered(); }));
  EXPECT_EQ(enabledAtStart->load(), 0);
  control.OnRun(op.Request());  // STOP
  control.WaitForIdle();
  EXPECT_TRUE(
      op.Log().starts_with("[Toggling All PINs]\r\n  JTAG ID: 0x00AECADD\r\n  Start Pin Toggling.\r\n"));
  EXPECT_TRUE(op.Log().ends_with("  Stop Pin Toggling.\r\n\r\n"));
  EXPECT_EQ(bench.OpenCount(2), 0);  // the first matching probe only
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kToggleStopped);
  EXPECT_EQ(op.buttonEvents,
            (std::vector<std::string>{"state:starting", "state:toggling", "state:stopping", "state:idle"}));
}

TEST_F(RunControlTest, PinToggleIsOnlyForProductsThatMayToggle) {
  Probes({0}, kSolant);
  op.fields.productIndex = kSolant;
  op.pinToggle = true;
  RunControl control(op, options);
  Run(control);
  EXPECT_TRUE(op.Log().starts_with("[Download to NOR FLASH]\r\n"));
}

TEST_F(RunControlTest, DestroyingRunControlStopsAndJoinsARunningToggle) {
  Probes({0});
  op.pinToggle = true;
  op.interval = 1;
  clock.step.store(1);
  {
    RunControl control(op, options);
    control.OnRun(op.Request());
    ASSERT_TRUE(WaitUntil([this] { return op.StopOffered(); }));
  }
  EXPECT_TRUE(op.Log().ends_with("  Stop Pin Toggling.\r\n\r\n"));
  EXPECT_FALSE(bench.IsOpen(0));
}

}  // namespace
}  // namespace zolt::testing
