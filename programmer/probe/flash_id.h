// SPDX-License-Identifier: MIT
// The flash ID exchange's request and reply (ReadFlashId, code 0x14), and the rule by which a NOR
// flash's answer is accepted. Pure data and functions: any thread, nothing blocks.
#pragma once

#include <cstdint>

#include "probe/nor_types.h"
#include "probe/records.h"

namespace zolt {

// What ReadFlashId sends after its code, one byte each.
struct FlashIdRequest {
  uint8_t flashTypeCode = 0;
  uint8_t norType = 0;
  uint8_t norWidth = 0;
  uint8_t norInterleave = 0;
};

// The 8-byte reply of ReadFlashId: four little-endian 16-bit words.
struct FlashIdReply {
  uint16_t makerId = 0;
  uint16_t deviceId = 0;
  uint16_t thirdId = 0;
  uint16_t fourthId = 0;  // low byte: the NAND configuration byte (page and block size bits)
};

// Decodes the 8 reply bytes.
FlashIdReply DecodeFlashIdReply(const uint8_t* reply);

// Whether a NOR flash that answered `reply` is the one `norType` (0..8) describes, for `product`.
// The expected device ID is the one BuildFlashInfo put into `info`; TARVIS instead requires maker
// 0x1C with device 0x6E or 0x4F and then expects what it read. S29AL004D takes any ID whose low
// byte is 0xB9 or 0xBA, S29AL008D 0xDA or 0x5B; every other type the expected ID, and EN29LV010A
// also the part's real answer 0x6E (0x6E6E side by side) where its record expects 0x6F (0x6F6F).
// A type outside 0..8 is never accepted.
bool NorFlashAccepted(int norType, int product, const FlashInfo& info, const FlashIdReply& reply);

// True for the NOR types whose FlashCfi the programmer builds (BuildFlashCfi); the CFI parts
// (S29GL064M and later) answer the probe's CFI query themselves and get an all-zero record.
constexpr bool NorTypeTakesBuiltCfi(int norType) {
  return norType <= kS29al008d;
}

}  // namespace zolt
