// SPDX-License-Identifier: MIT
// The fastest a download can stream on the bench with transfers in flight, worked out from the
// bench's timing model rather than measured: what P6 compares its measured rate with.
#pragma once

#include <cstdint>

namespace zolt::bench {

struct StreamModel {
  double latencyUs = 1000;  // one transfer's round trip
  double packetUs = 0;      // one 64-byte packet on a busy bus
  uint64_t page = 512;      // NAND program unit
  uint64_t eraseUnit = 16 * 1024;
  double pageProgramUs = 250;
  double blockEraseUs = 2000;
};

// Bytes per second from the first block response to the last for `bytes` streamed in 2048-byte
// blocks of 64-byte chunks, every block's chunks in flight together, with a host that costs
// nothing (the window the benchmark measures: its progress moves once a block). Each block: its chunks reach
// the probe a packet time apart; the probe erases an erase unit before its first page and programs a page
// once the chunk that fills it is there, one thing after another; the write call returns one latency plus a
// packet time per chunk after the first; the block response is read one latency after both that and the
// probe's work.
double InFlightBoundRate(const StreamModel& model, uint64_t bytes);

}  // namespace zolt::bench
