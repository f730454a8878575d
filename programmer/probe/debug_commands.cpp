// SPDX-License-Identifier: MIT
// Target debug commands (JTAG data-register scan, debug-bus word read and write), the debug-mode
// sequence of TARVIS and SOLANT, and the two flash description commands.
#include <cstdio>
#include <cstring>
#include <span>

#include "probe/exchange.h"
#include "probe/probe_commands.h"

namespace zolt {
namespace {

// Longest scan the probe accepts in one SetJtagDr.
constexpr int kMaxJtagDrBits = 13;

// The sent record follows a kind-tagged header: code, flash type code, 16-bit payload length.
template <size_t N>
CommandResult SendKindTagged(const ProbeCommands& probe, int device, uint8_t code, uint8_t flashTypeCode,
                             const std::array<uint8_t, N>& record, const CommandTexts& texts) {
  uint8_t buffer[4 + N] = {code, flashTypeCode};
  PutLe16(buffer + 2, N);
  std::memcpy(buffer + 4, record.data(), N);
  return RunExchange(probe.link(), probe.op(), device, buffer, 4 + N, 5, true, texts);
}

}  // namespace

CommandResult ProbeCommands::SetJtagDr(int device, const uint8_t* bits, int bitCount) const {
  // The command buffer is sized for the longest scan; anything longer is refused unsent.
  if (bitCount < 0 || bitCount > kMaxJtagDrBits || (bits == nullptr && bitCount > 0)) {
    return CommandResult::Failed(CommandStep::kRefused);
  }
  uint8_t buffer[3 + kMaxJtagDrBits] = {0x05};
  PutLe16(buffer + 1, static_cast<uint32_t>(bitCount));
  if (bitCount > 0) std::memcpy(buffer + 3, bits, bitCount);
  return RunExchange(link_, op_, device, buffer, 3 + bitCount, 5, false,
                     {"Cannot Write 'SET JTAG DR' Command", "Cannot Read 'SET JTAG DR' Response"});
}

CommandResult ProbeCommands::DebugBusReadWord(int device, uint32_t address, uint32_t* data) const {
  uint8_t buffer[5] = {0x06};
  PutLe32(buffer + 1, address);
  // The read command shares the write command's failure texts.
  CommandResult result = RunExchange(
      link_, op_, device, buffer, 5, 5, false,
      {"Cannot Write 'DEBUG BUS Word Write' Command", "Cannot Read 'DEBUG BUS Word Write' Response"});
  if (result.ok() && data != nullptr) *data = GetLe32(buffer + 1);
  return result;
}

CommandResult ProbeCommands::DebugBusWriteWord(int device, uint32_t address, uint32_t data) const {
  uint8_t buffer[9] = {0x07};
  PutLe32(buffer + 1, address);
  PutLe32(buffer + 5, data);
  // A failed read and a wrong answer both mean the word may not have been written.
  return RunExchange(
      link_, op_, device, buffer, 9, 5, true,
      {"Cannot Write 'DEBUG BUS Word Write' Command", "Cannot Read Word Data", "Cannot Read Word Data"});
}

CommandResult ProbeCommands::ConfigDebugMode(int device, int product) const {
  static constexpr uint8_t kScan1[] = {0, 0, 0, 0, 0};
  static constexpr uint8_t kScan2[] = {1, 0, 0, 1, 0, 1};
  static constexpr uint8_t kScan3[] = {0, 0, 0, 1, 1};
  for (std::span<const uint8_t> scan : {std::span<const uint8_t>(kScan1), std::span<const uint8_t>(kScan2),
                                        std::span<const uint8_t>(kScan3)}) {
    CommandResult result = SetJtagDr(device, scan.data(), static_cast<int>(scan.size()));
    if (!result.ok()) return result;
  }

  // Only the word read back decides: a failed read leaves it cleared, which never matches. The
  // individual commands have already shown their own texts.
  if (product == kTarvis) {
    constexpr uint32_t kFlashCfgReg = 0x80000410, kFlashCfg = 0x5550;
    (void)DebugBusWriteWord(device, kFlashCfgReg, kFlashCfg);
    uint32_t readBack = 0;
    (void)DebugBusReadWord(device, kFlashCfgReg, &readBack);
    if (readBack == kFlashCfg) return CommandResult::Ok();
    char text[64];
    std::snprintf(text, sizeof text, "Cannot Write flash cfg reg [0x%X]", readBack);
    return ShowFailure(op_, CommandStep::kAnswer, text);
  }
  if (product == kSolant) {
    constexpr uint32_t kDebugSwitchReg = 0x80020004, kDebugSwitchOn = 0x20;
    constexpr uint32_t kFlashConfigReg = 0x80000400, kFlashConfig = 0x2220;
    uint32_t switches = 0;
    (void)DebugBusReadWord(device, kDebugSwitchReg, &switches);
    if (switches & kDebugSwitchOn) {
      return ShowFailure(op_, CommandStep::kAnswer,
                         "Cannot go into debugging mode. \nPlease turn off the debug switch.");
    }
    (void)DebugBusWriteWord(device, kFlashConfigReg, kFlashConfig);
    uint32_t readBack = 0;
    (void)DebugBusReadWord(device, kFlashConfigReg, &readBack);
    if (readBack == kFlashConfig) return CommandResult::Ok();
    return ShowFailure(op_, CommandStep::kAnswer, "Cannot Write flash config register to SOLANT");
  }
  return CommandResult::Failed(CommandStep::kAnswer);  // no debug mode on this product
}

CommandResult ProbeCommands::SetFlashInfo(int device, const FlashInfo& info, uint8_t flashTypeCode) const {
  return SendKindTagged(*this, device, 0x15, flashTypeCode, info,
                        {"Cannot Write 'SET FLASH INFO' Command", "Cannot Read 'SET FLASH INFO' Response",
                         "ERROR, 'SET FLASH INFO' Response"});
}

CommandResult ProbeCommands::SetFlashCfi(int device, const FlashCfi& cfi, uint8_t flashTypeCode) const {
  return SendKindTagged(*this, device, 0x16, flashTypeCode, cfi,
                        {"Cannot Write 'SET FLASH CFI' Command", "Cannot Read 'SET FLASH CFI' Response",
                         "ERROR, Read FLASH CFI"});
}

}  // namespace zolt
