// SPDX-License-Identifier: MIT
// JSON text that never fails on the bytes it is given: file names in another encoding and odd
// probe replies reach the run summary and the board history as they are, and each byte that is
// not part of valid UTF-8 becomes U+FFFD instead of an exception. Header only (nlohmann/json is
// header only too), so that the front ends' summary and the jobs' records share one repair.
//
// Pure functions: any thread; never throw for bad text (only std::bad_alloc).
#pragma once

#include <nlohmann/json.hpp>
#include <string>
#include <string_view>

namespace zolt {

// `document` as text; `indent` < 0 gives one line. Invalid UTF-8 in any string becomes U+FFFD.
inline std::string JsonText(const nlohmann::json& document, int indent) {
  return document.dump(indent, ' ', false, nlohmann::json::error_handler_t::replace);
}

// `text` with the same repair, for a string that must be valid before it goes into a document
// (one that another writer may dump without the repair).
inline std::string ValidUtf8(std::string_view text) {
  bool ascii = true;
  for (char c : text) ascii = ascii && static_cast<unsigned char>(c) < 0x80;
  if (ascii) return std::string(text);
  // Through the dump's own repair, so a string repaired here reads as the dump would write it.
  return nlohmann::json::parse(JsonText(nlohmann::json(std::string(text)), -1)).get<std::string>();
}

}  // namespace zolt
