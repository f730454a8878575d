// SPDX-License-Identifier: MIT
// DialogOperator: zolt::RunView for the Qt dialog. The core calls it from the GUI thread (run
// control) and from its worker threads (the jobs), several at once.
//
// Threads. Every operation may be called from any thread.
// - On the GUI thread each runs directly.
// - From another thread: Append, ShowRunState, the control, progress and version setters and
//   RefreshDialogControls are queued to the GUI thread and return at once (calls of one thread
//   take effect in the order made; each Append lands whole); ShowDeviceStates blocks until the
//   GUI thread has run it; ShowMessage and ShowErrorMessage block until the operator has pressed OK.
// - UpdateFileProgress and TotalSentBytes never reach the GUI thread: the counts are atomics, and
//   the device list redraws changed cells at most about 30 times a second.
// Lifetime: the dialog must outlive this object, and this object every thread that calls it
// (RunControl, which joins its threads, is destroyed first).
// Nothing fails; nothing throws.
#pragma once

#include "core/run_view.h"

namespace zolt::ui {

class ProgrammerDialog;

class DialogOperator final : public RunView {
 public:
  explicit DialogOperator(ProgrammerDialog& dialog) : dialog_(dialog) {}

  void Append(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  void ShowErrorMessage(std::string_view text) override;
  void RefreshDialogControls() override;
  void ShowRunState(RunState state) override;
  void EnableRunSettingControls(bool enabled) override;
  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int pos) override;
  void SetProgressStep(int step) override;
  void SetElapsedTimeText(std::string_view text) override;
  void ShowDeviceStates(const std::array<uint8_t, 16>& slots) override;
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) override;
  uint64_t TotalSentBytes() override;
  void SetFirmwareVersion(std::string_view text) override;
  void SetBootloaderVersion(std::string_view text) override;

 private:
  ProgrammerDialog& dialog_;
};

}  // namespace zolt::ui
