// SPDX-License-Identifier: MIT
#include "jobs/pin_toggle_job.h"

#include "jobs/job_steps.h"
#include "jobs/text_format.h"
#include "probe/probe_commands.h"
#include "probe/records.h"

namespace zolt {
namespace {

class PinToggle {
 public:
  explicit PinToggle(JobContext& ctx) : ctx_(ctx), op_(ctx.op), probe_(ctx.link, ctx.op) {}

  void Run() {
    const int interval = ctx_.request.intervalMs;
    const int product = ctx_.request.productIndex;
    const int device = ClaimDeviceSlot(ctx_.settings.deviceSlots);
    if (device < 0) return GiveButtonBack();
    if (ctx_.link.OpenDevice(kProbeProductId, device) == 0) {
      op_.ShowMessage(Format("  DEVICE #%d: Cannot open\r\n", device));
      return GiveButtonBack();
    }
    if (!Prepare(device, product)) {
      ctx_.link.Close(device);
      return GiveButtonBack();
    }

    ctx_.MoveTo(RunState::kToggling);
    op_.Append("  Start Pin Toggling.\r\n");
    // The stop flag is tested only after the low half, so a begun cycle always ends driving low.
    // A failed apply has shown its box and the loop goes on; only the observer counts it.
    do {
      if (!probe_.ApplyHighBoundary(device).ok()) NoteApplyFailed();
      DelayMs(ctx_.clock, interval);
      if (!probe_.ApplyLowBoundary(device).ok()) NoteApplyFailed();
      DelayMs(ctx_.clock, interval);
    } while (ctx_.stopRequested.load() == 0);

    ctx_.stopRequested.store(0);
    op_.Append("  Stop Pin Toggling.\r\n");
    op_.Append("\r\n");
    ctx_.outcome.store(RunOutcome::kToggleStopped);
    ctx_.MoveTo(RunState::kIdle);
    ctx_.link.Close(device);
  }

 private:
  bool Prepare(int device, int product) {
    uint32_t bootloader = 0;  // this job does not check it
    if (!CheckProbeVersions(probe_, op_, device, &bootloader).ok) return false;
    BoundaryPinMap pinMap{};
    BoundaryImage image{};
    int imageLength = 0;
    if (!LoadBoundaryData(probe_, op_, device, ctx_.settings, product, pinMap, image, &imageLength).ok)
      return false;
    return probe_.SetHighBoundary(device, product, imageLength).ok() &&
           probe_.SetLowBoundary(device, product, imageLength).ok();
  }

  void NoteApplyFailed() {
    if (ctx_.observer != nullptr) ctx_.observer->OnPinApplyFailed();
  }

  // Every early end: the run is over, and RUN (left disabled by run control so that no second
  // run could start on this probe) is given back.
  void GiveButtonBack() {
    ctx_.outcome.store(RunOutcome::kToggleFailed);
    ctx_.MoveTo(RunState::kIdle);
  }

  JobContext& ctx_;
  RunView& op_;
  ProbeCommands probe_;
};

}  // namespace

void PinToggleJob(JobContext& ctx) {
  PinToggle toggle(ctx);
  toggle.Run();
}

}  // namespace zolt
