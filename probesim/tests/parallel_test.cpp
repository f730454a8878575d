// SPDX-License-Identifier: MIT
// Sixteen probes served at once, each by its own thread, as sixteen download jobs drive them.
#include <thread>

#include "board_setup.h"

namespace probesim::test {
namespace {

TEST(ParallelProbes, SixteenDownloadsAtOnceEachLandInTheirOwnFlash) {
  ScratchDir dir;
  std::string toml;
  for (int i = 0; i < 16; ++i) toml += "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";
  auto bench = MustLoad(toml, dir.path());
  ASSERT_TRUE(bench);
  constexpr size_t kSize = 48 * 1024 + 100;
  std::vector<std::thread> threads;
  std::vector<int> finished(16, 0);
  for (int p = 0; p < 16; ++p) {
    threads.emplace_back([&, p] {
      Host h(bench->Probe(static_cast<size_t>(p)));
      KeldaNorReady(h);
      if (h.Code(Host::DownloadInfo(kNor, 0, static_cast<uint32_t>(p % 8), kSize, true)) != 'Q') return;
      for (size_t sent = 0; sent < kSize;) {
        const size_t n = std::min<size_t>(64, kSize - sent);
        h.Write(Bytes(n, static_cast<uint8_t>(p + sent / 2048)));
        sent += n;
        if (sent % 2048 == 0 || sent == kSize) {
          auto a = h.Read(5, 14000);
          if (!a || ((*a)[0] != 'Q' && (*a)[0] != 0x60)) return;
          if ((*a)[0] == 0x60) finished[static_cast<size_t>(p)] = sent == kSize;
        }
      }
    });
  }
  for (auto& t : threads) t.join();
  for (int p = 0; p < 16; ++p) {
    EXPECT_TRUE(finished[static_cast<size_t>(p)]) << "probe " << p;
    const Bytes flash = ReadFile(FlashFilePath(*bench, static_cast<size_t>(p)));
    const size_t at = static_cast<size_t>(p % 8) * 0x10000;
    ASSERT_EQ(flash.size(), 512u * 1024);
    EXPECT_EQ(flash[at], p) << "probe " << p;
    EXPECT_EQ(flash[at + kSize - 1], static_cast<uint8_t>(p + (kSize - 1) / 2048)) << "probe " << p;
    EXPECT_EQ(flash[at + kSize], 0xFF) << "probe " << p;
  }
}

}  // namespace
}  // namespace probesim::test
