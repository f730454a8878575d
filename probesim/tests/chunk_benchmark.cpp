// SPDX-License-Identifier: MIT
// Host cost of the bench per 64-byte download chunk (write, plus a block response read every
// 2048 bytes), instant timing, with and without PROBESIM_LOG. Not a test: run by hand.
#include <benchmark/benchmark.h>

#include <cstdlib>

#include "board_setup.h"

namespace probesim::test {
namespace {

void StreamChunks(benchmark::State& state) {
  ScratchDir dir;
  const std::string log = dir.path() + "/events.log";
  if (state.range(0) != 0) ::setenv("PROBESIM_LOG", log.c_str(), 1);
  auto result = LoadBenchFromString("[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n", "bench.toml",
                                    dir.path());
  ::unsetenv("PROBESIM_LOG");
  Host h(result.bench->Probe(0));
  KeldaNorReady(h);
  constexpr uint32_t kFile = 512 * 1024;
  uint8_t chunk[64] = {};
  uint8_t answer[8];
  uint32_t sent = kFile;
  for (auto _ : state) {
    if (sent == kFile) {
      state.PauseTiming();
      h.Exchange(Host::DownloadInfo(kNor, 0, 0, kFile, false), 5);
      sent = 0;
      state.ResumeTiming();
    }
    h.probe().BulkWrite(0x01, chunk, 64, 7000);
    sent += 64;
    if (sent % 2048 == 0) h.probe().BulkRead(0x82, answer, 5, 14000);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(StreamChunks)->Arg(0)->Arg(1);

}  // namespace
}  // namespace probesim::test

BENCHMARK_MAIN();
