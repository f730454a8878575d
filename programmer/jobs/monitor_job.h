// SPDX-License-Identifier: MIT
// The job monitor: watches a download run from its start to its end.
#pragma once

#include "jobs/job_context.h"

namespace zolt {

// Thread body of the run's monitor; run control starts it after the download jobs. Turns the
// RUN button into "STOP", locks the run-setting controls, and until ctx.settings.runningJobCount
// reads 0 moves the progress bar and the elapsed-time label ("%02d : %02d") whenever the run's
// percentage changes, waiting up to 10 ms between passes (a job's end wakes it at once). Then
// reports the end ("  Download stop is OK." and clears stopRequested; or the box
// "Download Complete !" when no job failed; or nothing), sets ctx.outcome, unlocks the controls
// and turns the button back into "RUN". With runTotalBytes 0 the bar shows 100 % at the end.
//
// Blocks until the last job has ended and while the "Download Complete !" box is open.
void MonitorJob(JobContext& ctx);

}  // namespace zolt
