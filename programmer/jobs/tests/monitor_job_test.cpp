// SPDX-License-Identifier: MIT
// The job monitor on its own thread, with the test thread playing the download jobs.
#include "jobs/monitor_job.h"

#include <chrono>
#include <thread>

#include "job_fixture.h"

namespace zolt::testing {
namespace {

class MonitorTest : public JobFixture {
 protected:
  // Starts the monitor for `jobs` jobs over a run of `total` bytes.
  void Start(int jobs, uint64_t total) {
    ctx.settings.runTotalBytes = total;
    ctx.settings.runningJobCount.store(jobs);
    op.ShowDeviceStates({});
    thread_ = std::thread(MonitorJob, std::ref(ctx));
  }
  // A job's end: its last count, its failure, then the decrement as its last act.
  void EndJob(int device, uint32_t sent, uint32_t size, bool failed) {
    op.UpdateFileProgress(device, 0, sent, size);
    if (failed) ctx.failedDeviceCount.fetch_add(1);
    ctx.settings.runningJobCount.fetch_sub(1);
    ctx.NotifyJobEnded();
  }
  void Finish() { thread_.join(); }
  ~MonitorTest() override {
    if (thread_.joinable()) thread_.join();
  }
  std::thread thread_;
};

TEST_F(MonitorTest, CompleteRunShowsTheBoxWithTheControlsStillLocked) {
  std::vector<std::string> eventsAtBox;
  op.onMessage = [&](const std::string&) { eventsAtBox = op.buttonEvents; };
  Start(1, 1000);
  EndJob(0, 1000, 1000, false);
  Finish();
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
  EXPECT_EQ(eventsAtBox, (std::vector<std::string>{"state:running", "settings:0", "state:ending"}));
  EXPECT_EQ(op.buttonEvents, (std::vector<std::string>{"state:running", "settings:0", "state:ending",
                                                       "settings:1", "state:idle"}));
  EXPECT_EQ(op.progressPos, 100);
  EXPECT_EQ(op.Log(), "\r\n");
  EXPECT_EQ(ctx.outcome.load(), RunOutcome::kComplete);
}

TEST_F(MonitorTest, StoppedRunLogsTheStopAndClearsTheFlag) {
  Start(1, 1000);
  ctx.stopRequested.store(1);
  EndJob(0, 500, 1000, false);
  Finish();
  EXPECT_EQ(op.Log(), "  Download stop is OK.\r\n\r\n");
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_EQ(ctx.stopRequested.load(), 0);
  EXPECT_EQ(ctx.outcome.load(), RunOutcome::kStopped);
  EXPECT_EQ(op.ShownRunState(), RunState::kIdle);
}

// A stop does not hide a failure: the log reports the stop as ever, the outcome is the failure.
TEST_F(MonitorTest, AFailedJobMakesTheRunFailedWhetherItWasStoppedOrNot) {
  struct Case {
    bool stop;
    bool secondJobFails;
    RunOutcome outcome;
    const char* log;
    std::vector<std::string> boxes;
  };
  const Case cases[] = {
      {false, false, RunOutcome::kComplete, "\r\n", {"Download Complete !"}},
      {true, false, RunOutcome::kStopped, "  Download stop is OK.\r\n\r\n", {}},
      {false, true, RunOutcome::kFailed, "\r\n", {}},
      {true, true, RunOutcome::kFailed, "  Download stop is OK.\r\n\r\n", {}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.stop) + std::to_string(c.secondJobFails));
    const size_t logStart = op.Log().size();
    const size_t boxStart = op.Messages().size();
    ctx.failedDeviceCount.store(0);
    Start(2, 2000);
    if (c.stop) ctx.stopRequested.store(1);
    EndJob(0, 1000, 1000, false);
    EndJob(1, 300, 1000, c.secondJobFails);
    Finish();
    EXPECT_EQ(op.Log().substr(logStart), c.log);
    const auto boxes = op.Messages();
    EXPECT_EQ(std::vector<std::string>(boxes.begin() + static_cast<long>(boxStart), boxes.end()), c.boxes);
    EXPECT_EQ(ctx.outcome.load(), c.outcome);
    EXPECT_EQ(ctx.stopRequested.load(), 0);
  }
}

TEST_F(MonitorTest, RunWithAFailedJobShowsNothingAndStaysBelow100) {
  Start(2, 2000);
  EndJob(0, 1000, 1000, false);
  EndJob(1, 400, 1000, true);
  Finish();
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_EQ(op.Log(), "\r\n");
  EXPECT_EQ(op.progressPos, 70);
  EXPECT_EQ(ctx.outcome.load(), RunOutcome::kFailed);
}

TEST_F(MonitorTest, ElapsedTimeShowsMinutesBeyondTwoDigits) {
  op.elapsedText = "00 : 07";  // the last run's time stays until the percentage moves
  op.UpdateFileProgress(0, 0, 500, 1000);
  ctx.settings.runTotalBytes = 1000;
  ctx.settings.runningJobCount.store(1);
  thread_ = std::thread(MonitorJob, std::ref(ctx));
  ASSERT_TRUE(WaitUntil([this] { return op.progressCalls.load() != 0; }));  // its first pass: 50 %
  clock.Advance((100 * 60 + 5) * 1000);
  EndJob(0, 1000, 1000, false);
  Finish();
  EXPECT_EQ(op.elapsedText, "100 : 05");
}

TEST_F(MonitorTest, WatchingLoopWaitsBetweenPassesInsteadOfSpinning) {
  const auto start = std::chrono::steady_clock::now();
  Start(1, 1000);
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  EndJob(0, 1000, 1000, false);
  Finish();
  const auto elapsedMs =
      std::chrono::duration_cast<std::chrono::milliseconds>(std::chrono::steady_clock::now() - start).count();
  // At most one pass per 10 ms (plus the wake-ups of the job's end); a spinning loop makes
  // hundreds of thousands. A slow machine only makes fewer passes.
  EXPECT_LE(op.sumCalls.load(), elapsedMs / 10 + 5);
  EXPECT_GE(op.sumCalls.load(), 2);
  EXPECT_EQ(op.progressPos, 100);
}

TEST_F(MonitorTest, RunOfNoBytesEndsAt100WithoutDividingByZero) {
  Start(1, 0);
  EndJob(0, 0, 0, false);
  Finish();
  EXPECT_EQ(op.progressPos, 100);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Download Complete !"});
}

TEST_F(MonitorTest, RunTotalsBeyond32BitsGiveTheRightPercentage) {
  // 16 probes x 3 images near 4 GiB: the sum and the total need 64 bits.
  const uint32_t size = 0xF0000000u;
  Start(16, uint64_t{size} * 3 * 16);
  for (int d = 0; d < 16; ++d) {
    for (int f = 0; f < 3; ++f) op.UpdateFileProgress(d, f, d < 8 ? size : 0, size);
  }
  for (int d = 0; d < 16; ++d) EndJob(d, d < 8 ? size : 0, size, d >= 8);
  Finish();
  EXPECT_EQ(op.progressPos, 50);
}

}  // namespace
}  // namespace zolt::testing
