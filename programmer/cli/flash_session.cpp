#include "cli/flash_session.h"

#include <unistd.h>

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <mutex>

#include "cli/cli_operator.h"
#include "cli/console.h"
#include "cli/progress_line.h"
#include "cli/run_summary.h"
#include "cli/signal_watcher.h"

namespace zolt::cli {

int ExitStatusFor(RunOutcome outcome) {
  if (outcome == RunOutcome::kComplete || outcome == RunOutcome::kToggleStopped) return kExitComplete;
  if (outcome == RunOutcome::kStopped) return kExitStopped;
  return kExitFailed;  // a failed job or toggle run, or a run that could not start
}

namespace {

using Clock = std::chrono::steady_clock;

// The redraw period of the progress line: at most ten frames a second.
constexpr auto kTick = std::chrono::milliseconds(100);

class Session {
 public:
  explicit Session(const FlashOptions& options)
      : options_(options),
        console_(STDOUT_FILENO, STDERR_FILENO, isatty(STDERR_FILENO) == 1),
        op_(options_, console_) {}

  int Run() {
    SignalWatcher watcher([this] { OnFirstSignal(); }, [this] { OnSecondSignal(); });
    RunControlOptions runOptions;
    // The summary, with its CRC-32 of every chunk sent, exists only for --json: without it the
    // jobs skip the CRC, a third of zolt-flash's own work per chunk.
    if (!options_.jsonPath.empty()) runOptions.observer = &summary_;
    int status;
    {
      RunControl run(op_, runOptions);
      start_ = Clock::now();
      started_ = true;
      run.OnRun();
      Watch(run);
      run.WaitForIdle();
      console_.ClearProgress();
      RunOutcome outcome = run.LastOutcome();
      status = ExitStatusFor(outcome);
      status = Finish(OutcomeName(outcome), status);
    }
    return status;
  }

 private:
  void Watch(RunControl& run) {
    std::optional<Clock::time_point> stopAt;
    if (options_.stopAfterSeconds) {
      stopAt = start_ + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(*options_.stopAfterSeconds));
    }
    while (run.IsRunning()) {
      if (!stopRequested_ && (stopWanted_ || (stopAt && Clock::now() >= *stopAt))) {
        run.RequestStop();
        stopRequested_ = true;
      }
      DrawProgress();
      std::unique_lock lock(wakeMu_);
      auto until = Clock::now() + kTick;
      if (stopAt && !stopRequested_ && *stopAt < until) until = *stopAt;
      wake_.wait_until(lock, until, [this] { return stopWanted_ && !stopRequested_; });
    }
  }

  void DrawProgress() {
    if (!console_.progressEnabled()) return;
    const auto elapsedMs = static_cast<uint64_t>(
        std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - start_).count());
    if (options_.pinToggle) {  // no bytes, no end: only the time the pins have been toggling
      console_.DrawProgress("toggling pins  " + FormatMinutesSeconds(elapsedMs / 1000));
      return;
    }
    ProgressSnapshot s;
    s.runPercent = op_.RunPercent();
    s.elapsedMs = elapsedMs;
    s.sentBytes = op_.TotalSentBytes();
    s.totalBytes = op_.RunTotalBytes();
    for (int d : op_.TakingPart()) s.devices.push_back({d, op_.DevicePercent(d)});
    console_.DrawProgress(FormatProgressLine(s));
  }

  double ElapsedSeconds() const {
    return started_ ? std::chrono::duration<double>(Clock::now() - start_).count() : 0.0;
  }

  // Writes the summary once (whichever of the main thread and the signal watcher comes first)
  // and returns the final status.
  int Finish(const std::string& result, int status) {
    std::lock_guard lock(finishMu_);
    if (finished_) return status;
    finished_ = true;
    if (options_.jsonPath.empty()) return status;
    RunSummary::Ending ending{result, status, stopRequested_ || stopWanted_, ElapsedSeconds()};
    std::string error =
        WriteSummaryFile(options_.jsonPath, summary_.Build(options_, op_, ending).dump(2) + "\n");
    if (!error.empty()) {
      console_.WriteErrorLine("zolt-flash: --json: cannot write '" + options_.jsonPath + "': " + error);
      // The run may have gone well, but the summary a script waits for is missing.
      if (status == kExitComplete) status = kExitFailed;
    }
    return status;
  }

  void OnFirstSignal() {
    {
      std::lock_guard lock(wakeMu_);
      stopWanted_ = true;
    }
    wake_.notify_all();
  }

  [[noreturn]] void OnSecondSignal() {
    console_.ClearProgress();
    Finish("interrupted", kExitInterrupted);
    _exit(kExitInterrupted);
  }

  const FlashOptions& options_;
  Console console_;
  CliOperator op_;
  RunSummary summary_;

  std::atomic<bool> started_{false};
  Clock::time_point start_{};
  std::mutex wakeMu_;
  std::condition_variable wake_;
  std::atomic<bool> stopWanted_{false};
  std::atomic<bool> stopRequested_{false};
  std::mutex finishMu_;
  bool finished_ = false;
};

}  // namespace

int RunFlash(const FlashOptions& options) {
  return Session(options).Run();
}

}  // namespace zolt::cli
