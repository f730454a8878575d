// One zolt-flash run: presses RUN once through RunControl, watches the run until it has ended
// (turning signals and --stop-after into STOP requests, redrawing the progress line), writes the
// summary and answers the exit status.
//
// RunFlash blocks the calling thread for the whole run. It must be called on the main thread
// before any other thread was started (it installs the SignalWatcher). A second SIGINT or SIGTERM
// ends the process from the watcher thread with status 130 after writing the summary.
#pragma once

#include "cli/options.h"
#include "jobs/run_control.h"

namespace zolt::cli {

inline constexpr int kExitComplete = 0;
inline constexpr int kExitFailed = 1;
inline constexpr int kExitUsage = 2;
inline constexpr int kExitStopped = 3;
inline constexpr int kExitInterrupted = 130;

// The exit status of a run that ended with `outcome`.
int ExitStatusFor(RunOutcome outcome);

int RunFlash(const FlashOptions& options);

}  // namespace zolt::cli
