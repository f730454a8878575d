// SPDX-License-Identifier: MIT
// Boundary cell lists as the board documentation writes them: "3, 10-12, 13-59/2" means cell 3,
// cells 10 to 12, and every second cell from 13 to 59.
#pragma once

#include <cstdint>
#include <string_view>
#include <vector>

namespace probesim {

// Returns `cellCount` bytes, each `background` except the listed cells, which get the other value.
// Throws std::invalid_argument on a malformed list or a cell beyond `cellCount` (tables are fixed
// at build time, so this only fires on a typo in them).
std::vector<uint8_t> CellImage(int cellCount, uint8_t background, std::string_view exceptions);

}  // namespace probesim
