// SPDX-License-Identifier: MIT
// The virtual bench driven directly, without the programmer or the link library: the bench's own
// share of a download's host cost.
#pragma once

#include <cstdint>
#include <string>

namespace zolt::bench {

struct BenchAloneResult {
  uint64_t chunks = 0;
  double wallSeconds = 0;      // the chunk loop only (set-up and erase excluded)
  double cpuSeconds = 0;       // CPU of the calling thread over the same loop
  double eraseCpuSeconds = 0;  // CPU of the announcement, whose answer waits for the erase
};

// One KELDA board with a K9F1G08 NAND (128 MiB), made ready for a download by the bench's own
// set-up sequence, then a download of `imageBytes` streamed as the programmer streams it: 64-byte
// chunk writes, a 5-byte block response read after every 2048 bytes and after the last chunk.
// `usbLatencyUs` > 0 runs the probe in realistic timing. With `inFlight` each block's whole chunks
// go in one BulkWriteChunks call, as the programmer sends them with transfers in flight. Flash
// file in `folder`. Blocks for the whole download; ends the program if the bench refuses a step.
BenchAloneResult StreamBenchAlone(const std::string& folder, uint64_t imageBytes, double usbLatencyUs,
                                  bool inFlight = false);

}  // namespace zolt::bench
