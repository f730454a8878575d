// SPDX-License-Identifier: MIT
// Reads the bench file VORLINK_BENCH names. Separate from the adapter so that the library still
// builds (and reports the bench as missing) where the probesim library is not part of the build.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "probesim/bench.h"

namespace vorlink {

struct LoadedBench {
  std::unique_ptr<probesim::Bench> bench;  // null on error
  std::string error;                       // what went wrong, naming the file
  std::vector<std::string> notes;          // what the loaded bench cannot do, for the trace
};

// Blocks for reading the file (never on a FIFO or a device: those are refused). Never throws.
LoadedBench LoadBenchFile(const std::string& path);

}  // namespace vorlink
