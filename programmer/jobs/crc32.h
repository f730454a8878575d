// SPDX-License-Identifier: MIT
// CRC-32 (IEEE 802.3, reflected, polynomial 0xEDB88320) as zip and PNG use it, computed in pieces:
// start with kCrc32Initial, feed every piece through Crc32Update, finish with Crc32Final.
// Pure functions: any thread, no allocation.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zolt {

inline constexpr uint32_t kCrc32Initial = 0xFFFFFFFFu;
uint32_t Crc32Update(uint32_t state, const uint8_t* data, size_t length);
inline uint32_t Crc32Final(uint32_t state) {
  return state ^ 0xFFFFFFFFu;
}

}  // namespace zolt
