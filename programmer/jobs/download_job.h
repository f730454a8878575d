// SPDX-License-Identifier: MIT
// The download job: programs the flash of one target board through one probe.
#pragma once

#include "jobs/job_context.h"

namespace zolt {

// Thread body of one download job; run control starts one per marked slot. Claims the lowest
// marked device index, opens its probe, checks firmware and bootloader, prepares the target for
// the flash type and product, identifies the flash, streams every enabled image file, resets the
// JTAG logic and closes the probe. Every path ends by closing the probe, counting a failure in
// ctx.failedDeviceCount, appending "\r\n" and decrementing
// ctx.settings.runningJobCount as its very last access to shared state.
//
// Blocks for the probe exchanges and while its message boxes are open; returns when the job has
// ended. Calls ctx.observer (if any) from this thread.
void DownloadJob(JobContext& ctx);

// The same job for exactly `device` (the station's fixture): claims that index's mark only; a
// device whose slot is not marked (or outside 0..15) ends the job at once, without a probe
// exchange, decrementing the count as every job does.
void DownloadJobOn(JobContext& ctx, int device);

}  // namespace zolt
