// SPDX-License-Identifier: MIT
// RunView: the outputs through which the core (probe commands, jobs, run control) shows a run to
// the operator. The Qt dialog, the zolt-flash command line and the tests implement it. It holds no
// readers of the front end's settings: those reach the core once, as a RunRequest, when RUN is
// pressed (core/run_request.h).
//
// Threads. Run control calls it on the thread that pressed RUN (the GUI thread in the dialog).
// Download, monitor and pin-toggle jobs call it from their own worker threads, several at once.
// Every operation is therefore callable from any thread, and an implementation carries the call
// to wherever its widgets live. The effects of calls made by one thread are seen in the order
// made. Each operation below says which threads call it and whether it may block.
//
// Nothing here fails: no operation has an error result, and none throws.
#pragma once

#include <array>
#include <cstdint>
#include <string>
#include <string_view>

#include "core/run_state.h"

namespace zolt {

class RunView {
 public:
  virtual ~RunView() = default;

  // ---- Log view ---------------------------------------------------------------------------
  // Appends `text` unchanged (callers supply their own CR LF) at the end of the log.
  // Called by: run control, every job, probe commands. Blocking: never; may return before the
  // text is shown. Texts of concurrent callers never interleave: each lands whole.
  virtual void Append(std::string_view text) = 0;

  // ---- Message boxes ----------------------------------------------------------------------
  // A box with an OK button and no icon, caption the application name.
  // Called by: run control (on the RUN thread), every job, probe commands. Blocking: yes, until
  // the operator acknowledges the box; other threads go on meanwhile. Returns nothing.
  virtual void ShowMessage(std::string_view text) = 0;
  // The same with the caption "Error" (the library-bind failure box). Called by: run control
  // while it binds the link library. Blocking: as ShowMessage.
  virtual void ShowErrorMessage(std::string_view text) = 0;

  // ---- Run state and the controls it locks ------------------------------------------------
  // Pushes the front end's own fields back to its controls (the dialog's UpdateData(FALSE)).
  // Called by: run control, on the RUN thread. Blocking: never.
  virtual void RefreshDialogControls() = 0;
  // The run's state as run control moved it (core/run_state.h); the front end shows its RUN/STOP
  // button from it (FaceOf). Called by: run control on the RUN thread (starting, stopping, idle
  // after a failed start), the monitor (running, ending, idle) and the pin-toggle job (toggling,
  // idle). Blocking: never. Calls arrive in the order the state moved.
  virtual void ShowRunState(RunState state) = 0;
  // The "Products" and "Flash Type" frames, the Products list and the NAND and NOR buttons,
  // disabled together while a download runs. Called by: the monitor. Blocking: never.
  virtual void EnableRunSettingControls(bool enabled) = 0;

  // ---- Progress -----------------------------------------------------------------------------
  // Progress bar and elapsed-time label. Called by: run control (range, step, position 0) and
  // the monitor (position, elapsed time). Blocking: never.
  virtual void SetProgressRange(int lower, int upper) = 0;
  virtual void SetProgressPos(int pos) = 0;
  virtual void SetProgressStep(int step) = 0;
  virtual void SetElapsedTimeText(std::string_view text) = 0;

  // ---- Device states --------------------------------------------------------------------------
  // Shows "YES"/"NO" per device index and clears the 48 sent-byte counts.
  // Called by: run control after identification, on the RUN thread. Blocking: yes, until the
  // display has taken the states (so that no count of the new run is cleared afterwards).
  virtual void ShowDeviceStates(const std::array<uint8_t, 16>& slots) = 0;
  // Called by: the download jobs after every chunk they send (thousands of times a second with
  // 16 probes). Blocking: never; stores the count at once and must be cheap; the display of
  // "%d%%" may be coalesced, but when the cell is drawn it reflects the latest count. `size` may
  // be 0 (an empty file shows 100%).
  virtual void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) = 0;
  // The one operation that returns something: the sum of the 48 counts this view was given by
  // UpdateFileProgress since the last ShowDeviceStates (64-bit so that 16 probes of large images
  // cannot overflow). Called by: the monitor, every 10 ms. Blocking: never (atomics only).
  virtual uint64_t TotalSentBytes() = 0;

  // ---- Firmware versions ------------------------------------------------------------------
  // Called by: download and pin-toggle jobs after reading a probe's versions. Blocking: never.
  virtual void SetFirmwareVersion(std::string_view text) = 0;
  virtual void SetBootloaderVersion(std::string_view text) = 0;
};

}  // namespace zolt
