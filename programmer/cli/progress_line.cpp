// SPDX-License-Identifier: MIT
#include "cli/progress_line.h"

#include <cstdio>

namespace zolt::cli {

std::string FormatMinutesSeconds(uint64_t seconds) {
  char text[48];
  std::snprintf(text, sizeof text, "%02llu : %02llu", static_cast<unsigned long long>(seconds / 60),
                static_cast<unsigned long long>(seconds % 60));
  return text;
}

namespace {

std::string FormatRate(double bytesPerSecond) {
  static const char* const kUnits[] = {"B/s", "kB/s", "MB/s", "GB/s"};
  int unit = 0;
  while (bytesPerSecond >= 1000.0 && unit < 3) {
    bytesPerSecond /= 1000.0;
    ++unit;
  }
  char text[32];
  std::snprintf(text, sizeof text, unit == 0 ? "%.0f %s" : "%.1f %s", bytesPerSecond, kUnits[unit]);
  return text;
}

}  // namespace

std::string FormatProgressLine(const ProgressSnapshot& s) {
  char head[32];
  std::snprintf(head, sizeof head, "%3d%%  ", s.runPercent);
  std::string line = head;
  line += FormatMinutesSeconds(s.elapsedMs / 1000);

  const bool measured = s.sentBytes > 0 && s.elapsedMs > 0;
  const double rate =
      measured ? static_cast<double>(s.sentBytes) * 1000.0 / static_cast<double>(s.elapsedMs) : 0;
  line += "  ";
  line += measured ? FormatRate(rate) : std::string("-- B/s");
  line += "  left ";
  if (measured && s.totalBytes >= s.sentBytes) {
    line += FormatMinutesSeconds(
        static_cast<uint64_t>(static_cast<double>(s.totalBytes - s.sentBytes) / rate + 0.5));
  } else {
    line += "-- : --";
  }
  for (const auto& d : s.devices) {
    char cell[24];
    std::snprintf(cell, sizeof cell, "%s#%d %d%%", line.empty() ? "" : (&d == s.devices.data() ? "  " : " "),
                  d.index, d.percent);
    line += cell;
  }
  return line;
}

}  // namespace zolt::cli
