// SPDX-License-Identifier: MIT
// The built-in boundary registers: each product's boundary image and the high and low pin
// patterns of the pin toggle, one byte (0 or 1) per boundary cell, cell 0 first. Constant data
// built at compile time: any thread, nothing blocks.
#pragma once

#include <cstdint>
#include <span>

namespace zolt {

// Empty for a product without a boundary register (SOLANT, rows outside 0..4).
std::span<const uint8_t> BoundaryImageOf(int product);
// Empty for every product but KELDA, VTN3300 and OKO.
std::span<const uint8_t> HighPatternOf(int product);
std::span<const uint8_t> LowPatternOf(int product);

}  // namespace zolt
