// SPDX-License-Identifier: MIT
// End to end: run control and the jobs through the real libVorlink.so on bench files, with the
// probes' command orders read from PROBESIM_LOG and the flash files compared with the images.
//
// libVorlink.so reads its bench once, when it is loaded, so each test needs a process of its own
// (ctest runs every test alone); a test that finds another bench loaded skips itself.
#include <future>
#include <sstream>
#include <thread>

#include "job_fixture.h"
#include "jobs/run_control.h"
#include "testing/bench_events.h"
#include "testing/bench_files.h"

namespace zolt::testing {
namespace {

std::string& LoadedBench() {
  static std::string path;
  return path;
}

// An operator that can hold one job at a chosen byte count until the test lets it go on.
class HoldingOperator : public TestOperator {
 public:
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) override {
    TestOperator::UpdateFileProgress(device, file, sentBytes, fileSize);
    if (holdDevice == device && sentBytes == holdAt) {
      held.store(true);
      release.wait();
    }
  }
  int holdDevice = -1;
  uint32_t holdAt = 0;
  std::atomic<bool> held{false};
  std::shared_future<void> release;
};

class BenchRunTest : public ::testing::Test {
 protected:
  // Writes the bench file and points the library at it; false (test skipped) when this process
  // already loaded another bench.
  bool UseBench(const std::string& toml) {
    if (!LoadedBench().empty() && LoadedBench() != files.BenchPath()) return false;
    files.Use(toml, kWithEventLog);
    LoadedBench() = files.BenchPath();
    options.libraryName = VORLINK_PATH;
    return true;
  }
  // The events of probe `p` in PROBESIM_LOG: "0x98", "data 64", "data 18 stop", "apply=high".
  std::vector<std::string> Events(int p) const {
    std::vector<std::string> out;
    for (const BenchEvent& e : ReadBenchEvents(files.EventLogPath())) {
      if (e.probe != p) continue;
      std::istringstream fields(e.what);
      std::string what;
      fields >> what;
      if (what.rfind("cmd=", 0) == 0) {
        out.push_back(what.substr(4));
      } else if (what == "data") {
        std::string length, stop;
        fields >> length >> stop;
        out.push_back("data" + (stop.empty() ? std::string() : " stop"));
      } else {
        out.push_back(what);
      }
    }
    return out;
  }
  // Probe `p`'s events with runs of data chunks folded into one "data" (or "data stop" first).
  std::vector<std::string> Commands(int p) const {
    std::vector<std::string> out;
    for (const std::string& e : Events(p)) {
      if (e.rfind("data", 0) == 0 && !out.empty() && out.back().rfind("data", 0) == 0) continue;
      out.push_back(e);
    }
    return out;
  }
  std::vector<uint8_t> Flash(int p) const { return files.Flash(p); }
  void Run(RunControl& control) {
    control.OnRun(op.Request());
    control.WaitForIdle();
  }
  void Download(int product, bool nand, int norType = 0) {
    op.fields.productIndex = product;
    op.fields.nandSelected = nand;
    op.fields.norSelected = !nand;
    op.norType = norType;
    op.multiDevice = true;
  }

  ScratchDir dir{"zolt-jobs"};
  BenchFiles files{dir};
  HoldingOperator op;
  RunControlOptions options;
};

#define USE_BENCH(toml)                                                                       \
  do {                                                                                        \
    if (!UseBench(toml)) GTEST_SKIP() << "another bench is loaded; run this test on its own"; \
  } while (0)

const std::vector<std::string> kIdentify{"0x98", "0x01", "0x02", "0x11"};

std::vector<std::string> Join(std::vector<std::string> a, const std::vector<std::string>& b) {
  a.insert(a.end(), b.begin(), b.end());
  return a;
}

TEST_F(BenchRunTest, NorKeldaOnSeveralProbesSendsTheNorOrderAndPlacesTheImage) {
  USE_BENCH(BenchToml({BenchProbe(), BenchProbe(), BenchProbe()}));
  Download(kKelda, false, 1);
  const std::string a = ImageFile(dir, "a.bin", 5000, 3), b = ImageFile(dir, "b.bin", 100, 5);
  op.imageEnabled = {true, false, true};
  op.imagePath = {a, "", b};
  op.imageBlock = {2, 0, 5};
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  for (int p = 0; p < 3; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(Commands(p), Join(kIdentify, {"0x98", "0x08", "0x04", "0x12", "0x13", "0x15", "0x14", "0x16",
                                            "0x18", "data", "0x18", "data", "0x01"}));
    const auto flash = Flash(p);
    EXPECT_EQ(flash.size(), 512u * 1024u);
    EXPECT_TRUE(Holds(flash, 0x20000, Contents(a)));  // block 2 of 64 KiB sectors
    EXPECT_TRUE(Holds(flash, 0x50000, Contents(b)));
    EXPECT_EQ(flash[0x20000 + 5000], 0xFF);
    EXPECT_NE(op.Log().find("  DEVICE #" + std::to_string(p) + ": Downloading done.(0[s], b.bin)\r\n"),
              std::string::npos);
  }
  EXPECT_EQ(op.progressPos, 100);
}

TEST_F(BenchRunTest, NandOnSeveralProbesSendsTheNandOrderAndPlacesTheImageByBlock) {
  USE_BENCH(BenchToml(
      {BenchProbe("KELDA", "K9F5608"), BenchProbe("OKO", "K9F5608"), BenchProbe("KELDA", "K9F5608")}));
  Download(kKelda, true);
  const std::string image = ImageFile(dir, "nand.bin", 2048 * 3 + 17);
  op.imagePath[0] = image;
  op.imageBlock[0] = 3;
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  for (int p : {0, 2}) {
    SCOPED_TRACE(p);
    EXPECT_EQ(Commands(p), Join(kIdentify, {"0x98", "0x08", "0x04", "0x12", "0x13", "0x14", "0x15", "0x18",
                                            "data", "0x01"}));
    EXPECT_TRUE(Holds(Flash(p), 3 * 0x4000, Contents(image)));
  }
  EXPECT_EQ(Commands(1), kIdentify);  // the OKO board is not a KELDA
  // The maker line and the part line are two appends, so another job's line may stand between them.
  for (int p : {0, 2}) {
    EXPECT_NE(op.Log().find("  DEVICE #" + std::to_string(p) + ": Maker ID(0x00EC) Device ID(0x0075)\r\n"),
              std::string::npos);
  }
  size_t partLines = 0;
  for (size_t at = op.Log().find(" 5608, Block Size: 0x4000\r\n"); at != std::string::npos;
       at = op.Log().find(" 5608, Block Size: 0x4000\r\n", at + 1)) {
    ++partLines;
  }
  EXPECT_EQ(partLines, 2u);
}

TEST_F(BenchRunTest, NorTarvisGoesThroughDebugModeBeforeTheFlashDescription) {
  USE_BENCH(BenchToml({BenchProbe("TARVIS", "EN29LV010A")}));
  Download(kTarvis, false);
  const std::string image = ImageFile(dir, "t.bin", 4096);
  op.imagePath[0] = image;
  op.imageBlock[0] = 1;
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  EXPECT_EQ(Commands(0), Join(kIdentify, {"0x98", "0x08", "0x04", "0x03", "0x05", "0x05", "0x05", "0x07",
                                          "0x06", "0x15", "0x14", "0x16", "0x18", "data", "0x01"}));
  EXPECT_TRUE(Holds(Flash(0), 0x4000, Contents(image)));  // EN29LV010A: 16 KiB sectors

  // An empty image: announced with size 0, one empty chunk, its block response, 100 %.
  op.imagePath[0] = ImageFile(dir, "empty.bin", 0);
  Run(control);
  EXPECT_NE(op.Log().find("  DEVICE #0: Downloading done.(0[s], empty.bin)\r\n"), std::string::npos);
  EXPECT_EQ(op.deviceCells[0], "100%");
  EXPECT_EQ(op.progressPos, 100);
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
}

TEST_F(BenchRunTest, IdentificationMarksOnlyGoodProbesOfTheProduct) {
  USE_BENCH(
      BenchToml({BenchProbe().Fault("firmware_prefix = \"ACME USB JTAG\""), BenchProbe("OKO", "K9F5608"),
                 BenchProbe(), BenchProbe("custom", "none").Key("jtag_id = 0x12345678"),
                 BenchProbe().Key("firmware = \" 2.11\""), BenchProbe()}));
  Download(kKelda, false, 1);
  op.imagePath[0] = ImageFile(dir, "a.bin", 300);
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(op.deviceStates, (std::array<uint8_t, 16>{0, 0, 1, 0, 1, 1}));
  EXPECT_EQ(Commands(0), std::vector<std::string>{"0x98"});  // wrong prefix: closed and skipped quietly
  const std::string log = op.Log();
  EXPECT_NE(log.find("  DEVICE #2: Downloading done."), std::string::npos);
  EXPECT_NE(log.find("  DEVICE #5: Downloading done."), std::string::npos);
  // Firmware 2.11 passes identification (any version) but not the job's check.
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"DEVICE #4: Sorry, upgrate firmware of USB JTAG"});
  EXPECT_EQ(Commands(4), Join(kIdentify, {"0x98"}));
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kFailed);
}

TEST_F(BenchRunTest, SingleDeviceRunTakesTheFirstMatchingProbeOnly) {
  USE_BENCH(
      BenchToml({BenchProbe(), BenchProbe("OKO", "K9F5608"), BenchProbe("OKO", "K9F5608"), BenchProbe()}));
  Download(kKelda, false, 1);
  op.multiDevice = false;
  op.imagePath[0] = ImageFile(dir, "a.bin", 300);
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(Commands(3), std::vector<std::string>{});  // never opened
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  op.multiDevice = true;
  Run(control);
  EXPECT_EQ(op.deviceStates, (std::array<uint8_t, 16>{1, 0, 0, 1}));
  EXPECT_TRUE(Holds(Flash(3), 0, Contents(op.imagePath[0])));
}

TEST_F(BenchRunTest, SolantWithoutBootloaderWarnsAndStillDownloads) {
  USE_BENCH(BenchToml({BenchProbe("SOLANT").Key("bootloader = \"none\"")}));
  Download(kSolant, false, 1);
  const std::string image = ImageFile(dir, "s.bin", 1000);
  op.imagePath[0] = image;
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(op.bootloaderVersion, "Unknown");
  EXPECT_NE(op.Log().find("  Sorry, Your USB JTAG is not support Source Level Debugging\r\n"),
            std::string::npos);
  EXPECT_EQ(op.Messages(), (std::vector<std::string>{"Cannot Read 'Get BootloaderFirmware Version' Response",
                                                     "Download Complete !"}));
  EXPECT_TRUE(Holds(Flash(0), 0, Contents(image)));
}

TEST_F(BenchRunTest, EveryNorErrorCodeIsReportedWithItsDeviceAndAddress) {
  USE_BENCH(
      BenchToml({BenchProbe().Fault("bad_sectors = [0x10000]"), BenchProbe().Fault("program_fail = [0x0123]"),
                 BenchProbe().Fault("stuck_bits = [{ address = 0x0901, mask = 0x01 }]"),
                 BenchProbe().Fault("read_fault = [0x1000]")}));
  Download(kKelda, false, 1);
  op.imagePath[0] = ImageFile(dir, "a.bin", 0x20000, 1);  // byte 0x901 is 0xA4: its stuck bit 0 stays 1
  RunControl control(op, options);
  Run(control);
  const std::string log = op.Log();
  EXPECT_NE(log.find("\r\n  DEVICE #0: ERASE ERROR, ADDR: 0x00010000\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n  DEVICE #1: WRITE ERROR, ADDR: 0x00000123\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n  DEVICE #2: VERIFY ERROR, ADDR: 0x00000901\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n  DEVICE #3: READ ADDR: 0x00001000\r\n"), std::string::npos);
  auto boxes = op.Messages();
  std::sort(boxes.begin(), boxes.end());
  EXPECT_EQ(boxes, (std::vector<std::string>{"ERASE ERROR", "READ ERROR", "VERIFY ERROR", "WRITE ERROR"}));
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kFailed);

  // The same boards: a start off a sector boundary, then a range beyond the flash.
  op.Append("--\r\n");
  op.offset = 0x1000;
  op.imagePath[0] = ImageFile(dir, "small.bin", 100);
  Run(control);
  op.offset = 0;
  op.imageBlock[0] = 8;
  Run(control);
  const std::string after = op.Log().substr(op.Log().find("--\r\n"));
  EXPECT_NE(after.find("\r\n  DEVICE #1: ERROR, Not aligned Sector boundary\r\n"), std::string::npos);
  EXPECT_NE(after.find("\r\n  DEVICE #1: Overflow of flash size\r\n"), std::string::npos);
}

TEST_F(BenchRunTest, NandErrorCodesAreReportedWithTheirAddress) {
  USE_BENCH(BenchToml({BenchProbe("KELDA", "K9F5608").Fault("bad_blocks = [1]"),
                       BenchProbe("KELDA", "K9F5608").Fault("program_fail = [0x4200]")}));
  Download(kKelda, true);
  op.imagePath[0] = ImageFile(dir, "n.bin", 0x8000);
  op.imageBlock[0] = 1;
  RunControl control(op, options);
  Run(control);
  const std::string log = op.Log();
  EXPECT_NE(log.find("\r\n  DEVICE #0: ERASE ERROR, ADDR: 0x00004000\r\n"), std::string::npos);
  EXPECT_NE(log.find("\r\n  DEVICE #1: WRITE ERROR, ADDR: 0x00004200\r\n"), std::string::npos);
}

TEST_F(BenchRunTest, StopMidFileEndsEveryJobWithTheStopMarker) {
  USE_BENCH(BenchToml({BenchProbe(), BenchProbe()}));
  Download(kKelda, false, 1);
  op.imagePath[0] = ImageFile(dir, "big.bin", 64 * 1024);
  std::promise<void> go;
  op.release = go.get_future().share();
  op.holdDevice = 0;
  op.holdAt = 4096 + 640;  // in the middle of the third block
  RunControl control(op, options);
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([this] { return op.held.load() && op.StopOffered(); }));
  control.OnRun(op.Request());  // STOP
  go.set_value();
  control.WaitForIdle();
  const auto events = Events(0);
  const auto stop = std::find(events.begin(), events.end(), "data stop");
  ASSERT_NE(stop, events.end());
  // Every chunk before the marker was plain data; the marker starts the fourth block; then 0x01.
  EXPECT_EQ(std::count(events.begin(), stop, "data"), 3 * 32);
  EXPECT_EQ(events.back(), "0x01");
  EXPECT_TRUE(op.Log().ends_with("  Download stop is OK.\r\n\r\n"));
  EXPECT_NE(op.Log().find("  DEVICE #0: Download stopping, Please wait ... \r\n"), std::string::npos);
  EXPECT_TRUE(op.Messages().empty());
  const auto flash = Flash(0);
  const auto image = Contents(op.imagePath[0]);
  EXPECT_TRUE(std::equal(image.begin(), image.begin() + 3 * 2048, flash.begin()));
  EXPECT_EQ(flash[3 * 2048], 0xFF);  // nothing of the stopped block was programmed
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kStopped);
}

TEST_F(BenchRunTest, PinTogglingLoadsThePatternsAndAlternatesUntilStop) {
  USE_BENCH(BenchToml({BenchProbe()}));
  op.fields.productIndex = kKelda;
  op.pinToggle = true;
  op.interval = 5;
  RunControl control(op, options);
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([this] {
    const auto e = Events(0);
    return std::count(e.begin(), e.end(), "apply=high") >= 3;
  }));
  control.OnRun(op.Request());  // STOP
  control.WaitForIdle();
  const auto events = Events(0);
  std::vector<std::string> setUp(events.begin(), events.begin() + 10);
  EXPECT_EQ(setUp, Join(kIdentify, {"0x98", "0x08", "0x04", "0x12", "0x20", "0x21"}));
  std::vector<std::string> toggles;
  for (const std::string& e : events) {
    if (e.rfind("apply=", 0) == 0) toggles.push_back(e);
  }
  ASSERT_GE(toggles.size(), 6u);
  for (size_t i = 0; i < toggles.size(); ++i) EXPECT_EQ(toggles[i], i % 2 == 0 ? "apply=high" : "apply=low");
  EXPECT_EQ(toggles.size() % 2, 0u);  // ends driving the low pattern
  EXPECT_TRUE(op.Log().ends_with("  Start Pin Toggling.\r\n  Stop Pin Toggling.\r\n\r\n"));
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kToggleStopped);
}

TEST_F(BenchRunTest, KeldaOffsetWithoutChipSelectIsRefusedBeforeTheFlashIsDescribed) {
  USE_BENCH(BenchToml({BenchProbe()}));
  Download(kKelda, false, 1);
  op.offset = 0xE0000000;
  op.imagePath[0] = ImageFile(dir, "a.bin", 100);
  RunControl control(op, options);
  Run(control);
  EXPECT_NE(op.Log().find("  DEVICE #0: No chip select for offset 0xE0000000\r\n"), std::string::npos);
  const auto commands = Commands(0);
  EXPECT_EQ(std::count(commands.begin(), commands.end(), "0x15"), 0);
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kFailed);
}

// Image 2 at block 1 would erase the tail of image 1 (200 KB from block 0 on 64 KiB sectors): it is
// refused before it is announced, so image 1 stays whole, and the run is no success.
TEST_F(BenchRunTest, AnImageWhoseEraseWouldWipeAnEarlierOneIsRefusedAndTheEarlierStaysWhole) {
  USE_BENCH(BenchToml({BenchProbe()}));
  Download(kKelda, false, 1);
  const std::string first = ImageFile(dir, "first.bin", 200000, 3),
                    second = ImageFile(dir, "second.bin", 4096, 9);
  op.imageEnabled = {true, true, false};
  op.imagePath = {first, second, ""};
  op.imageBlock = {0, 1, 0};
  RunControl control(op, options);
  Run(control);
  EXPECT_NE(op.Log().find("  DEVICE #0: '" + second + "' overlaps an image written before\r\n"),
            std::string::npos);
  EXPECT_EQ(op.Log().find("(second.bin)"), std::string::npos);
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kFailed);
  EXPECT_EQ(Commands(0), Join(kIdentify, {"0x98", "0x08", "0x04", "0x12", "0x13", "0x15", "0x14", "0x16",
                                          "0x18", "data"}));
  EXPECT_TRUE(Holds(Flash(0), 0, Contents(first)));

  // Moved past image 1's last block, the same two images program as ever.
  op.imageBlock[1] = 4;
  Run(control);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  EXPECT_TRUE(Holds(Flash(0), 0, Contents(first)));
  EXPECT_TRUE(Holds(Flash(0), 4 * 0x10000, Contents(second)));
}

// The part answers 0x6E where the NOR type table's row says 0x6F: the default NOR type programs it.
TEST_F(BenchRunTest, En29lv010aProgramsOnKeldaWithTheDefaultSettings) {
  USE_BENCH(
      BenchToml({BenchProbe("KELDA", "EN29LV010A"), BenchProbe("OKO", "EN29LV010A").Key("interleave = 2")}));
  Download(kKelda, false, 0);
  const std::string image = ImageFile(dir, "e.bin", 5000);
  op.imagePath[0] = image;
  op.imageBlock[0] = 1;
  RunControl control(op, options);
  Run(control);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  EXPECT_NE(op.Log().find("  NAME: EN29LV010A\r\n"), std::string::npos);
  EXPECT_NE(op.Log().find("  DEVICE #0: Maker ID(0x001C) Device ID(0x006E)\r\n"), std::string::npos);
  EXPECT_TRUE(Holds(Flash(0), 0x4000, Contents(image)));  // block 1 of 16 KiB sectors
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);

  // Two parts side by side answer 0x6E6E and have 32 KiB blocks.
  Download(kOko, false, 0);
  op.interleave = 2;
  Run(control);
  EXPECT_NE(op.Log().find(" Device ID(0x6E6E)\r\n"), std::string::npos);
  EXPECT_TRUE(Holds(Flash(1), 0x8000, Contents(image)));
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
}

// One board fails its erase while the other is stopped mid-file: the log reports the stop as
// ever, the run's outcome is the failure, and the stopped file is not reported ok.
TEST_F(BenchRunTest, AFailedJobInAStoppedRunMakesTheRunFailed) {
  USE_BENCH(BenchToml({BenchProbe().Fault("bad_sectors = [0x10000]"), BenchProbe()}));
  Download(kKelda, false, 1);
  op.imagePath[0] = ImageFile(dir, "big.bin", 0x20000);
  std::promise<void> go;
  op.release = go.get_future().share();
  op.holdDevice = 1;
  op.holdAt = 4096 + 640;
  RecordingObserver observer;
  options.observer = &observer;
  RunControl control(op, options);
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([this] {
    return op.held.load() && op.StopOffered() && op.Log().find("ERASE ERROR, ADDR") != std::string::npos;
  }));
  control.OnRun(op.Request());  // STOP
  go.set_value();
  control.WaitForIdle();
  EXPECT_NE(op.Log().find("\r\n  DEVICE #0: ERASE ERROR, ADDR: 0x00010000\r\n"), std::string::npos);
  EXPECT_TRUE(op.Log().ends_with("  Download stop is OK.\r\n\r\n"));
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kFailed);
  EXPECT_NE(std::find(observer.events.begin(), observer.events.end(), "file 1 0 big.bin 131072 8192 failed"),
            observer.events.end());
}

}  // namespace
}  // namespace zolt::testing
