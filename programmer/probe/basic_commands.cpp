// SPDX-License-Identifier: MIT
// The basic probe commands: the two JTAG resets, the firmware and bootloader version queries,
// the JTAG ID read and the JTAG type setting.
#include <algorithm>
#include <cstring>

#include "probe/exchange.h"
#include "probe/firmware_version.h"
#include "probe/probe_commands.h"

namespace zolt {
namespace {

constexpr char kFirmwareVersionRequest[] = "USB_JTAGorISP <RUN> <GetFirmwareVersionCmd>";
static_assert(sizeof(kFirmwareVersionRequest) == kFirmwareVersionCommandLength - 1);
constexpr char kFirmwarePrefix[] = "ZOLT USB JTAG";
constexpr int kFirmwareVersionAt = 17;

constexpr int kBootloaderResponseLength = 33;
constexpr char kBootloaderPrefix[] = "ZOLT USB_ISP Bootloader Ver";
constexpr int kBootloaderVersionAt = 28;

constexpr int kJtagIdResponseLength = 32;

// A short command: the code, then four parameter bytes (zero where the command uses none).
CommandResult SendShortCommand(const ProbeCommands& probe, int device, uint8_t code,
                               const CommandTexts& texts, const uint8_t param[4] = nullptr) {
  uint8_t buffer[5] = {code, 0, 0, 0, 0};
  if (param != nullptr) std::memcpy(buffer + 1, param, 4);
  return RunExchange(probe.link(), probe.op(), device, buffer, 5, 5, false, texts);
}

// Reverses the 32 bytes of a JTAG ID reply in place (byte 0 swaps with byte 31, and so on), so
// the most significant ID bit comes first.
void ReverseBytes32(uint8_t* bytes) {
  std::reverse(bytes, bytes + 32);
}

// Copies the text at `from` up to its zero (the caller has put one within reach) into `out`.
void CopyVersionText(const uint8_t* from, char* out) {
  if (out != nullptr) std::strcpy(out, reinterpret_cast<const char*>(from));
}

}  // namespace

void BuildFirmwareVersionCommand(uint8_t* buffer) {
  buffer[0] = 0x98;
  std::memcpy(buffer + 1, kFirmwareVersionRequest, sizeof(kFirmwareVersionRequest));
}

bool TakeFirmwareVersion(uint8_t* buffer, char* version) {
  buffer[kFirmwareVersionResponseLength] = 0;
  if (std::memcmp(buffer, kFirmwarePrefix, sizeof(kFirmwarePrefix) - 1) != 0) return false;
  CopyVersionText(buffer + kFirmwareVersionAt, version);
  return true;
}

CommandResult ProbeCommands::JtagReset(int device) const {
  return SendShortCommand(*this, device, 0x01,
                          {"Cannot Write 'JTAG Reset' Command", "Cannot Read 'JTAG Reset' Response"});
}

CommandResult ProbeCommands::JtagTestLogicReset(int device) const {
  return SendShortCommand(
      *this, device, 0x02,
      {"Cannot Write 'JTAG Test Logic Reset' Command", "Cannot Read 'JTAG Test Logic Reset' Response"});
}

CommandResult ProbeCommands::GetFirmwareVersion(int device, char* version) const {
  uint8_t buffer[kFirmwareVersionBufferLength] = {};
  BuildFirmwareVersionCommand(buffer);
  CommandResult result = RunExchange(
      link_, op_, device, buffer, kFirmwareVersionCommandLength, kFirmwareVersionResponseLength, false,
      {"Cannot Write 'GET Firmware Version' Command", "Cannot Read 'Get Firmware Version' Response"});
  if (!result.ok()) return result;
  if (!TakeFirmwareVersion(buffer, version)) {
    return ShowFailure(op_, CommandStep::kAnswer, "Cannot Get Valid Firmware Version");
  }
  return result;
}

CommandResult ProbeCommands::GetBootloaderVersion(int device, char* version) const {
  uint8_t buffer[kBootloaderResponseLength + 1] = {0x08};
  CommandResult result = RunExchange(link_, op_, device, buffer, 1, kBootloaderResponseLength, false,
                                     {"Cannot Write 'GET BootloaderFirmware Version' Command",
                                      "Cannot Read 'Get BootloaderFirmware Version' Response"});
  if (!result.ok()) return result;
  buffer[kBootloaderResponseLength] = 0;
  if (std::memcmp(buffer, kBootloaderPrefix, sizeof(kBootloaderPrefix) - 1) != 0) {
    return CommandResult::Failed(CommandStep::kAnswer);
  }
  CopyVersionText(buffer + kBootloaderVersionAt, version);
  return result;
}

uint32_t ProbeCommands::ReadJtagId(int device, const uint8_t param[4]) const {
  uint8_t buffer[kJtagIdResponseLength] = {0x11};
  if (param != nullptr) std::memcpy(buffer + 1, param, 4);
  if (!RunExchange(link_, op_, device, buffer, 5, kJtagIdResponseLength, false,
                   {"Cannot Write 'JTAG ID' Command", "Cannot Read 'JTAG ID' Response"})
           .ok()) {
    return 0;
  }
  // The probe shifts the ID out least significant bit first, one bit per byte in bit 0; the
  // other bits of each byte are noise.
  static_assert(kJtagIdResponseLength == 32);
  ReverseBytes32(buffer);
  uint32_t id = 0;
  for (int i = 0; i < kJtagIdResponseLength; ++i) {
    if (buffer[i] & 1) id |= uint32_t{1} << (31 - i);
  }
  return id;
}

CommandResult ProbeCommands::SetJtagType(int device, uint8_t jtagType) const {
  uint8_t buffer[5] = {0x03, jtagType, 0, 0, 0};
  return RunExchange(link_, op_, device, buffer, 5, 5, true, {});
}

}  // namespace zolt
