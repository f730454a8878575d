// SPDX-License-Identifier: MIT
// Micro benchmarks of the per-chunk data path, split into its parts (Google Benchmark):
//   BM_StreamNullLink   the programmer's streaming alone (file read, chunk loop, progress, CRC)
//                       against a link whose transfers do nothing
//   BM_Crc32Chunk       the CRC-32 of one 64-byte chunk, as the stream computes it per chunk
//   BM_BenchChunk       the virtual bench alone: one 64-byte chunk write, a block response
//                       read every 2048 bytes (instant timing)
// Each reports the time per 64-byte chunk as the counter "s_per_chunk" (shown as e.g. 350n).
#include <benchmark/benchmark.h>

#include "bench_support.h"
#include "board_setup.h"  // the bench's own set-up sequences (probesim/tests)
#include "jobs/crc32.h"
#include "jobs/image_stream.h"
#include "jobs/job_context.h"

namespace zolt::bench {
namespace {

constexpr uint32_t kImageBytes = 4 * 1024 * 1024;

int NullOpen(int, int) {
  return 1;
}
int NullWrite(int, unsigned char*, int length, int* transferred, int) {
  if (transferred) *transferred = length;
  return 1;
}
int NullRead(int, unsigned char* buffer, int length, int* transferred, int) {
  buffer[0] = kProbeAck;
  if (transferred) *transferred = length;
  return 1;
}
void NullClose(int) {}

void BM_StreamNullLink(benchmark::State& state) {
  ScratchDir dir;
  const std::string image = dir.File("image.bin");
  WritePatternImage(image, kImageBytes);
  BenchOperator op;
  JobContext ctx(op, SystemTickClock());
  ctx.link = {NullOpen, NullWrite, NullRead, NullClose};
  ctx.settings.flashTypeCode = 0x21;
  uint8_t command[64] = {};
  const StreamRequest request{0, 0, image, 0, 0};
  for (auto _ : state) {
    const StreamResult result = StreamImageFile(ctx, op, request, command, state.range(0) != 0);
    if (result.outcome != StreamOutcome::kDone) state.SkipWithError("stream failed");
  }
  state.counters["s_per_chunk"] =
      benchmark::Counter(double(state.iterations()) * (kImageBytes / 64),
                         benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_StreamNullLink)->ArgName("crc")->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond);

void BM_Crc32Chunk(benchmark::State& state) {
  uint8_t chunk[64];
  for (int i = 0; i < 64; ++i) chunk[i] = static_cast<uint8_t>(i * 37 + 11);
  uint32_t crc = kCrc32Initial;
  for (auto _ : state) {
    crc = Crc32Update(crc, chunk, sizeof chunk);
    benchmark::DoNotOptimize(crc);
  }
  state.counters["s_per_chunk"] = benchmark::Counter(
      double(state.iterations()), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_Crc32Chunk);

void BM_BenchChunk(benchmark::State& state) {
  using namespace probesim::test;
  ScratchDir dir;
  auto loaded = probesim::LoadBenchFromString(
      "[[probe]]\ntarget = \"KELDA\"\nflash = \"K9F1G08\"\nflash_file = \"micro.bin\"\n", "micro.toml",
      dir.path());
  if (!loaded.bench) {
    state.SkipWithError(loaded.error.c_str());
    return;
  }
  Host h(loaded.bench->Probe(0));
  KeldaNandReady(h);
  uint8_t chunk[64] = {};
  uint8_t answer[8];
  uint32_t sent = kImageBytes;
  uint64_t chunks = 0;
  for (auto _ : state) {
    if (sent == kImageBytes) {
      state.PauseTiming();
      h.Exchange(Host::DownloadInfo(kNand, 0, 0, kImageBytes, false), 5);
      sent = 0;
      state.ResumeTiming();
    }
    h.probe().BulkWrite(0x01, chunk, 64, 7000);
    sent += 64;
    ++chunks;
    if (sent % 2048 == 0) h.probe().BulkRead(0x82, answer, 5, 14000);
  }
  state.counters["s_per_chunk"] =
      benchmark::Counter(double(chunks), benchmark::Counter::kIsRate | benchmark::Counter::kInvert);
}
BENCHMARK(BM_BenchChunk);

}  // namespace
}  // namespace zolt::bench

BENCHMARK_MAIN();
