// SPDX-License-Identifier: MIT
// Looking into a bench from tests: what a probe's target saw and where its flash contents live.
// Thread-safe with respect to the probes' transfers (each call takes the probe's own lock).
#pragma once

#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "probesim/bench.h"

namespace probesim {

// One ApplyHighBoundary / ApplyLowBoundary the probe carried out.
struct PinEvent {
  uint64_t tUs;         // monotonic microseconds (same clock as PROBESIM_LOG)
  bool high;            // ApplyHighBoundary
  bool driven;          // the pins were driven: EXTEST set, boundary image and this pattern loaded
  bool productPattern;  // the pattern driven is the product's own high / low pattern
};

// The last download the probe was asked for.
struct DownloadSummary {
  bool announced;     // a DownloadDataInfo was answered with "Q"
  uint64_t start;     // flash offset of the first byte
  uint64_t size;      // bytes announced
  uint64_t received;  // bytes taken
  uint8_t endCode;    // last block response code (0 while the file is open)
};

// Valid for a Bench made by LoadBench / LoadBenchFromString; `probe` below ProbeCount().
std::vector<PinEvent> PinEvents(Bench& bench, size_t probe);
// The flash file of the board on the probe now; "" without a board (PROBESIM_CONTROL) or flash.
std::string FlashFilePath(Bench& bench, size_t probe);
uint64_t FlashSize(Bench& bench, size_t probe);
DownloadSummary LastDownload(Bench& bench, size_t probe);
// Flash offset where a download with this NOR offset and block number starts on this probe's
// board (the placement rule of docs/bench.md); nullopt for a board without flash.
std::optional<uint64_t> PlacementOffset(Bench& bench, size_t probe, uint32_t norOffset, uint32_t block);

}  // namespace probesim
