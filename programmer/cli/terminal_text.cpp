// SPDX-License-Identifier: MIT
#include "cli/terminal_text.h"

#include <cstdint>
#include <cstdio>

namespace zolt::cli {
namespace {

void AppendHex(std::string& out, unsigned char byte) {
  char text[8];
  std::snprintf(text, sizeof text, "\\x%02x", byte);
  out += text;
}

// Length of the valid UTF-8 sequence starting at `at`, or 0 when the byte there does not start one
// (overlong forms, surrogates and code points beyond U+10FFFF are not valid).
size_t Utf8Length(std::string_view text, size_t at, uint32_t& codePoint) {
  const auto byte = [&](size_t i) { return static_cast<unsigned char>(text[i]); };
  const unsigned char lead = byte(at);
  size_t length;
  uint32_t min;
  if (lead >= 0xC2 && lead <= 0xDF) {
    length = 2, min = 0x80, codePoint = lead & 0x1F;
  } else if (lead >= 0xE0 && lead <= 0xEF) {
    length = 3, min = 0x800, codePoint = lead & 0x0F;
  } else if (lead >= 0xF0 && lead <= 0xF4) {
    length = 4, min = 0x10000, codePoint = lead & 0x07;
  } else {
    return 0;
  }
  if (at + length > text.size()) return 0;
  for (size_t i = 1; i < length; ++i) {
    if ((byte(at + i) & 0xC0) != 0x80) return 0;
    codePoint = (codePoint << 6) | (byte(at + i) & 0x3F);
  }
  if (codePoint < min || codePoint > 0x10FFFF || (codePoint >= 0xD800 && codePoint <= 0xDFFF)) return 0;
  return length;
}

}  // namespace

std::string EscapeForTerminal(std::string_view text, LineBreaks breaks) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size();) {
    const auto c = static_cast<unsigned char>(text[i]);
    if (c >= 0x20 && c < 0x7F) {
      out.push_back(static_cast<char>(c));
      ++i;
      continue;
    }
    if (c < 0x80 || c == 0x7F) {
      if ((c == '\n' || c == '\r') && breaks == LineBreaks::kKeep) {
        out.push_back(static_cast<char>(c));
      } else if (c == '\n') {
        out += "\\n";
      } else if (c == '\r') {
        out += "\\r";
      } else if (c == '\t') {
        out += "\\t";
      } else {
        AppendHex(out, c);
      }
      ++i;
      continue;
    }
    uint32_t codePoint = 0;
    const size_t length = Utf8Length(text, i, codePoint);
    if (length == 0 || codePoint <= 0x9F) {
      AppendHex(out, c);  // one byte at a time: the rest may start a valid sequence
      if (length != 0) AppendHex(out, static_cast<unsigned char>(text[i + 1]));
      i += length == 0 ? 1 : length;
      continue;
    }
    out.append(text.substr(i, length));
    i += length;
  }
  return out;
}

}  // namespace zolt::cli
