// SPDX-License-Identifier: MIT
// Names of the NOR types by norType, as the run log shows them. Constant data; any thread.
#pragma once

#include <array>

namespace zolt {

inline constexpr std::array<const char*, 9> NorTypeNames{
    "EN29LV010A", "EN29LV040A",  "AM29LV040B", "S29AL004D",   "S29AL008D",
    "S29GL064M",  "S29GL128M/N", "K8D6316",    "SST39VF6401",
};

// The name of `norType`, or "" outside 0..8.
constexpr const char* NorTypeName(int norType) {
  return norType >= 0 && norType < static_cast<int>(NorTypeNames.size()) ? NorTypeNames[norType] : "";
}

}  // namespace zolt
