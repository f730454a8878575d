// SPDX-License-Identifier: MIT
// printf-style formatting into a std::string, for log lines and message texts. Allocates, so it
// is used for texts shown once per step or per file, never per data chunk.
#pragma once

#include <cstdarg>
#include <cstdio>
#include <string>

namespace zolt {

__attribute__((format(printf, 1, 2))) inline std::string Format(const char* format, ...) {
  char small[256];
  va_list args;
  va_start(args, format);
  va_list copy;
  va_copy(copy, args);
  const int length = std::vsnprintf(small, sizeof small, format, args);
  va_end(args);
  std::string text;
  if (length < 0) {
    va_end(copy);
    return text;
  }
  if (static_cast<size_t>(length) < sizeof small) {
    text.assign(small, static_cast<size_t>(length));
  } else {
    text.resize(static_cast<size_t>(length));
    std::vsnprintf(text.data(), text.size() + 1, format, copy);
  }
  va_end(copy);
  return text;
}

}  // namespace zolt
