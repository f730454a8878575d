// SPDX-License-Identifier: MIT
// Sixteen probes driven at once, one thread per device index, as the download jobs do: the
// records and the bench adapter share nothing across indices (run under TSan in the sanitizer
// build), and every probe sees exactly its own traffic.
#include <gtest/gtest.h>

#include <thread>
#include <vector>

#include "bench_transport.h"
#include "fake_bench.h"
#include "link.h"

namespace vorlink {
namespace {

TEST(LinkConcurrency, SixteenIndicesInParallelKeepTheirOwnTraffic) {
  constexpr int kProbes = 16, kExchanges = 200;
  testing::FakeBench bench;
  for (int i = 0; i < kProbes; ++i) bench.probes.emplace_back().port = std::to_string(i + 1);
  BenchPrimaryTransport primary{&bench};
  BenchLibusb0Transport libusb0{&bench};
  Link link{primary, libusb0, LinkMode::kPrimary};

  std::vector<int> failures(kProbes, 0);
  std::vector<std::thread> threads;
  for (int index = 0; index < kProbes; ++index) {
    threads.emplace_back([&, index] {
      if (link.OpenDevice(0x16, index) != 1) {
        ++failures[index];
        return;
      }
      for (int i = 0; i < kExchanges; ++i) {
        unsigned char buffer[64] = {static_cast<unsigned char>(index)};
        int count = 0;
        if (link.Write(index, buffer, 64, &count, 7000) != 1 || count != 64) ++failures[index];
        if (link.Read(index, buffer, 5, &count, 500 + index) != 1 || count != 5 || buffer[0] != 'Q') {
          ++failures[index];
        }
      }
      link.Close(index);
    });
  }
  for (std::thread& thread : threads) thread.join();

  for (int index = 0; index < kProbes; ++index) {
    SCOPED_TRACE(index);
    const testing::FakeBenchProbe& probe = bench.probes[index];
    EXPECT_EQ(failures[index], 0);
    EXPECT_EQ(probe.openCount, 0);
    ASSERT_EQ(probe.log.size(), 2u * kExchanges);
    // The read time-out is the index's own, so a probe that saw another index's traffic shows it.
    EXPECT_EQ(probe.log[1], "read ep=130 n=5 t=" + std::to_string(500 + index));
    EXPECT_EQ(probe.log.back(), "read ep=130 n=5 t=" + std::to_string(500 + index));
  }
}

}  // namespace
}  // namespace vorlink
