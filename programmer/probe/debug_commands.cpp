// SPDX-License-Identifier: MIT
// Target debug commands (JTAG data-register scan, debug-bus word read and write), the debug-mode
// sequence of TARVIS and SOLANT, and the two flash description commands.
#include <cstdio>
#include <cstring>

#include "probe/exchange.h"
#include "probe/probe_commands.h"

namespace zolt {
namespace {

// Longest scan the probe accepts in one SetJtagDr.
constexpr int kMaxJtagDrBits = 13;

// The sent record follows a kind-tagged header: code, flash type code, 16-bit payload length.
template <size_t N>
int SendKindTagged(const ProbeCommands& probe, int device, uint8_t code, uint8_t flashTypeCode,
                   const std::array<uint8_t, N>& record, const CommandTexts& texts) {
  uint8_t buffer[4 + N] = {code, flashTypeCode};
  PutLe16(buffer + 2, N);
  std::memcpy(buffer + 4, record.data(), N);
  return RunExchange(probe.link(), probe.op(), device, buffer, 4 + N, 5, true, texts);
}

}  // namespace

int ProbeCommands::SetJtagDr(int device, const uint8_t* bits, int bitCount) const {
  // The command buffer is sized for the longest scan; anything longer is refused unsent.
  if (bitCount < 0 || bitCount > kMaxJtagDrBits || (bits == nullptr && bitCount > 0)) return -1;
  uint8_t buffer[3 + kMaxJtagDrBits] = {0x05};
  PutLe16(buffer + 1, static_cast<uint32_t>(bitCount));
  if (bitCount > 0) std::memcpy(buffer + 3, bits, bitCount);
  return RunExchange(link_, op_, device, buffer, 3 + bitCount, 5, false,
                     {"Cannot Write 'SET JTAG DR' Command", "Cannot Read 'SET JTAG DR' Response"});
}

int ProbeCommands::DebugBusReadWord(int device, uint32_t address, uint32_t* data) const {
  uint8_t buffer[5] = {0x06};
  PutLe32(buffer + 1, address);
  // The read command shares the write command's failure texts.
  if (RunExchange(link_, op_, device, buffer, 5, 5, false,
                  {"Cannot Write 'DEBUG BUS Word Write' Command",
                   "Cannot Read 'DEBUG BUS Word Write' Response"}) != 0) {
    return -1;
  }
  if (data != nullptr) *data = GetLe32(buffer + 1);
  return 0;
}

int ProbeCommands::DebugBusWriteWord(int device, uint32_t address, uint32_t data) const {
  uint8_t buffer[9] = {0x07};
  PutLe32(buffer + 1, address);
  PutLe32(buffer + 5, data);
  // A failed read and a wrong answer both mean the word may not have been written.
  return RunExchange(
      link_, op_, device, buffer, 9, 5, true,
      {"Cannot Write 'DEBUG BUS Word Write' Command", "Cannot Read Word Data", "Cannot Read Word Data"});
}

int ProbeCommands::ConfigDebugMode(int device, int product) const {
  static constexpr uint8_t kScan1[] = {0, 0, 0, 0, 0};
  static constexpr uint8_t kScan2[] = {1, 0, 0, 1, 0, 1};
  static constexpr uint8_t kScan3[] = {0, 0, 0, 1, 1};
  if (SetJtagDr(device, kScan1, sizeof kScan1) != 0 || SetJtagDr(device, kScan2, sizeof kScan2) != 0 ||
      SetJtagDr(device, kScan3, sizeof kScan3) != 0) {
    return -1;
  }

  // Only the word read back decides: a failed read leaves it cleared, which never matches. The
  // individual commands have already shown their own texts.
  if (product == kTarvis) {
    constexpr uint32_t kFlashCfgReg = 0x80000410, kFlashCfg = 0x5550;
    DebugBusWriteWord(device, kFlashCfgReg, kFlashCfg);
    uint32_t readBack = 0;
    DebugBusReadWord(device, kFlashCfgReg, &readBack);
    if (readBack == kFlashCfg) return 0;
    char text[64];
    std::snprintf(text, sizeof text, "Cannot Write flash cfg reg [0x%X]", readBack);
    op_.ShowMessage(text);
    return -1;
  }
  if (product == kSolant) {
    constexpr uint32_t kDebugSwitchReg = 0x80020004, kDebugSwitchOn = 0x20;
    constexpr uint32_t kFlashConfigReg = 0x80000400, kFlashConfig = 0x2220;
    uint32_t switches = 0;
    DebugBusReadWord(device, kDebugSwitchReg, &switches);
    if (switches & kDebugSwitchOn) {
      op_.ShowMessage("Cannot go into debugging mode. \nPlease turn off the debug switch.");
      return -1;
    }
    DebugBusWriteWord(device, kFlashConfigReg, kFlashConfig);
    uint32_t readBack = 0;
    DebugBusReadWord(device, kFlashConfigReg, &readBack);
    if (readBack == kFlashConfig) return 0;
    op_.ShowMessage("Cannot Write flash config register to SOLANT");
    return -1;
  }
  return -1;
}

int ProbeCommands::SetFlashInfo(int device, const FlashInfo& info, uint8_t flashTypeCode) const {
  return SendKindTagged(*this, device, 0x15, flashTypeCode, info,
                        {"Cannot Write 'SET FLASH INFO' Command", "Cannot Read 'SET FLASH INFO' Response",
                         "ERROR, 'SET FLASH INFO' Response"});
}

int ProbeCommands::SetFlashCfi(int device, const FlashCfi& cfi, uint8_t flashTypeCode) const {
  return SendKindTagged(*this, device, 0x16, flashTypeCode, cfi,
                        {"Cannot Write 'SET FLASH CFI' Command", "Cannot Read 'SET FLASH CFI' Response",
                         "ERROR, Read FLASH CFI"});
}

}  // namespace zolt
