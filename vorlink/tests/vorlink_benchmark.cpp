// SPDX-License-Identifier: MIT
// What a call through libVorlink.so costs, with VORLINK_TRACE unset and set (run the program
// once each way; the library reads its environment when it loads):
//   vorlink_benchmark                                    trace off
//   VORLINK_TRACE=/tmp/vorlink.trace vorlink_benchmark   trace on
// With VORLINK_BENCH naming a bench file whose probe 0 answers "JTAG Reset", the exchange
// benchmark measures a whole command (write 5 bytes, read the 5-byte answer) on the bench.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "vorlink.h"

namespace {

// A transfer on a device index that was never opened: the library's own path, no transport.
void BM_WriteOnClosedIndex(benchmark::State& state) {
  unsigned char bytes[64] = {};
  int count = 0;
  for (auto _ : state) {
    benchmark::DoNotOptimize(Write(7, bytes, 64, &count, 500));
  }
}
BENCHMARK(BM_WriteOnClosedIndex);

void BM_CommandExchangeOnBench(benchmark::State& state) {
  if (!std::getenv("VORLINK_BENCH") || OpenDevice(0x16, 0) != 1) {
    state.SkipWithError("needs VORLINK_BENCH with a probe at device index 0");
    return;
  }
  unsigned char buffer[5];
  int count = 0;
  for (auto _ : state) {
    buffer[0] = 0x01;  // JTAG Reset
    buffer[1] = buffer[2] = buffer[3] = buffer[4] = 0;
    benchmark::DoNotOptimize(Write(0, buffer, 5, &count, 500));
    benchmark::DoNotOptimize(Read(0, buffer, 5, &count, 500));
  }
  Close(0);
}
BENCHMARK(BM_CommandExchangeOnBench);

}  // namespace

BENCHMARK_MAIN();
