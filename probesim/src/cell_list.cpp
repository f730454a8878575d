// SPDX-License-Identifier: MIT
#include "cell_list.h"

#include <charconv>
#include <stdexcept>
#include <string>

namespace probesim {
namespace {

int ParseNumber(std::string_view& s) {
  int value = 0;
  auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), value);
  if (ec != std::errc() || end == s.data())
    throw std::invalid_argument("cell list: number expected in " + std::string(s));
  s.remove_prefix(static_cast<size_t>(end - s.data()));
  return value;
}

void SkipSpaces(std::string_view& s) {
  while (!s.empty() && s.front() == ' ') s.remove_prefix(1);
}

}  // namespace

std::vector<uint8_t> CellImage(int cellCount, uint8_t background, std::string_view exceptions) {
  std::vector<uint8_t> image(static_cast<size_t>(cellCount), background);
  std::string_view s = exceptions;
  SkipSpaces(s);
  while (!s.empty()) {
    int first = ParseNumber(s);
    int last = first;
    int step = 1;
    if (!s.empty() && s.front() == '-') {
      s.remove_prefix(1);
      last = ParseNumber(s);
      if (!s.empty() && s.front() == '/') {
        s.remove_prefix(1);
        step = ParseNumber(s);
      }
    }
    if (first > last || last >= cellCount || step <= 0) throw std::invalid_argument("cell list: bad range");
    for (int cell = first; cell <= last; cell += step) image[static_cast<size_t>(cell)] = background ? 0 : 1;
    SkipSpaces(s);
    if (!s.empty()) {
      if (s.front() != ',') throw std::invalid_argument("cell list: ',' expected");
      s.remove_prefix(1);
      SkipSpaces(s);
    }
  }
  return image;
}

}  // namespace probesim
