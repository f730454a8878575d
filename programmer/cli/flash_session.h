// SPDX-License-Identifier: MIT
// One zolt-flash run: presses RUN once through RunControl, watches the run until it has ended
// (turning signals and --stop-after into STOP requests, redrawing the progress line), writes the
// summary and answers the exit status.
//
// RunFlash blocks the calling thread for the whole run. It must be called on the main thread
// before any other thread was started (it installs the SignalWatcher). A second SIGINT, SIGTERM or
// SIGHUP, and a stop request the run does not answer within the watchdog's limit, end the process
// from another thread with status 130 after writing the summary.
#pragma once

#include <chrono>
#include <string>

#include "cli/options.h"
#include "cli/summary_file.h"
#include "jobs/board_record.h"
#include "jobs/run_control.h"

namespace zolt::cli {

inline constexpr int kExitComplete = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 3;
inline constexpr int kExitInterrupted = 130;

// The exit status of a run that ended with `outcome`.
int ExitStatusFor(RunOutcome outcome);

// `summary`: the opened --json file, or null without --json. `history`: the opened --history file,
// or null. `stopWatchdog`: how long a run may take from a stop request to its end.
int RunFlash(const FlashOptions& options, SummaryFile* summary, BoardHistory* history,
             std::chrono::milliseconds stopWatchdog);

// The last resort for an exception nothing else caught (main's handler and std::terminate): writes
// the summary of the run in progress, if any, as "failed" with `what` as its internalError, says so
// on stderr, and returns kExitFailed. Any thread; never throws.
int EndOnInternalError(const std::string& what) noexcept;

}  // namespace zolt::cli
