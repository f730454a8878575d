// SPDX-License-Identifier: MIT
#include "testing/bench_events.h"

#include <cinttypes>
#include <cstdio>
#include <fstream>

namespace zolt::testing {

std::vector<BenchEvent> ReadBenchEvents(const std::string& path) {
  std::ifstream in(path);
  std::vector<BenchEvent> events;
  for (std::string line; std::getline(in, line);) {
    BenchEvent e;
    if (std::sscanf(line.c_str(), "p=%d t_us=%" SCNu64, &e.probe, &e.us) != 2) continue;
    const size_t at = line.find(' ', line.find("t_us="));
    e.what = at == std::string::npos ? "" : line.substr(at + 1);
    events.push_back(std::move(e));
  }
  return events;
}

}  // namespace zolt::testing
