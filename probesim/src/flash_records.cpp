// SPDX-License-Identifier: MIT
#include "flash_records.h"

#include <algorithm>

#include "targets.h"

namespace probesim {
namespace {

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

}  // namespace

bool NorInfoDescribes(std::span<const uint8_t, 64> info, const NorBoard& board, int chipSelect) {
  const uint8_t* r = info.data();
  const int w = board.width;
  const int i = board.interleave;
  if (r[56] != w || r[57] != i || r[58] != w * i || r[59] != w * i / 8) return false;
  if (Le32(r + 60) / kRegionSize != static_cast<uint32_t>(chipSelect)) return false;

  uint32_t unlock1, unlock2;
  if (w == 8) {
    unlock1 = board.part->unlock1Byte * static_cast<uint32_t>(i);
    unlock2 = board.part->unlock2Byte * static_cast<uint32_t>(i);
  } else if (i == 1) {
    unlock1 = board.part->unlock1Word * 2u;
    unlock2 = board.part->unlock2Word * 2u;
  } else {
    return false;  // two 16-bit devices need 32-bit command words, which the record cannot hold
  }
  if (Le16(r + 24) != unlock1 || Le16(r + 26) != unlock2) return false;

  // Each 8-bit device sees its own byte lane; a 16-bit device only decodes the low byte of a command.
  const bool bothLanes = w == 8 && i == 2;
  auto command = [&](int offset, uint8_t expected) {
    const uint16_t v = Le16(r + offset);
    return bothLanes ? v == (expected | (expected << 8)) : (v & 0xFF) == expected;
  };
  if (!command(28, 0xAA) || !command(30, 0x55) || !command(32, 0x80) || !command(34, 0x90) ||
      !command(36, 0xF0) || !command(38, 0xA0) || !command(46, board.part->sectorEraseCommand)) {
    return false;
  }
  return Le16(r + 54) == (w * i == 8 ? 0xFF : 0xFFFF);
}

bool NandInfoDescribes(std::span<const uint8_t, 64> info, const NandPart& part) {
  const uint8_t* r = info.data();
  return Le16(r + 0) == part.maker && Le16(r + 2) == part.device && Le32(r + 4) == part.size &&
         Le16(r + 8) == part.page && Le32(r + 12) == part.block && Le16(r + 16) == part.spare;
}

CfiVerdict JudgeFlashCfi(std::span<const uint8_t, 36> cfi, const NorBoard& board) {
  const uint8_t* c = cfi.data();
  if (std::all_of(cfi.begin(), cfi.end(), [](uint8_t b) { return b == 0; })) {
    return board.part->cfi ? CfiVerdict::kQueryPart : CfiVerdict::kWrong;
  }
  if (c[0] != 'Q' || c[1] != 'R' || c[2] != 'Y' || Le32(c + 4) != board.Size()) return CfiVerdict::kWrong;
  const auto regions = board.Regions();
  if (Le16(c + 10) != regions.size()) return CfiVerdict::kWrong;
  for (size_t k = 0; k < 4; ++k) {
    const uint32_t count = k < regions.size() ? regions[k].count : 0;
    const uint32_t size = k < regions.size() ? regions[k].size : 0;
    if (Le16(c + 12 + 2 * k) != count || Le32(c + 20 + 4 * k) != size) return CfiVerdict::kWrong;
  }
  return CfiVerdict::kLayoutGiven;
}

}  // namespace probesim
