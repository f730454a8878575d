// SPDX-License-Identifier: MIT
#include "jobs/crc32.h"

#include <array>

namespace zolt {
namespace {

// Slicing-by-8: eight bytes per step through eight tables, so a 64-byte chunk costs eight steps.
using Tables = std::array<std::array<uint32_t, 256>, 8>;

constexpr Tables MakeTables() {
  Tables t{};
  for (uint32_t i = 0; i < 256; ++i) {
    uint32_t c = i;
    for (int bit = 0; bit < 8; ++bit) c = (c & 1u) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
    t[0][i] = c;
  }
  for (uint32_t i = 0; i < 256; ++i) {
    for (int k = 1; k < 8; ++k) t[k][i] = t[0][t[k - 1][i] & 0xFFu] ^ (t[k - 1][i] >> 8);
  }
  return t;
}

constexpr Tables kTables = MakeTables();

}  // namespace

uint32_t Crc32Update(uint32_t state, const uint8_t* data, size_t length) {
  const auto& t = kTables;
  while (length >= 8) {
    const uint32_t low = state ^ (uint32_t{data[0]} | uint32_t{data[1]} << 8 | uint32_t{data[2]} << 16 |
                                  uint32_t{data[3]} << 24);
    const uint32_t high =
        uint32_t{data[4]} | uint32_t{data[5]} << 8 | uint32_t{data[6]} << 16 | uint32_t{data[7]} << 24;
    state = t[7][low & 0xFF] ^ t[6][(low >> 8) & 0xFF] ^ t[5][(low >> 16) & 0xFF] ^ t[4][low >> 24] ^
            t[3][high & 0xFF] ^ t[2][(high >> 8) & 0xFF] ^ t[1][(high >> 16) & 0xFF] ^ t[0][high >> 24];
    data += 8;
    length -= 8;
  }
  while (length-- > 0) state = t[0][(state ^ *data++) & 0xFFu] ^ (state >> 8);
  return state;
}

}  // namespace zolt
