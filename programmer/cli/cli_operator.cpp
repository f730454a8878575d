// SPDX-License-Identifier: MIT
#include "cli/cli_operator.h"

#include <algorithm>
#include <cstdio>

#include "core/image_size.h"

namespace zolt::cli {

RunRequest BuildRunRequest(const FlashOptions& o) {
  RunRequest r;
  r.productIndex = o.productIndex;
  r.flashType = o.nandSelected ? FlashType::kNand : o.norSelected ? FlashType::kNor : FlashType::kNone;
  r.norType = o.norType;
  r.width = o.width;
  r.interleave = o.interleave;
  char hex[16];
  std::snprintf(hex, sizeof hex, "%X", static_cast<unsigned>(o.offset));
  r.offsetText = hex;
  for (size_t s = 0; s < 3; ++s) {
    r.images[s] = {o.imageEnabled[s], o.imageEnabled[s] ? o.imagePath[s] : std::string(),
                   std::to_string(o.block[s])};
  }
  r.multiDevice = o.multiDevice;
  r.pinToggle = o.pinToggle;
  r.intervalMs = o.intervalMs;
  return r;
}

CliOperator::CliOperator(const FlashOptions& options, Console& console)
    : options_(options), console_(console) {}

void CliOperator::Append(std::string_view text) {
  console_.WriteLog(text);
}

void CliOperator::ShowMessage(std::string_view text) {
  {
    std::lock_guard lock(mu_);
    messages_.emplace_back(text);
  }
  console_.WriteMessage(text);
}

void CliOperator::ShowErrorMessage(std::string_view text) {
  ShowMessage(text);
}

void CliOperator::SetProgressRange(int lower, int upper) {
  progressLower_ = lower;
  progressUpper_ = upper;
}

void CliOperator::SetProgressPos(int pos) {
  progressPos_ = pos;
}

void CliOperator::ShowDeviceStates(const std::array<uint8_t, 16>& slots) {
  // A device's 100 %: measured here, right after identification, by the rule run control sums
  // the run with (a file the jobs refuse counts 0).
  uint64_t imageBytes = 0;
  for (int slot = 0; slot < 3; ++slot) {
    if (options_.imageEnabled[slot]) imageBytes += CountedImageBytes(options_.imagePath[slot]);
  }
  for (auto& device : sent_) {
    for (auto& file : device) file.store(0, std::memory_order_relaxed);
  }
  std::lock_guard lock(mu_);
  slots_ = slots;
  imageBytes_ = imageBytes;
}

void CliOperator::UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) {
  (void)fileSize;
  if (device < 0 || device >= 16 || file < 0 || file >= 3) return;
  sent_[device][file].store(sentBytes, std::memory_order_relaxed);
}

uint64_t CliOperator::TotalSentBytes() {
  uint64_t sum = 0;
  for (const auto& device : sent_) {
    for (const auto& file : device) sum += file.load(std::memory_order_relaxed);
  }
  return sum;
}

void CliOperator::SetFirmwareVersion(std::string_view text) {
  std::lock_guard lock(mu_);
  firmwareVersion_ = text;
}

void CliOperator::SetBootloaderVersion(std::string_view text) {
  std::lock_guard lock(mu_);
  bootloaderVersion_ = text;
}

std::vector<int> CliOperator::TakingPart() const {
  std::lock_guard lock(mu_);
  std::vector<int> devices;
  for (int d = 0; d < 16; ++d) {
    if (slots_[d] == 1) devices.push_back(d);
  }
  return devices;
}

int CliOperator::RunPercent() const {
  const int lower = progressLower_, upper = progressUpper_;
  const int pos = std::clamp(progressPos_.load(), std::min(lower, upper), std::max(lower, upper));
  return upper == lower ? 0 : static_cast<int>(int64_t(pos - lower) * 100 / (upper - lower));
}

int CliOperator::DevicePercent(int device) const {
  uint64_t imageBytes;
  {
    std::lock_guard lock(mu_);
    imageBytes = imageBytes_;
  }
  uint64_t sent = 0;
  for (const auto& file : sent_[device]) sent += file.load(std::memory_order_relaxed);
  if (imageBytes == 0) return 0;
  return static_cast<int>(std::min<uint64_t>(100, sent * 100 / imageBytes));
}

std::vector<std::string> CliOperator::Messages() const {
  std::lock_guard lock(mu_);
  return messages_;
}

std::string CliOperator::FirmwareVersion() const {
  std::lock_guard lock(mu_);
  return firmwareVersion_;
}

std::string CliOperator::BootloaderVersion() const {
  std::lock_guard lock(mu_);
  return bootloaderVersion_;
}

}  // namespace zolt::cli
