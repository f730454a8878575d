// SPDX-License-Identifier: MIT
// A RunView for tests: records the log, the message boxes and every control change, and
// acknowledges message boxes at once. Its settable fields stand for the front end's settings;
// Request() builds the RunRequest a front end would hand to run control from them.
#pragma once

#include <array>
#include <atomic>
#include <cstdio>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "core/run_request.h"
#include "core/run_view.h"

namespace zolt::testing {

class RecordingOperator : public RunView {
 public:
  // ---- the front end's settings (set by the test before a run) ----
  struct Fields {
    int productIndex = 0;
    bool nandSelected = false;
    bool norSelected = true;
    bool verifyEnabled = true;  // not part of the request: RunControl::SetVerify, JobContext::verify
  };
  Fields fields;
  int width = 8, interleave = 1, norType = 0;
  uint32_t offset = 0;
  std::array<bool, 3> imageEnabled{true, false, false};
  std::array<std::string, 3> imagePath{};
  std::array<uint32_t, 3> imageBlock{0, 1, 2};
  bool pinToggle = false;
  int interval = 100;
  bool multiDevice = true;
  RunRequest Request() const {
    RunRequest r;
    r.productIndex = fields.productIndex;
    r.flashType = fields.nandSelected  ? FlashType::kNand
                  : fields.norSelected ? FlashType::kNor
                                       : FlashType::kNone;
    r.norType = norType;
    r.width = width;
    r.interleave = interleave;
    char hex[16];
    std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(offset));
    r.offsetText = hex;
    for (size_t s = 0; s < 3; ++s)
      r.images[s] = {imageEnabled[s], imagePath[s], std::to_string(imageBlock[s])};
    r.multiDevice = multiDevice;
    r.pinToggle = pinToggle;
    r.intervalMs = interval;
    return r;
  }
  // Called (outside the lock) after each message box is recorded, e.g. to press STOP.
  std::function<void(const std::string&)> onMessage;

  // ---- what the core did ----
  std::string Log() const {
    std::lock_guard l(mu_);
    return log_;
  }
  std::vector<std::string> Messages() const {
    std::lock_guard l(mu_);
    return messages_;
  }
  std::vector<std::string> ErrorMessages() const {
    std::lock_guard l(mu_);
    return errors_;
  }
  RunState runState = RunState::kIdle;  // the last state shown
  bool runSettingControlsEnabled = true;
  // The run states shown and the setting controls' enabling, in order: "state:running",
  // "settings:0", ...
  std::vector<std::string> buttonEvents;
  int progressLower = 0, progressUpper = 100, progressPos = 0, progressStep = 1;
  std::vector<int> progressPositions;
  std::string elapsedText = "00 : 00";
  std::array<uint8_t, 16> deviceStates{};
  std::array<std::string, 16> deviceCells{};
  std::string firmwareVersion = "?", bootloaderVersion = "?";
  int refreshCount = 0;

  void Append(std::string_view text) override {
    std::lock_guard l(mu_);
    log_.append(text);
  }
  void ShowMessage(std::string_view text) override {
    {
      std::lock_guard l(mu_);
      messages_.emplace_back(text);
    }
    if (onMessage) onMessage(std::string(text));
  }
  void ShowErrorMessage(std::string_view text) override {
    {
      std::lock_guard l(mu_);
      errors_.emplace_back(text);
      messages_.emplace_back(text);
    }
    if (onMessage) onMessage(std::string(text));
  }
  void RefreshDialogControls() override {
    std::lock_guard l(mu_);
    ++refreshCount;
  }
  void ShowRunState(RunState state) override {
    std::lock_guard l(mu_);
    runState = state;
    buttonEvents.push_back("state:" + std::string(NameOf(state)));
  }
  RunState ShownRunState() const {
    std::lock_guard l(mu_);
    return runState;
  }
  void EnableRunSettingControls(bool e) override {
    std::lock_guard l(mu_);
    runSettingControlsEnabled = e;
    buttonEvents.push_back(e ? "settings:1" : "settings:0");
  }
  void SetProgressRange(int lo, int up) override {
    std::lock_guard l(mu_);
    progressLower = lo;
    progressUpper = up;
  }
  void SetProgressPos(int p) override {
    std::lock_guard l(mu_);
    progressPos = p;
    progressPositions.push_back(p);
  }
  void SetProgressStep(int s) override {
    std::lock_guard l(mu_);
    progressStep = s;
  }
  void SetElapsedTimeText(std::string_view t) override {
    std::lock_guard l(mu_);
    elapsedText = t;
  }
  void ShowDeviceStates(const std::array<uint8_t, 16>& slots) override {
    std::lock_guard l(mu_);
    deviceStates = slots;
    for (int d = 0; d < 16; ++d) deviceCells[d] = slots[d] == 1 ? "YES" : "NO";
    for (auto& row : sent_)
      for (auto& v : row) v.store(0);
  }
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) override {
    sent_[device][file].store(sentBytes);
    uint64_t pct = fileSize == 0 ? 100 : uint64_t(sentBytes) * 100 / fileSize;
    std::lock_guard l(mu_);
    deviceCells[device] = std::to_string(pct) + "%";
  }
  uint64_t TotalSentBytes() override {
    uint64_t sum = 0;
    for (auto& row : sent_)
      for (auto& v : row) sum += v.load();
    return sum;
  }
  void SetFirmwareVersion(std::string_view t) override {
    std::lock_guard l(mu_);
    firmwareVersion = t;
  }
  void SetBootloaderVersion(std::string_view t) override {
    std::lock_guard l(mu_);
    bootloaderVersion = t;
  }

  uint32_t SentBytes(int device, int file) const { return sent_[device][file].load(); }

 private:
  mutable std::mutex mu_;
  std::string log_;
  std::vector<std::string> messages_, errors_;
  std::array<std::array<std::atomic<uint32_t>, 3>, 16> sent_{};
};

}  // namespace zolt::testing
