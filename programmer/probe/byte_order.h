// SPDX-License-Identifier: MIT
// Little-endian packing of the probe wire's multi-byte integers, byte by byte, so records never
// depend on the host's layout. Pure functions: any thread.
#pragma once

#include <cstdint>

namespace zolt {

inline void PutLe16(uint8_t* at, uint32_t value) {
  at[0] = static_cast<uint8_t>(value);
  at[1] = static_cast<uint8_t>(value >> 8);
}
inline void PutLe32(uint8_t* at, uint32_t value) {
  PutLe16(at, value);
  PutLe16(at + 2, value >> 16);
}
inline uint16_t GetLe16(const uint8_t* at) {
  return static_cast<uint16_t>(at[0] | at[1] << 8);
}
inline uint32_t GetLe32(const uint8_t* at) {
  return uint32_t(at[0]) | uint32_t(at[1]) << 8 | uint32_t(at[2]) << 16 | uint32_t(at[3]) << 24;
}

}  // namespace zolt
