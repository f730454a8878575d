// SPDX-License-Identifier: MIT
// How many times a test's captured text (stderr, a trace, a log) holds a line or marker.
#pragma once

#include <cstddef>
#include <string_view>

namespace zolt::testing {

// Occurrences of `part` in `text` that do not overlap; 0 for an empty `part`.
inline size_t Count(std::string_view text, std::string_view part) {
  if (part.empty()) return 0;
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string_view::npos; at = text.find(part, at + part.size())) ++n;
  return n;
}

}  // namespace zolt::testing
