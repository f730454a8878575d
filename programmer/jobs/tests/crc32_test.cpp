// SPDX-License-Identifier: MIT
// CRC-32 of the bytes a job wrote, computed eight bytes at a time.
#include "jobs/crc32.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace zolt {
namespace {

uint32_t Crc(const std::string& text, size_t piece) {
  uint32_t state = kCrc32Initial;
  const auto* bytes = reinterpret_cast<const uint8_t*>(text.data());
  for (size_t at = 0; at < text.size(); at += piece)
    state = Crc32Update(state, bytes + at, std::min(piece, text.size() - at));
  return Crc32Final(state);
}

TEST(Crc32, MatchesTheStandardValuesInAnyPieces) {
  struct Case {
    std::string text;
    uint32_t crc;
  };
  const Case cases[] = {
      {"", 0x00000000u},
      {"a", 0xE8B7BE43u},
      {"123456789", 0xCBF43926u},
      {"The quick brown fox jumps over the lazy dog", 0x414FA339u},
  };
  for (const Case& c : cases) {
    for (size_t piece : {1u, 3u, 8u, 64u, 1000u})
      EXPECT_EQ(Crc(c.text, piece), c.crc) << c.text << " / " << piece;
  }
  std::string long_text;
  for (int i = 0; i < 5000; ++i) long_text.push_back(static_cast<char>(i * 31 + 7));
  const uint32_t whole = Crc(long_text, long_text.size());
  for (size_t piece : {1u, 7u, 63u, 64u, 65u}) EXPECT_EQ(Crc(long_text, piece), whole) << piece;
}

}  // namespace
}  // namespace zolt
