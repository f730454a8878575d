// SPDX-License-Identifier: MIT
// SilentRunView: a RunView that shows nothing, for the parts that take only some of a run's
// outputs (the station's polling and its jobs, the benchmarks' operator). Each overrides what it
// keeps; every other operation does nothing and TotalSentBytes is 0.
#pragma once

#include "core/run_view.h"

namespace zolt {

class SilentRunView : public RunView {
 public:
  void Append(std::string_view) override {}
  void ShowMessage(std::string_view) override {}
  void ShowErrorMessage(std::string_view) override {}
  void RefreshDialogControls() override {}
  void ShowRunState(RunState) override {}
  void EnableRunSettingControls(bool) override {}
  void SetProgressRange(int, int) override {}
  void SetProgressPos(int) override {}
  void SetProgressStep(int) override {}
  void SetElapsedTimeText(std::string_view) override {}
  void ShowDeviceStates(const std::array<uint8_t, 16>&) override {}
  void UpdateFileProgress(int, int, uint32_t, uint32_t) override {}
  uint64_t TotalSentBytes() override { return 0; }
  void SetFirmwareVersion(std::string_view) override {}
  void SetBootloaderVersion(std::string_view) override {}
};

}  // namespace zolt
