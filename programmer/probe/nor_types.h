// SPDX-License-Identifier: MIT
// The NOR types, by their row in the NOR type list (the value of norType the probe receives).
#pragma once

#include <cstdint>

namespace zolt {

enum NorType : uint8_t {
  kEn29lv010a = 0,
  kEn29lv040a,
  kAm29lv040b,
  kS29al004d,
  kS29al008d,
  kS29gl064m,
  kS29gl128m,
  kK8d6316,
  kSst39vf6401,
  kNorTypeCount
};

}  // namespace zolt
