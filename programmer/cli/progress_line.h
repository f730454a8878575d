// SPDX-License-Identifier: MIT
// The one-line progress display zolt-flash redraws on a terminal while a download runs.
// Pure formatting: any thread, never blocks, never throws (beyond allocation).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolt::cli {

struct ProgressSnapshot {
  int runPercent = 0;       // the progress bar's position, 0..100
  uint64_t elapsedMs = 0;   // since RUN started the jobs
  uint64_t sentBytes = 0;   // every device, every file
  uint64_t totalBytes = 0;  // what the run will send; 0 if unknown
  struct Device {
    int index;
    int percent;
  };
  std::vector<Device> devices;  // taking part, in index order
};

// " 42%  01 : 05  1.3 MB/s  left 00 : 31  #0 50% #3 34%". Throughput and time left show "--"
// until something was sent; minutes are not limited to two digits.
std::string FormatProgressLine(const ProgressSnapshot& snapshot);

// "%02d : %02d" of whole minutes and seconds, as the dialog's elapsed-time label shows them.
std::string FormatMinutesSeconds(uint64_t seconds);

}  // namespace zolt::cli
