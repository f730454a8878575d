// SPDX-License-Identifier: MIT
// Closing and stopping a 16-probe run: run control and the jobs through the real libVorlink.so on a
// realistic bench, driven as the dialog drives them (RUN/STOP presses, closing with agreement to
// stop, presses while a message box is open). Every run must end, every thread must be joined, and
// the outcome must say what happened. Built into the sanitizer builds (label threaded), where ASan
// and TSan watch the same runs.
//
// libVorlink.so reads its bench once, when it is loaded, so each test needs a process of its own
// (ctest runs every test alone); a test that finds another bench loaded skips itself.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <atomic>
#include <chrono>
#include <fstream>
#include <functional>
#include <future>
#include <mutex>
#include <set>
#include <thread>

#include "jobs/run_control.h"
#include "testing/pattern_bytes.h"
#include "testing/recording_operator.h"
#include "testing/scratch_dir.h"

namespace zolt::reliability {
namespace {

using ::zolt::testing::PatternBytes;
using ::zolt::testing::ReadFileBytes;
using ::zolt::testing::ScratchDir;

constexpr int kBoards = 16;

std::string& LoadedBench() {
  static std::string path;
  return path;
}

// Counts the jobs that ended, and which failed, as zolt-flash's summary does.
class EndedJobs : public RunObserver {
 public:
  void OnJobEnded(int device, bool failed, const std::string&) override {
    std::lock_guard lock(mu_);
    ended_.insert(device);
    if (failed) failed_.insert(device);
  }
  std::set<int> Ended() const {
    std::lock_guard lock(mu_);
    return ended_;
  }
  std::set<int> Failed() const {
    std::lock_guard lock(mu_);
    return failed_;
  }

 private:
  mutable std::mutex mu_;
  std::set<int> ended_, failed_;
};

// An operator that notes when the monitor has handed the STOP role over and when data flows.
class WatchingOperator : public testing::RecordingOperator {
 public:
  // While `stopReportGate` is set, the monitor's report of the stop waits for it, so a test can
  // press the button while the run is certainly still stopping or ending.
  void Append(std::string_view text) override {
    if (text == "  Download stop is OK.\r\n" && stopReportGate.valid()) stopReportGate.wait();
    RecordingOperator::Append(text);
  }
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) override {
    RecordingOperator::UpdateFileProgress(device, file, sentBytes, fileSize);
    progress.fetch_add(1);
  }
  bool StopOffered() { return ShownRunState() == RunState::kRunning; }
  std::shared_future<void> stopReportGate;
  bool Idle() { return ShownRunState() == RunState::kIdle; }
  std::atomic<int> progress{0};
};

// Polls `done`; a hang guard (never a timing requirement) fails the test after `seconds`.
bool WaitUntil(const std::function<bool()>& done, int seconds = 60) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(seconds);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) {
      ADD_FAILURE() << "hang guard: the awaited state never came";
      return false;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

class ClosingStopping : public ::testing::Test {
 protected:
  // Sixteen KELDA boards with an EN29LV040A; `faulty` gets `faults`. Realistic timing, so a 64 KiB
  // image keeps every probe busy long enough to act mid-run.
  bool UseBench(int faulty = -1, const std::string& faults = "") {
    std::string toml = "[bench]\ntiming = \"realistic\"\nusb_latency_us = 200\n";
    for (int i = 0; i < kBoards; ++i) {
      toml += "\n[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";
      if (i == faulty) toml += "[probe.faults]\n" + faults + "\n";
    }
    const std::string bench = dir.Write("bench.toml", toml);
    if (!LoadedBench().empty() && LoadedBench() != bench) return false;
    LoadedBench() = bench;
    ::setenv("VORLINK_BENCH", bench.c_str(), 1);
    ::setenv("PROBESIM_STATE_DIR", dir.path().c_str(), 1);
    ::unsetenv("PROBESIM_LOG");
    ::unsetenv("VORLINK_TRACE");
    op.fields.productIndex = 1;
    op.fields.nandSelected = false;
    op.fields.norSelected = true;
    op.norType = 1;
    op.multiDevice = true;
    op.imageEnabled = {true, false, false};
    op.imagePath[0] = dir.Write("image.bin", PatternBytes(64 * 1024, 11));
    options.libraryName = VORLINK_PATH;
    options.observer = &jobs;
    return true;
  }
  std::string Flash(int board) { return ReadFileBytes(dir / ("bench-" + std::to_string(board) + ".bin")); }

  ScratchDir dir;
  WatchingOperator op;
  EndedJobs jobs;
  RunControlOptions options;
};

#define USE_BENCH(...)                                                                               \
  do {                                                                                               \
    if (!UseBench(__VA_ARGS__)) GTEST_SKIP() << "another bench is loaded; run this test on its own"; \
  } while (0)

// What the dialog does when it is closed during a run and the operator agrees to stop: request the
// stop, then wait for every thread. The stop handshake ends each file at its next 2048-byte block.
TEST_F(ClosingStopping, ClosingDuringASixteenProbeRunStopsAndJoinsEveryJob) {
  USE_BENCH();
  RunControl control(op, options);
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([&] { return op.StopOffered() && op.progress.load() > kBoards; }));

  control.RequestStop();
  auto closed = std::async(std::launch::async, [&] { control.WaitForIdle(); });
  // Hang guard only: the handshake needs one block response per probe.
  ASSERT_EQ(closed.wait_for(std::chrono::seconds(60)), std::future_status::ready) << "the run did not stop";

  EXPECT_FALSE(control.IsRunning());
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kStopped);
  EXPECT_EQ(jobs.Ended().size(), static_cast<size_t>(kBoards));
  EXPECT_TRUE(jobs.Failed().empty());
  EXPECT_NE(op.Log().find("  Download stop is OK.\r\n"), std::string::npos);
  for (const std::string& m : op.Messages()) EXPECT_NE(m, "Download Complete !");
}

// STOP pressed again and again while the jobs work through the handshake: one stop, no new run.
TEST_F(ClosingStopping, StopPressedRepeatedlyStopsOnce) {
  USE_BENCH();
  std::promise<void> pressesDone;
  op.stopReportGate = pressesDone.get_future().share();
  RunControl control(op, options);
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([&] { return op.StopOffered() && op.progress.load() > kBoards; }));
  for (int press = 0; press < 20; ++press) {
    control.OnRun(op.Request());  // the run is stopping, then ending, until the report
    std::this_thread::yield();
  }
  pressesDone.set_value();
  ASSERT_TRUE(WaitUntil([&] { return !control.IsRunning() && op.Idle(); }));
  control.WaitForIdle();
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kStopped);
  EXPECT_EQ(jobs.Ended().size(), static_cast<size_t>(kBoards));
  const std::string log = op.Log();
  EXPECT_EQ(log.find("[Download to NOR FLASH]"), log.rfind("[Download to NOR FLASH]"))
      << "a second run began";
  EXPECT_NE(log.find("  Download stop is OK.\r\n"), std::string::npos);

  // The next RUN is an ordinary run again: the presses left no stop behind.
  op.stopReportGate = {};
  control.OnRun(op.Request());
  control.WaitForIdle();
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
  EXPECT_EQ(Flash(0).substr(0, 64 * 1024), ReadFileBytes(op.imagePath[0]));
}

// RUN pressed while the end-of-run box is still open (the monitor thread waits in it): the press
// starts nothing and leaves nothing behind; once the box is closed, RUN works as before.
TEST_F(ClosingStopping, RunPressedDuringTheEndOfRunBox) {
  USE_BENCH();
  RunControl control(op, options);
  std::atomic<int> boxes{0};
  op.onMessage = [&](const std::string& text) {
    if (text != "Download Complete !" || boxes.fetch_add(1) != 0) return;
    // The box is open on the monitor's thread; the operator presses RUN on the GUI thread.
    std::thread([&] { control.OnRun(op.Request()); }).join();
  };
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([&] { return boxes.load() == 1 && !control.IsRunning() && op.Idle(); }));
  control.WaitForIdle();
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
  const std::string log = op.Log();
  EXPECT_EQ(log.find("[Download to NOR FLASH]"), log.rfind("[Download to NOR FLASH]")) << "a run began";

  control.OnRun(op.Request());
  control.WaitForIdle();
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kComplete);
  EXPECT_EQ(boxes.load(), 2);
}

// Board 5 is unplugged while the box of its failed bootloader read is open (its unplug comes with
// that read); its job carries on after the box, fails at the set-up, and the other fifteen finish.
TEST_F(ClosingStopping, ProbeUnpluggedWhileItsMessageBoxIsOpen) {
  USE_BENCH(5, "unplug_after_transfers = 11");
  RunControl control(op, options);
  std::atomic<bool> boxSeen{false};
  op.onMessage = [&](const std::string& text) {
    if (text.find("Bootloader") == std::string::npos) return;
    boxSeen.store(true);
    // Keep the box open while the other probes stream on.
    const int before = op.progress.load();
    WaitUntil([&] { return op.progress.load() > before + kBoards; });
  };
  control.OnRun(op.Request());
  ASSERT_TRUE(WaitUntil([&] { return !control.IsRunning() && op.Idle(); }, 120));
  control.WaitForIdle();
  EXPECT_TRUE(boxSeen.load());
  EXPECT_EQ(control.LastOutcome(), RunOutcome::kFailed);
  EXPECT_EQ(jobs.Failed(), std::set<int>{5});
  EXPECT_EQ(jobs.Ended().size(), static_cast<size_t>(kBoards));
  for (const std::string& m : op.Messages()) EXPECT_NE(m, "Download Complete !");
  const std::string image = ReadFileBytes(op.imagePath[0]);
  for (int board = 0; board < kBoards; ++board) {
    if (board != 5) {
      EXPECT_EQ(Flash(board).substr(0, image.size()), image) << "board " << board;
    }
  }
}

}  // namespace
}  // namespace zolt::reliability
