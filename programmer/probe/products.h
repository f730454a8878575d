// SPDX-License-Identifier: MIT
// The five target products the programmer knows, by row of the Products list, with what each row
// fixes for a run: the JTAG ID its target must report, the parameter bytes of the JTAG ID read,
// whether the jobs warn about old bootloaders, the JTAG type set on the probe, and whether the
// product may run the pin toggle. Constant data: any thread, nothing blocks, nothing fails.
#pragma once

#include <array>
#include <cstdint>

#include "probe/records.h"

namespace zolt {

struct ProductSettings {
  const char* name;
  uint32_t expectedJtagId;
  std::array<uint8_t, 4> jtagIdParam;  // ReadJtagId's parameter bytes, in the order sent
  bool sourceLevelDebugProduct;        // warn when the bootloader version is below 220
  int jtagType;                        // SetJtagType's argument
  bool mayTogglePins;
};

inline constexpr int kProductCount = 5;

inline constexpr std::array<ProductSettings, kProductCount> kProducts{{
    {"TARVIS", 0x0022F3A1, {0x00, 0x01, 0x00, 0x01}, true, 1, false},
    {"KELDA", 0x00AECADD, {0x00, 0x01, 0x00, 0x01}, false, 0, true},
    {"VTN3300", 0x100015B9, {0x01, 0x00, 0x01, 0x01}, false, 0, true},
    {"OKO", 0x100015B9, {0x01, 0x00, 0x01, 0x01}, false, 0, true},
    {"SOLANT", 0x1AEC0ADD, {0x00, 0x01, 0x00, 0x01}, true, 1, false},
}};

// The settings of row `productIndex`, or null for a row outside 0..4.
constexpr const ProductSettings* FindProduct(int productIndex) {
  return productIndex >= 0 && productIndex < kProductCount ? &kProducts[productIndex] : nullptr;
}

static_assert(kProducts[kTarvis].expectedJtagId == 0x0022F3A1 && kProducts[kSolant].jtagType == 1);

}  // namespace zolt
