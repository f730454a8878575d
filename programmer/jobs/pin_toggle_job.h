// SPDX-License-Identifier: MIT
// The pin toggle job: drives a target's boundary pins high and low in turn until STOP.
#pragma once

#include "jobs/job_context.h"

namespace zolt {

// Thread body of a pin-toggle run. Claims the first marked slot, opens the probe, checks its
// firmware (212 or newer) and bootloader, loads the product's boundary image and its high and
// low patterns, turns the RUN button into "STOP" and then applies high, waits the interval,
// applies low, waits the interval, and checks ctx.stopRequested, until it is set. Then clears
// it, logs the stop, turns the button back into "RUN" (enabled) and closes the probe.
//
// Run control leaves the RUN button disabled while the job prepares; every early end of the job
// enables it again (text "RUN"), so no second run can start on the probe this job drives.
// Waits by spinning on ctx.clock. Blocks until STOP and while its message boxes are open; sets
// ctx.outcome to kToggleStopped or kToggleFailed.
void PinToggleJob(JobContext& ctx);

}  // namespace zolt
