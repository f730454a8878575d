// SPDX-License-Identifier: MIT
#include "in_flight_bound.h"

#include <algorithm>

namespace zolt::bench {

double InFlightBoundRate(const StreamModel& m, uint64_t bytes) {
  constexpr uint64_t kChunk = 64, kBlock = 2048;
  double t = 0;     // when the current block starts, us
  double busy = 0;  // when the probe's programming is done, us
  double firstBlockDone = 0;
  // The first erase unit is erased before the download's answer, ahead of the stream.
  uint64_t nextErase = 1;
  for (uint64_t block = 0; block * kBlock < bytes; ++block) {
    const uint64_t blockStart = block * kBlock;
    const uint64_t chunks = (std::min(kBlock, bytes - blockStart) + kChunk - 1) / kChunk;
    for (uint64_t i = 0; i < chunks; ++i) {
      const uint64_t address = blockStart + i * kChunk;
      const uint64_t end = std::min(address + kChunk, bytes);
      busy = std::max(busy, t + m.packetUs * double(i));
      for (; nextErase <= (end - 1) / m.eraseUnit; ++nextErase) busy += m.blockEraseUs;
      busy += double(end / m.page - address / m.page) * m.pageProgramUs;
    }
    const double callEnd = t + m.latencyUs + m.packetUs * double(chunks - 1);
    t = std::max(busy, callEnd) + m.latencyUs;
    if (block == 0) firstBlockDone = t;
  }
  if (bytes <= kBlock || t <= firstBlockDone) return 0;
  return double(bytes - kBlock) / ((t - firstBlockDone) / 1e6);
}

}  // namespace zolt::bench
