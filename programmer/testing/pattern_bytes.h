// SPDX-License-Identifier: MIT
// Image bytes for tests: a fixed pseudo-random pattern (never all 0xFF, so it never matches erased
// flash) and the CRC-32 the programmer reports for a file.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

namespace zolt::testing {

// `size` bytes of an xorshift pattern seeded by `seed`: the same seed gives the same bytes.
inline std::string PatternBytes(size_t size, uint32_t seed) {
  std::string bytes(size, '\0');
  uint32_t x = seed * 2654435761u + 1;
  for (char& b : bytes) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    b = static_cast<char>(x >> 24);
  }
  return bytes;
}

// CRC-32 (IEEE 802.3, reflected, as zip uses it).
inline uint32_t Crc32(const std::string& bytes) {
  uint32_t crc = 0xFFFFFFFFu;
  for (unsigned char b : bytes) {
    crc ^= b;
    for (int k = 0; k < 8; ++k) crc = (crc >> 1) ^ (0xEDB88320u & (0u - (crc & 1u)));
  }
  return ~crc;
}

}  // namespace zolt::testing
