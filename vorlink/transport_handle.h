// SPDX-License-Identifier: MIT
// The opaque handle type both transport interfaces hand out.
#pragma once

#include <cstdint>

namespace vorlink {

// Pointer-sized, like the Windows handles the record table was laid out for. A transport is free
// to store a pointer in it. 0 is "none"; all bits one is the invalid-handle value.
using TransportHandle = std::uintptr_t;
inline constexpr TransportHandle kNullHandle = 0;
inline constexpr TransportHandle kInvalidHandle = ~TransportHandle{0};

}  // namespace vorlink
