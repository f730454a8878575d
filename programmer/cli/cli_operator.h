// SPDX-License-Identifier: MIT
// CliOperator: the RunView of zolt-flash. The log goes to stdout, message boxes become
// "message: TEXT" lines on stderr and are acknowledged at once, and the controls' states are kept only as far
// as the progress line and the run summary need them.
//
// Threads: every operation is callable from any thread (run control on the main thread, the jobs
// on theirs); none blocks beyond writing its text to a descriptor. UpdateFileProgress only stores
// two atomics, so jobs streaming on 16 probes pay nothing for the display.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <mutex>
#include <string>
#include <vector>

#include "cli/console.h"
#include "cli/options.h"
#include "core/run_request.h"
#include "core/run_view.h"

namespace zolt::cli {

// The RunRequest the dialog would hand over with the pages showing `options`. The numbers go in
// as the texts that read back as the values the options parsed; a disabled slot has no path.
RunRequest BuildRunRequest(const FlashOptions& options);

class CliOperator final : public RunView {
 public:
  CliOperator(const FlashOptions& options, Console& console);

  void Append(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  void ShowErrorMessage(std::string_view text) override;

  void RefreshDialogControls() override {}
  // The session reads the run's state from RunControl itself; there is no button to show.
  void ShowRunState(RunState state) override { (void)state; }
  void EnableRunSettingControls(bool enabled) override { (void)enabled; }

  void SetProgressRange(int lower, int upper) override;
  void SetProgressPos(int pos) override;
  void SetProgressStep(int step) override { (void)step; }
  void SetElapsedTimeText(std::string_view text) override { (void)text; }

  void ShowDeviceStates(const std::array<uint8_t, 16>& slots) override;
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) override;
  uint64_t TotalSentBytes() override;

  void SetFirmwareVersion(std::string_view text) override;
  void SetBootloaderVersion(std::string_view text) override;

  // ---- For zolt-flash itself ---------------------------------------------------------------
  // The device indices ShowDeviceStates marked "YES" (empty before identification).
  std::vector<int> TakingPart() const;
  // Run percentage as the bar shows it (0..100).
  int RunPercent() const;
  // Percentage of all enabled image bytes that `device` has sent (its files together).
  int DevicePercent(int device) const;
  std::vector<std::string> Messages() const;
  std::string FirmwareVersion() const;
  std::string BootloaderVersion() const;

 private:
  const FlashOptions& options_;
  Console& console_;

  mutable std::mutex mu_;
  std::vector<std::string> messages_;
  std::array<uint8_t, 16> slots_{};
  uint64_t imageBytes_ = 0;  // sum of the enabled files' sizes, per device
  std::string firmwareVersion_ = "?", bootloaderVersion_ = "?";

  std::atomic<int> progressLower_{0}, progressUpper_{100}, progressPos_{0};
  std::array<std::array<std::atomic<uint32_t>, 3>, 16> sent_{};
};

}  // namespace zolt::cli
