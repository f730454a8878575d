// SPDX-License-Identifier: MIT
#include "cli/flash_session.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <condition_variable>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <mutex>

#include "cli/cli_operator.h"
#include "cli/console.h"
#include "cli/progress_line.h"
#include "cli/run_summary.h"
#include "cli/signal_watcher.h"
#include "cli/stop_watchdog.h"
#include "jobs/board_recorder.h"

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

// The bench file when the library will serve a virtual bench instead of real probes.
std::string BenchFile() {
  const char* bench = std::getenv("VORLINK_BENCH");
  return bench == nullptr ? std::string() : std::string(bench);
}

// The host name for the board records; "" when the system does not tell.
std::string HostName() {
  char name[256] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return {};
  return name;
}

// Why `path` cannot be read, or "": the job's own "Cannot open" log line gives no reason.
// Non-blocking, so a FIFO without a writer does not hold the start here.
std::string WhyUnreadable(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
  if (fd < 0) return std::strerror(errno);
  struct stat st {};
  std::string reason;
  if (::fstat(fd, &st) == 0 && S_ISDIR(st.st_mode)) reason = std::strerror(EISDIR);
  ::close(fd);
  return reason;
}

class Session;
// The run in progress, for the last-resort handler.
std::atomic<Session*> current{nullptr};

class Session {
 public:
  Session(const FlashOptions& options, SummaryFile* summary, BoardHistory* history,
          std::chrono::milliseconds stopWatchdog)
      : options_(options),
        summaryFile_(summary),
        history_(history),
        stopWatchdog_(stopWatchdog),
        bench_(BenchFile()),
        console_(STDOUT_FILENO, STDERR_FILENO, isatty(STDERR_FILENO) == 1),
        op_(options_, console_),
        request_(BuildRunRequest(options_)),
        recorder_(MakeRecorder()) {
    current.store(this);
  }
  ~Session() { current.store(nullptr); }

  int Run() {
    SignalWatcher watcher([this] { OnFirstSignal(); }, [this] { OnSecondSignal(); });
    // Started after the watcher, so that its thread has the signals blocked as well.
    StopWatchdog watchdog(stopWatchdog_, [this] { OnWatchdogExpired(); });
    if (!bench_.empty()) {
      console_.WriteErrorLine("zolt-flash: virtual bench " + bench_ + ": no real probe is used");
    }
    for (int slot = 0; slot < 3; ++slot) {
      if (!options_.imageEnabled[slot]) continue;
      const std::string reason = WhyUnreadable(options_.imagePath[slot]);
      if (!reason.empty()) {
        console_.WriteErrorLine("zolt-flash: image" + std::to_string(slot + 1) + " '" +
                                options_.imagePath[slot] + "': " + reason);
      }
    }
    // Before RUN the file already says the run is under way: a run killed later must not leave an
    // earlier run's "complete" behind. A device or FIFO gets only the final document.
    if (summaryFile_ != nullptr && !summaryFile_->Streams()) {
      RunSummary::Ending running;
      running.result = "running";
      std::string error = summaryFile_->Write(SummaryText(summary_.Build(options_, op_, running, bench_)));
      if (!error.empty()) {
        console_.WriteErrorLine("zolt-flash: --json: cannot write '" + summaryFile_->path() + "': " + error);
        return kExitUsage;
      }
    }

    RunControlOptions runOptions;
    // The summary, with its CRC-32 of every chunk sent, is kept only for --json: without it the
    // jobs skip the CRC, a third of zolt-flash's own work per chunk. A toggle run has no CRC to
    // skip, and its failed applies decide the exit status, so it is always observed.
    if (summaryFile_ != nullptr || options_.pinToggle) runOptions.observer = &summary_;
    if (recorder_ != nullptr) runOptions.observer = recorder_.get();
    runOptions.transfersInFlight = options_.transfersInFlight;
    runOptions.onTransfersInFlightUnavailable = [this] { console_.WriteErrorLine(kNoTransfersInFlightLine); };
    int status;
    std::string result;
    {
      RunControl run(op_, runOptions);
      start_ = Clock::now();
      started_ = true;
      run.SetVerify(options_.verifyEnabled);
      run.OnRun(request_);
      Watch(run, watchdog);
      run.WaitForIdle();
      console_.ClearProgress();
      RunOutcome outcome = run.LastOutcome();
      status = ExitStatusFor(outcome);
      result = OutcomeName(outcome);
    }
    // The loop ignores a failed apply, as it must; but pins that never toggled are no success.
    if (options_.pinToggle && summary_.PinApplyFailures() > 0 && status == kExitComplete) {
      console_.WriteErrorLine("zolt-flash: " + std::to_string(summary_.PinApplyFailures()) +
                              " pin pattern applies failed");
      status = kExitFailed;
      result = "failed";
    }
    // The board's lines may be missing from the history: a script must not take the run as done.
    if (recorder_ != nullptr && !recorder_->HistoryError().empty()) status = kExitFailed;
    if (options_.expectBoards) status = CheckExpected(status);
    return Finish(result, status);
  }

  int EndOnInternalError(const std::string& what) {
    console_.ClearProgress();
    console_.WriteErrorLine("zolt-flash: internal error: " + what);
    return Finish("failed", kExitFailed, what);
  }

 private:
  // The board records (the history's lines, the boards programmed ok for --expect) see every
  // job's call first and pass it on to the summary. Made before any thread starts, since the
  // signal watcher's Finish reads it.
  std::unique_ptr<BoardRecorder> MakeRecorder() {
    if (history_ == nullptr && !options_.expectBoards) return nullptr;
    BoardRecorderOptions recorderOptions;
    recorderOptions.next = &summary_;
    recorderOptions.history = history_;
    recorderOptions.onHistoryError = [this](const std::string& error) {
      console_.WriteErrorLine("zolt-flash: history: " + error);
    };
    recorderOptions.version = ProgrammerVersion();
    recorderOptions.host = HostName();
    return std::make_unique<BoardRecorder>(request_, std::move(recorderOptions));
  }

  // --expect: fewer boards found or programmed ok than expected fails the run, as a failed job
  // does (also a stopped one).
  int CheckExpected(int status) {
    const int expected = *options_.expectBoards;
    const int found = static_cast<int>(op_.TakingPart().size());
    const int ok = recorder_->OkBoards();
    if (found >= expected && ok >= expected) return status;
    console_.WriteErrorLine("zolt-flash: --expect " + std::to_string(expected) + ": " +
                            std::to_string(found) + (found == 1 ? " board" : " boards") + " found, " +
                            std::to_string(ok) + " programmed ok");
    return kExitFailed;
  }

  void Watch(RunControl& run, StopWatchdog& watchdog) {
    std::optional<Clock::time_point> stopAt;
    if (options_.stopAfterSeconds) {
      stopAt = start_ + std::chrono::duration_cast<Clock::duration>(
                            std::chrono::duration<double>(*options_.stopAfterSeconds));
    }
    while (run.IsRunning()) {
      if (!stopRequested_ && (stopWanted_ || (stopAt && Clock::now() >= *stopAt))) {
        run.RequestStop();
        stopRequested_ = true;
        watchdog.Arm();
        if (stopWanted_) console_.WriteErrorLine(kStopRequestedLine);
      }
      DrawProgress(run);
      std::unique_lock lock(wakeMu_);
      auto until = Clock::now() + kTick;
      if (stopAt && !stopRequested_ && *stopAt < until) until = *stopAt;
      wake_.wait_until(lock, until, [this] { return stopWanted_ && !stopRequested_; });
    }
  }

  void DrawProgress(const RunControl& run) {
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
    s.totalBytes = run.RunTotalBytes();
    for (int d : op_.TakingPart()) s.devices.push_back({d, op_.DevicePercent(d)});
    console_.DrawProgress(FormatProgressLine(s));
  }

  double ElapsedSeconds() const {
    return started_ ? std::chrono::duration<double>(Clock::now() - start_).count() : 0.0;
  }

  // Writes the summary once (whichever of the main thread, the signal watcher, the stop watchdog
  // and the last-resort handler comes first) and returns the final status.
  int Finish(const std::string& result, int status, const std::string& internalError = {}) {
    std::lock_guard lock(finishMu_);
    if (finished_) return status;
    finished_ = true;
    if (summaryFile_ == nullptr) return status;
    RunSummary::Ending ending;
    ending.result = result;
    ending.exitCode = status;
    ending.internalError = internalError;
    ending.stopRequested = stopRequested_ || stopWanted_;
    ending.elapsedSeconds = ElapsedSeconds();
    if (options_.expectBoards) ending.found = static_cast<int>(op_.TakingPart().size());
    if (recorder_ != nullptr) ending.historyError = recorder_->HistoryError();
    std::string error;
    try {
      error = summaryFile_->Write(SummaryText(summary_.Build(options_, op_, ending, bench_)));
    } catch (const std::exception& e) {
      error = e.what();
    }
    if (!error.empty()) {
      console_.WriteErrorLine("zolt-flash: --json: cannot write '" + summaryFile_->path() + "': " + error);
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
    _exit(Finish("interrupted", kExitInterrupted));
  }

  [[noreturn]] void OnWatchdogExpired() {
    console_.ClearProgress();
    console_.WriteErrorLine("zolt-flash: the run did not end within " +
                            std::to_string(stopWatchdog_.count()) + " ms of the stop request; ending it");
    _exit(Finish("interrupted", kExitInterrupted));
  }

  const FlashOptions& options_;
  SummaryFile* const summaryFile_;
  BoardHistory* const history_;
  const std::chrono::milliseconds stopWatchdog_;
  const std::string bench_;
  Console console_;
  CliOperator op_;
  RunSummary summary_;
  const RunRequest request_;
  const std::unique_ptr<BoardRecorder> recorder_;  // null without --history and --expect

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

int RunFlash(const FlashOptions& options, SummaryFile* summary, BoardHistory* history,
             std::chrono::milliseconds stopWatchdog) {
  Session session(options, summary, history, stopWatchdog);
  try {
    return session.Run();
  } catch (const std::exception& e) {
    return session.EndOnInternalError(e.what());
  } catch (...) {
    return session.EndOnInternalError("unknown exception");
  }
}

int EndOnInternalError(const std::string& what) noexcept {
  try {
    Session* session = current.load();
    if (session != nullptr) return session->EndOnInternalError(what);
    const std::string line = "zolt-flash: internal error: " + what + "\n";
    (void)!::write(STDERR_FILENO, line.data(), line.size());
  } catch (...) {
  }
  return kExitFailed;
}

}  // namespace zolt::cli
