// SPDX-License-Identifier: MIT
// The standard unsigned conversion the option pages' number boxes are read with. No Qt, so that
// run control reads the texts of a RunRequest exactly as the dialog used to read its boxes.
//
// Threads: any (pure function). Never blocks; no errors.
#pragma once

#include <cstdint>
#include <string_view>

namespace zolt {

// `text` in `base` (10 or 16): leading blanks skipped, an optional sign ("-" negates modulo
// 2^32), for base 16 an optional "0x"/"0X", then digits up to the first character that is no
// digit of the base. No digits gives 0; a value beyond 32 bits gives 0xFFFFFFFF. Bytes outside
// ASCII are no digits, so UTF-8 text reads as its characters would.
inline uint32_t ParseUnsignedText(std::string_view text, int base) {
  const auto digit = [](char c) -> int {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'z') return c - 'a' + 10;
    if (c >= 'A' && c <= 'Z') return c - 'A' + 10;
    return 99;
  };
  size_t i = 0;
  const size_t n = text.size();
  while (i < n && (text[i] == ' ' || text[i] == '\t' || text[i] == '\n' || text[i] == '\r' ||
                   text[i] == '\v' || text[i] == '\f')) {
    ++i;
  }
  bool negative = false;
  if (i < n && (text[i] == '+' || text[i] == '-')) {
    negative = text[i] == '-';
    ++i;
  }
  if (base == 16 && i + 2 < n && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X') &&
      digit(text[i + 2]) < 16) {
    i += 2;
  }
  uint64_t value = 0;
  bool overflow = false;
  for (; i < n && digit(text[i]) < base; ++i) {
    value = value * static_cast<uint64_t>(base) + static_cast<uint64_t>(digit(text[i]));
    if (value > 0xFFFFFFFFull) {
      overflow = true;
      value = 0xFFFFFFFFull;
    }
  }
  if (overflow) return 0xFFFFFFFFu;
  const uint32_t result = static_cast<uint32_t>(value);
  return negative ? static_cast<uint32_t>(0u - result) : result;
}

}  // namespace zolt
