// SPDX-License-Identifier: MIT
// The virtual bench's event log (PROBESIM_LOG, docs/bench.md) read back: one line an event,
// "p=<probe> t_us=<microseconds> <what>", <what> being "cmd=0x98 len=5", "data len=64 stop",
// "apply=high", "attach board=2", "unplug" and so on. For the bench's own tests, the tests that
// load the real link library, and the benchmarks. No Qt, no test framework.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolt::testing {

struct BenchEvent {
  int probe = -1;
  uint64_t us = 0;   // on the bench's monotonic clock
  std::string what;  // the rest of the line: "cmd=0x98 len=5"
};

// The events of the log at `path` in their order; a line of another form is passed over. Empty
// when the file is missing or unreadable.
std::vector<BenchEvent> ReadBenchEvents(const std::string& path);

}  // namespace zolt::testing
