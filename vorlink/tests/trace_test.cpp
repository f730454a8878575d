// SPDX-License-Identifier: MIT
// The trace file under concurrent calls: every line arrives whole.
#include "trace.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <regex>
#include <string>
#include <thread>
#include <vector>

#include "testing/scratch_dir.h"

namespace vorlink {
namespace {

TEST(Trace, LinesFromConcurrentThreadsNeverInterleave) {
  const zolt::testing::ScratchDir dir("vorlink-trace");
  const std::filesystem::path file = dir / "trace.log";
  constexpr int kThreads = 4, kLines = 500;
  {
    std::unique_ptr<Trace> trace = Trace::Open(file.string());
    ASSERT_NE(trace, nullptr);
    std::vector<std::thread> threads;
    for (int t = 0; t < kThreads; ++t) {
      threads.emplace_back([&trace, t] {
        // 64-byte chunks as the download sends them, a different byte per thread.
        std::vector<unsigned char> bytes(64, static_cast<unsigned char>(0x11 * (t + 1)));
        for (int i = 0; i < kLines; ++i) {
          trace->Transfer("Write", t, 64, 64, 7000, 1, bytes.data(), 64);
        }
      });
    }
    for (std::thread& thread : threads) thread.join();
  }
  std::ifstream in(file);
  const std::regex line(
      R"(\d+\.\d{6} dev=(\d) fn=Write len=64 count=64 timeout=7000 result=1 data=((?:[0-9a-f]{2}){64}))");
  int count = 0;
  for (std::string text; std::getline(in, text); ++count) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(text, match, line)) << text;
    const int t = std::stoi(match[1]);
    char pair[3];
    std::snprintf(pair, sizeof pair, "%02x", 0x11 * (t + 1));
    std::string expected;
    for (int i = 0; i < 64; ++i) expected += pair;
    ASSERT_EQ(match[2], expected);
  }
  EXPECT_EQ(count, kThreads * kLines);
}

TEST(Trace, UnwritablePathGivesNoTrace) {
  EXPECT_EQ(Trace::Open("/nonexistent-dir/trace.log"), nullptr);
}

}  // namespace
}  // namespace vorlink
