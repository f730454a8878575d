// SPDX-License-Identifier: MIT
#include "jobs/monitor_job.h"

#include <chrono>

#include "jobs/text_format.h"

namespace zolt {
namespace {

constexpr auto kPassInterval = std::chrono::milliseconds(10);

void ShowElapsed(JobContext& ctx, uint32_t startMs) {
  const uint32_t seconds = (ctx.clock.NowMs() - startMs) / 1000;
  ctx.op.SetElapsedTimeText(
      Format("%02d : %02d", static_cast<int>(seconds / 60), static_cast<int>(seconds % 60)));
}

}  // namespace

void MonitorJob(JobContext& ctx) {
  RunView& op = ctx.op;
  const uint64_t total = ctx.settings.runTotalBytes;
  ctx.MoveTo(RunState::kRunning);
  op.EnableRunSettingControls(false);
  const uint32_t startMs = ctx.clock.NowMs();

  int lastShown = 0;
  for (;;) {
    // Read the count before the sum: once it reads 0 every job has stored its last count, so the
    // final pass shows the final sum.
    const bool ended = ctx.settings.runningJobCount.load() == 0;
    const uint64_t sum = op.TotalSentBytes();
    // A run whose images are all empty or missing has nothing to measure; it shows 100 % at its end.
    const int percentage = total == 0 ? 0 : static_cast<int>(sum * 100 / total);
    if (percentage != lastShown || (total != 0 && sum == total)) {
      op.SetProgressPos(percentage);
      lastShown = percentage;
      ShowElapsed(ctx, startMs);
    }
    if (ended) break;
    std::unique_lock lock(ctx.wakeMutex);
    ctx.wake.wait_for(lock, kPassInterval, [&ctx] { return ctx.settings.runningJobCount.load() == 0; });
  }
  if (total == 0) {
    op.SetProgressPos(100);
    ShowElapsed(ctx, startMs);
  }

  ctx.MoveTo(RunState::kEnding);
  RunOutcome outcome;
  if (ctx.stopRequested.load() != 0) {
    // The log reports the stop as ever, but a job that failed as well (an erase error before the
    // stop reached it, say) makes the run a failure: a stop must not hide it.
    outcome = ctx.failedDeviceCount.load() == 0 ? RunOutcome::kStopped : RunOutcome::kFailed;
    ctx.outcome.store(outcome);
    op.Append("  Download stop is OK.\r\n");
    ctx.stopRequested.store(0);
  } else if (ctx.failedDeviceCount.load() == 0) {
    outcome = RunOutcome::kComplete;
    ctx.outcome.store(outcome);
    op.ShowMessage("Download Complete !");
  } else {
    outcome = RunOutcome::kFailed;
    ctx.outcome.store(outcome);
  }
  op.Append("\r\n");
  op.EnableRunSettingControls(true);
  ctx.MoveTo(RunState::kIdle);
}

}  // namespace zolt
