// SPDX-License-Identifier: MIT
// The NOR types by norType (the row of the Nor Type list), as every front end and the run log name
// them: the list's spelling, the log's spelling (they differ in one row, S29AL0004D / S29AL004D)
// and the device width choosing the row selects. Products are named by probe/products.h.
// Constant data: any thread, nothing blocks, nothing fails.
#pragma once

#include <array>
#include <string_view>

#include "probe/nor_types.h"

namespace zolt {

struct NorTypeNames {
  const char* listName;  // as the Nor Type list and zolt-flash's --nor-type show it
  const char* logName;   // as the run log's "NAME:" line shows it
  int width;             // the Width row choosing this type selects: 8 or 16
};

inline constexpr std::array<NorTypeNames, kNorTypeCount> kNorTypes{{
    {"EN29LV010A", "EN29LV010A", 8},
    {"EN29LV040A", "EN29LV040A", 8},
    {"AM29LV040B", "AM29LV040B", 8},
    {"S29AL0004D", "S29AL004D", 16},
    {"S29AL008D", "S29AL008D", 16},
    {"S29GL064M", "S29GL064M", 16},
    {"S29GL128M/N", "S29GL128M/N", 16},
    {"K8D6316", "K8D6316", 16},
    {"SST39VF6401", "SST39VF6401", 16},
}};
static_assert(kNorTypes[kS29al004d].width == 16 && kNorTypes[kAm29lv040b].width == 8);

// The tenth row the list gains for TARVIS, whose flash is found by its CFI answer.
inline constexpr const char* kAutoDetectName = "AutoDetect";

// The log's name of `norType`, or "" outside 0..8.
constexpr const char* NorTypeLogName(int norType) {
  return norType >= 0 && norType < int{kNorTypeCount} ? kNorTypes[norType].logName : "";
}

// The row whose list or log spelling is `name` (exact letters), or -1.
constexpr int FindNorType(std::string_view name) {
  for (int i = 0; i < int{kNorTypeCount}; ++i) {
    if (name == kNorTypes[i].listName || name == kNorTypes[i].logName) return i;
  }
  return -1;
}

}  // namespace zolt
