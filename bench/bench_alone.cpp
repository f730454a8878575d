// SPDX-License-Identifier: MIT
#include "bench_alone.h"

#include "bench_support.h"
#include "board_setup.h"  // the bench's own set-up sequences (probesim/tests)

namespace zolt::bench {

BenchAloneResult StreamBenchAlone(const std::string& folder, uint64_t imageBytes, double usbLatencyUs,
                                  bool inFlight) {
  using namespace probesim::test;
  std::string toml = "[[probe]]\ntarget = \"KELDA\"\nflash = \"K9F1G08\"\nflash_file = \"alone.bin\"\n";
  if (usbLatencyUs > 0)
    toml += "timing = \"realistic\"\nusb_latency_us = " + std::to_string(long(usbLatencyUs)) + "\n";
  probesim::BenchLoadResult loaded = probesim::LoadBenchFromString(toml, "alone.toml", folder);
  if (!loaded.bench) Die("bench refused: " + loaded.error);
  probesim::BenchProbe& probe = loaded.bench->Probe(0);
  BenchAloneResult result;
  {
    Host host(probe);
    KeldaNandReady(host);
    uint8_t block[2048];
    for (int i = 0; i < 2048; ++i) block[i] = uint8_t(i * 7);
    uint8_t* chunk = block;
    uint8_t answer[8];
    // A first one-chunk download, so that the measured announcement erases flash that was
    // written before, as in the programmer's measured runs (the flash file itself is made, filled
    // with 0xFF, when the probe opens).
    host.Exchange(Host::DownloadInfo(kNand, 0, 0, 64, false), 5);
    probe.BulkWrite(0x01, chunk, 64, 7000);
    probe.BulkRead(0x82, answer, 5, 14000);

    const double eraseCpu0 = ThreadCpuSeconds();
    const auto erase = host.Exchange(Host::DownloadInfo(kNand, 0, 0, uint32_t(imageBytes), false), 5);
    result.eraseCpuSeconds = ThreadCpuSeconds() - eraseCpu0;
    if (!erase || erase->empty() || (*erase)[0] != 'Q') Die("bench alone: no erase response");

    uint64_t sent = 0;
    const double cpu0 = ThreadCpuSeconds(), t0 = NowSeconds();
    while (sent < imageBytes) {
      const uint64_t left = imageBytes - sent;
      if (inFlight && left >= 64) {
        const int chunks = int(std::min<uint64_t>(2048, left) / 64);
        probesim::TransferResult failed{};
        if (probe.BulkWriteChunks(0x01, block, 64, chunks, 7000, &failed) != chunks)
          Die("bench alone: write in flight");
        sent += uint64_t(chunks) * 64;
        result.chunks += uint64_t(chunks);
      } else {
        const int n = int(std::min<uint64_t>(64, left));
        if (probe.BulkWrite(0x01, chunk, n, 7000).status != probesim::TransferStatus::kOk)
          Die("bench alone: write");
        sent += uint64_t(n);
        ++result.chunks;
      }
      if (sent % 2048 == 0 || sent == imageBytes) {
        if (probe.BulkRead(0x82, answer, 5, 14000).status != probesim::TransferStatus::kOk) {
          Die("bench alone: no block response");
        }
      }
    }
    result.wallSeconds = NowSeconds() - t0;
    result.cpuSeconds = ThreadCpuSeconds() - cpu0;
  }
  return result;
}

}  // namespace zolt::bench
