// SPDX-License-Identifier: MIT
#include "cli/page_text.h"

#include <cctype>

namespace zolt::cli {
namespace {

int DigitValue(char c, int base) {
  int v = -1;
  if (c >= '0' && c <= '9') v = c - '0';
  if (c >= 'a' && c <= 'f') v = c - 'a' + 10;
  if (c >= 'A' && c <= 'F') v = c - 'A' + 10;
  return v < base ? v : -1;
}

PageNumber ReadLeadingDigits(std::string_view text, int base) {
  size_t i = 0;
  while (i < text.size() && std::isspace(static_cast<unsigned char>(text[i]))) ++i;
  if (i < text.size() && (text[i] == '-' || text[i] == '+')) {
    return {0, "a sign is not allowed", 0, i};
  }
  if (base == 16 && i + 1 < text.size() && text[i] == '0' && (text[i + 1] == 'x' || text[i + 1] == 'X')) {
    i += 2;
  }
  uint64_t value = 0;
  size_t digits = 0;
  for (; i < text.size(); ++i, ++digits) {
    int digit = DigitValue(text[i], base);
    if (digit < 0) break;
    value = value * base + digit;
    if (value > UINT32_MAX) return {0, "the value does not fit 32 bits"};
  }
  return {static_cast<uint32_t>(value), {}, digits, i};
}

}  // namespace

PageNumber ReadOffsetText(std::string_view text) {
  return ReadLeadingDigits(text, 16);
}

PageNumber ReadBlockText(std::string_view text) {
  return ReadLeadingDigits(text, 10);
}

}  // namespace zolt::cli
