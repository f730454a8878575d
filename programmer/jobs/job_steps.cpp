// SPDX-License-Identifier: MIT
#include "jobs/job_steps.h"

#include <cctype>
#include <cstring>
#include <thread>

#include "jobs/text_format.h"
#include "probe/nor_type_table.h"
#include "probe/products.h"

namespace zolt {

int ClaimDeviceSlot(std::array<std::atomic<uint8_t>, kMaxProbes>& slots) {
  for (int i = 0; i < kMaxProbes; ++i) {
    if (slots[i].load() == 1 && slots[i].exchange(0) == 1) return i;
  }
  return -1;
}

uint32_t VersionNumber(const char* text) {
  char digits[8] = {};
  int length = 0;
  for (int i = 0; text[i] != '\0' && i < 7; ++i) {
    if (i != 2) digits[length++] = text[i];
  }
  const char* p = digits;
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<uint32_t>(*p - '0');
  return value;
}

void DelayMs(const TickClock& clock, int ms) {
  const uint32_t start = clock.NowMs();
  while (static_cast<int32_t>(clock.NowMs() - start) <= ms) std::this_thread::yield();
}

StepResult CheckProbeVersions(const ProbeCommands& probe, RunView& op, int device,
                              uint32_t* bootloaderNumber) {
  char version[8] = {};
  const CommandResult firmware = probe.GetFirmwareVersion(device, version);
  if (!firmware.ok()) return StepResult::Failed(firmware.text());
  op.SetFirmwareVersion(version);
  if (VersionNumber(version) < kMinimumFirmware) {
    std::string text = Format("DEVICE #%d: Sorry, upgrate firmware of USB JTAG", device);
    op.ShowMessage(text);
    return StepResult::Failed(std::move(text));
  }
  if (probe.GetBootloaderVersion(device, version).ok()) {
    op.SetBootloaderVersion(version);
  } else {
    op.SetBootloaderVersion("Unknown");
    version[0] = '\0';
  }
  *bootloaderNumber = VersionNumber(version);
  return {};
}

StepResult LoadBoundaryData(const ProbeCommands& probe, RunView& op, int device, const RunSettings& settings,
                            int product, BoundaryPinMap& map, BoundaryImage& image, int* imageLength) {
  BuildBoundaryLayout(map, image.data(), imageLength, static_cast<uint8_t>(settings.flashTypeCode), product,
                      settings.busWidth, settings.norOffset);
  if (!probe.SetExtest(device).ok()) {
    std::string text = ExtestFailedText(device);
    op.Append(text);
    return StepResult::Failed(std::move(text));
  }
  if (!probe.InitBoundaryData(device, image.data(), *imageLength).ok()) {
    op.Append("Cannot INIT BOUNDARY Data");
    return StepResult::Failed("Cannot INIT BOUNDARY Data");
  }
  return {};
}

std::string ExtestFailedText(int device) {
  return Format("DEVICE #%d: Cannot SET EXTEST", device);
}

const char* DisplayName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

void AppendFlashTypeHeader(RunView& op, const RunRequest& request, const RunSettings& settings) {
  if (request.flashType == FlashType::kNand) {
    op.Append("[Download to NAND FLASH]\r\n");
    return;
  }
  op.Append("[Download to NOR FLASH]\r\n");
  if (request.productIndex == kTarvis) return;  // TARVIS detects its part
  op.Append("  **** NOR FLASH SETTING ********************************\r\n");
  op.Append(Format("  NAME: %s\r\n", NorTypeLogName(settings.norType)));
  op.Append(Format("  WIDTH: %d\r\n", settings.norWidth));
  op.Append(Format("  INTERLEAVE: %d\r\n", settings.norInterleave));
  op.Append("  **********************************************************\r\n");
}

}  // namespace zolt
