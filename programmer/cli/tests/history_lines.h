// SPDX-License-Identifier: MIT
// The board history zolt-flash wrote, read back for the end-to-end tests: one JSON object a line
// and its CRCs as eight lower-case hex digits.
#pragma once

#include <gtest/gtest.h>

#include <cstdint>
#include <cstdio>
#include <nlohmann/json.hpp>
#include <sstream>
#include <string>
#include <vector>

#include "testing/scratch_dir.h"

namespace zolt::cli::testing {

// Every line of the history at `path`, parsed; a line that is no JSON fails the test (and stands
// as a discarded value).
inline std::vector<nlohmann::json> HistoryLines(const std::string& path) {
  std::vector<nlohmann::json> lines;
  std::istringstream in(::zolt::testing::ReadFileBytes(path));
  for (std::string line; std::getline(in, line);) {
    nlohmann::json j = nlohmann::json::parse(line, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << "not a JSON line: " << line;
    lines.push_back(j);
  }
  return lines;
}

// `crc` as a history line spells it.
inline std::string Hex8(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", crc);
  return text;
}

}  // namespace zolt::cli::testing
