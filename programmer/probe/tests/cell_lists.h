// SPDX-License-Identifier: MIT
// The boundary cell lists as the board documentation writes them ("all 1 except 3, 10, 13-59/2"),
// turned into one byte per cell. "a-b" is every cell from a to b, "a-b/2" every second cell.
#pragma once

#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

namespace zolt::testing {

inline std::vector<uint8_t> ParseCellList(int cellCount, const std::string& text) {
  std::vector<uint8_t> cells(cellCount, 0);
  const std::string head = text.substr(0, text.find(" except "));
  const uint8_t all = head == "all 1" ? 1 : 0;
  EXPECT_TRUE(head == "all 1" || head == "all 0") << text;
  std::fill(cells.begin(), cells.end(), all);
  std::stringstream in(text.substr(head.size() + 8));
  std::string item;
  while (std::getline(in, item, ',')) {
    char* end = nullptr;
    const long first = std::strtol(item.c_str(), &end, 10);
    long last = first, step = 1;
    if (*end == '-') last = std::strtol(end + 1, &end, 10);
    if (*end == '/') step = std::strtol(end + 1, &end, 10);
    EXPECT_TRUE(*end == '\0' && first <= last && last < cellCount && (last - first) % step == 0) << item;
    for (long c = first; c <= last && c < cellCount; c += step) cells[c] = all ^ 1;
  }
  return cells;
}

}  // namespace zolt::testing
