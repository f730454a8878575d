// SPDX-License-Identifier: MIT
// The firmware version request (code 0x98) and the checks of its reply, shared by the loud
// GetFirmwareVersion and the quiet CheckProbeFirmware of identification. Pure functions: any
// thread, nothing blocks.
#pragma once

#include <cstdint>

namespace zolt {

inline constexpr int kFirmwareVersionCommandLength = 45;  // code, 43 characters, zero
inline constexpr int kFirmwareVersionResponseLength = 22;
// Room for the command, the response and the zero the programmer puts after the response.
inline constexpr int kFirmwareVersionBufferLength = kFirmwareVersionCommandLength + 1;

// Fills the first 45 bytes of `buffer` with the request.
void BuildFirmwareVersionCommand(uint8_t* buffer);

// Ends the 22-byte reply in `buffer` with a zero, checks its "ZOLT USB JTAG" prefix and, when it
// matches, copies the version text (from byte 17, at most 5 characters, with its zero) into
// `version` (may be null). False, and `version` untouched, on a prefix mismatch.
bool TakeFirmwareVersion(uint8_t* buffer, char* version);

}  // namespace zolt
