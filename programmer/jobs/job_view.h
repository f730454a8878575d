// SPDX-License-Identifier: MIT
// A RunView that passes every call through to the run's RunView and remembers the last message
// box text shown through it, so that a download job can name the text that reported its failure
// (RunObserver::OnJobEnded) even when a probe command showed it. One per job, used only on that
// job's thread; the calls it forwards keep the forwarded view's threading rules.
#pragma once

#include <string>

#include "core/run_view.h"

namespace zolt {

class JobView final : public RunView {
 public:
  explicit JobView(RunView& inner) : inner_(inner) {}

  // The last message box text shown through this object ("" if none).
  const std::string& LastMessage() const { return lastMessage_; }

  void Append(std::string_view text) override { inner_.Append(text); }
  void ShowMessage(std::string_view text) override {
    lastMessage_.assign(text);
    inner_.ShowMessage(text);
  }
  void ShowErrorMessage(std::string_view text) override {
    lastMessage_.assign(text);
    inner_.ShowErrorMessage(text);
  }
  void RefreshDialogControls() override { inner_.RefreshDialogControls(); }
  void ShowRunState(RunState state) override { inner_.ShowRunState(state); }
  void EnableRunSettingControls(bool enabled) override { inner_.EnableRunSettingControls(enabled); }
  void SetProgressRange(int lower, int upper) override { inner_.SetProgressRange(lower, upper); }
  void SetProgressPos(int pos) override { inner_.SetProgressPos(pos); }
  void SetProgressStep(int step) override { inner_.SetProgressStep(step); }
  void SetElapsedTimeText(std::string_view text) override { inner_.SetElapsedTimeText(text); }
  void ShowDeviceStates(const std::array<uint8_t, 16>& slots) override { inner_.ShowDeviceStates(slots); }
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) override {
    inner_.UpdateFileProgress(device, file, sentBytes, fileSize);
  }
  uint64_t TotalSentBytes() override { return inner_.TotalSentBytes(); }
  void SetFirmwareVersion(std::string_view text) override { inner_.SetFirmwareVersion(text); }
  void SetBootloaderVersion(std::string_view text) override { inner_.SetBootloaderVersion(text); }

 private:
  RunView& inner_;
  std::string lastMessage_;
};

}  // namespace zolt
