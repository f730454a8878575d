// SPDX-License-Identifier: MIT
// WriteChunks of the built libVorlink.so on the virtual bench: a download sent as chunks in
// flight reaches the probe exactly as one sent by one Write per chunk (flash contents, the
// probe's data events, the traced Write lines), the first failed chunk stops the rest, and bad
// arguments send nothing. The probe is made ready with the command bytes of probesim's own
// test host, sent through the exports.
#include <gtest/gtest.h>

#include <fstream>
#include <regex>
#include <string>
#include <vector>

#include "board_setup.h"
#include "library_run.h"

namespace vorlink::testing {
namespace {

using probesim::test::Bytes;
using probesim::test::CfiRecord;
using probesim::test::Host;
using probesim::test::kNor;
using probesim::test::NorInfo;
using probesim::test::PinMapBytes;

std::string Hex(const Bytes& bytes) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string text;
  for (uint8_t b : bytes) {
    text += kHex[b >> 4];
    text += kHex[b & 0x0F];
  }
  return text;
}

// vorlink_run words for one command and its answer on device index 0.
std::string Exchange(const Bytes& command, int answerLength) {
  return " write 0 " + Hex(command) + " 7000 read 0 " + std::to_string(answerLength) + " 7000";
}

// Opens device index 0, makes the KELDA EN29LV040A board ready and announces a download of
// `blocks` x 2048 bytes at offset 0, as probesim's KeldaNorReady does.
std::string ReadyForDownload(int blocks) {
  using probesim::Product;
  std::string words = "open 0x16 0";
  words += Exchange(Host::Short(0x01), 5) + Exchange(Host::Short(0x02), 5);
  words += Exchange(Host::Short(0x04), 5);
  words += Exchange(Host::Prefixed(0x12, probesim::Model(Product::kKelda).image), 5);
  words += Exchange(Host::Prefixed(0x13, PinMapBytes(probesim::NorPinMap(Product::kKelda, 8, 0))), 5);
  words += Exchange(Host::Tagged(0x15, kNor, NorInfo{}.Record()), 5);
  words += Exchange({0x14, kNor, 1, 8, 1}, 8);
  words += Exchange(Host::Tagged(0x16, kNor, CfiRecord(512 * 1024, {{8, 64 * 1024}})), 5);
  words += Exchange(Host::DownloadInfo(kNor, 0, 0, static_cast<uint32_t>(blocks) * 2048, false), 5);
  return words;
}

struct BenchRun {
  Output out;
  std::vector<std::string> dataEvents;  // PROBESIM_LOG lines without their time
  std::vector<std::string> writeLines;  // VORLINK_TRACE fn=Write lines without their time
  std::vector<std::string> traceLines;  // every trace line without its time, notes left out
  Bytes flash;
};

std::string WithoutField(const std::string& line, const std::string& field) {
  return std::regex_replace(line, std::regex(field + "=[0-9.]+ "), "");
}

BenchRun RunOnBench(const std::string& benchToml, const std::string& calls) {
  ScratchDir dir;
  const fs::path bench = dir / "chunks.toml";
  std::ofstream(bench) << benchToml;
  const fs::path trace = dir / "trace.log";
  const fs::path events = dir / "events.log";
  BenchRun run;
  run.out = RunLibrary("PROBESIM_STATE_DIR='" + dir.path() + "' VORLINK_BENCH='" + bench.string() +
                           "' VORLINK_TRACE='" + trace.string() + "' PROBESIM_LOG='" + events.string() + "'",
                       calls);
  for (const std::string& line : Lines(ReadFile(events))) {
    if (line.find(" data len=") != std::string::npos) run.dataEvents.push_back(WithoutField(line, "t_us"));
  }
  for (const std::string& line : Lines(ReadFile(trace))) {
    const std::string untimed = line.substr(line.find(' ') + 1);
    if (untimed.rfind("note ", 0) == 0) continue;
    run.traceLines.push_back(untimed);
    if (untimed.find(" fn=Write ") != std::string::npos) run.writeLines.push_back(untimed);
  }
  run.flash = probesim::test::ReadFile(dir / "chunks-0.bin");
  return run;
}

constexpr char kNorBench[] = "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";
constexpr int kBlocks = 8;

// What vorlink_run's stream call sends: byte i is (i x 131 + i / 2048) mod 256.
Bytes StreamData(int blocks) {
  Bytes data(static_cast<size_t>(blocks) * 2048);
  for (size_t i = 0; i < data.size(); ++i) data[i] = static_cast<uint8_t>(i * 131 + i / 2048);
  return data;
}

TEST(VorlinkLibraryChunks, DownloadThroughChunksInFlightReachesTheProbeAsThroughWrites) {
  const std::string setup = ReadyForDownload(kBlocks);
  const std::string blockAnswers =
      "51515151515151"
      "60";  // "Q" per block, 0x60 after the last
  const BenchRun writes = RunOnBench(kNorBench, setup + " stream 0 " + std::to_string(kBlocks) + " 0 7000");
  ASSERT_EQ(writes.out.status, 0) << writes.out.text;
  ASSERT_TRUE(writes.out.text.find("stream 0 1 " + blockAnswers + " ") != std::string::npos)
      << writes.out.text;
  ASSERT_EQ(writes.dataEvents.size(), static_cast<size_t>(kBlocks * 32));
  const Bytes expected = StreamData(kBlocks);
  ASSERT_GE(writes.flash.size(), expected.size());
  EXPECT_TRUE(std::equal(expected.begin(), expected.end(), writes.flash.begin()));

  struct Case {
    const char* name;
    std::string calls;
  } cases[] = {
      // Calls with no chunk in between the Writes send nothing.
      {"0 chunks", "writechunks 0 null 64 0 7000 " + setup + " writechunks 0 null 64 0 7000 stream 0 " +
                       std::to_string(kBlocks) + " 0 7000 writechunks 0 null 64 0 7000"},
      {"1 chunk per call", setup + " stream 0 " + std::to_string(kBlocks) + " 1 7000"},
      {"8 chunks per call", setup + " stream 0 " + std::to_string(kBlocks) + " 8 7000"},
      {"32 chunks per call", setup + " stream 0 " + std::to_string(kBlocks) + " 32 7000"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const BenchRun chunks = RunOnBench(kNorBench, c.calls);
    ASSERT_EQ(chunks.out.status, 0) << chunks.out.text;
    EXPECT_TRUE(chunks.out.text.find("stream 0 1 " + blockAnswers + " ") != std::string::npos)
        << chunks.out.text;
    EXPECT_EQ(chunks.flash, writes.flash);
    EXPECT_EQ(chunks.dataEvents, writes.dataEvents);
    EXPECT_EQ(chunks.writeLines, writes.writeLines);
  }
}

// A fault that fails the sixth transfer: five chunks arrive, the sixth fails (as its Write would
// have), and nothing behind it reaches the probe.
TEST(VorlinkLibraryChunks, FirstFailedChunkStopsTheRest) {
  const std::string bench = std::string("[[probe]]\ntarget = \"KELDA\"\nflash = \"none\"\n") +
                            "[probe.faults]\nunplug_after_transfers = 5\n";
  std::string resets;
  for (int i = 0; i < 32; ++i) resets += Hex(Host::Short(0x01));  // 32 JtagResets of 5 bytes
  ScratchDir dir;
  const fs::path file = dir / "faulty.toml";
  std::ofstream(file) << bench;
  const fs::path events = dir / "events.log";
  const fs::path trace = dir / "trace.log";
  const Output out =
      RunLibrary("PROBESIM_STATE_DIR='" + dir.path() + "' VORLINK_BENCH='" + file.string() +
                     "' VORLINK_TRACE='" + trace.string() + "' PROBESIM_LOG='" + events.string() + "'",
                 "open 0x16 0 writechunks 0 " + resets + " 5 32 500");
  ASSERT_EQ(out.status, 0) << out.text;
  EXPECT_EQ(out.text, "open 0 1\nwritechunks 0 0 5 0 0\n");
  int commands = 0;
  for (const std::string& line : Lines(ReadFile(events)))
    commands += line.find(" cmd=0x01 len=5") != std::string::npos;
  EXPECT_EQ(commands, 5);

  // The call's own line, then the Write lines of the five chunks sent and of the one that failed.
  std::vector<std::string> calls;
  for (const std::string& line : Lines(ReadFile(trace))) {
    if (line.find(" note ") == std::string::npos) calls.push_back(line.substr(line.find(' ')));
  }
  ASSERT_EQ(calls.size(), 8u) << ReadFile(trace);
  EXPECT_EQ(calls[1], " dev=0 fn=WriteChunks len=5 chunks=32 timeout=500 result=0 completed=5 failed=0/0");
  for (int i = 0; i < 5; ++i)
    EXPECT_EQ(calls[2 + static_cast<size_t>(i)],
              " dev=0 fn=Write len=5 count=5 timeout=500 result=1 data=0100000000");
  EXPECT_EQ(calls[7], " dev=0 fn=Write len=5 count=0 timeout=500 result=0 data=0100000000");
}

// Every bad argument returns 0 with the out-values 0 and sends nothing; count 0 on an open index
// succeeds and sends nothing.
TEST(VorlinkLibraryChunks, BadArgumentsSendNothing) {
  struct Call {
    const char* words;
    const char* expected;
  } calls[] = {
      {"writechunks 0 0100000000 5 1 500", "writechunks 0 0 0 0 0"},  // not open yet
      {"open 0x16 0", "open 0 1"},
      {"writechunks 16 0100000000 5 1 500", "writechunks 16 0 0 0 0"},
      {"writechunks -1 0100000000 5 1 500", "writechunks -1 0 0 0 0"},
      {"writechunks 1 0100000000 5 1 500", "writechunks 1 0 0 0 0"},  // a one-probe bench
      {"writechunks 0 0100000000 5 -1 500", "writechunks 0 0 0 0 0"},
      {"writechunks 0 0100000000 0 1 500", "writechunks 0 0 0 0 0"},
      {"writechunks 0 0100000000 -5 1 500", "writechunks 0 0 0 0 0"},
      {"writechunks 0 null 5 1 500", "writechunks 0 0 0 0 0"},
      {"writechunks 0 0100000000 5 1 500 nullout", "writechunks 0 0 -12345 0 0"},
      {"writechunks 0 0100000000 65536 65536 500", "writechunks 0 0 0 0 0"},  // 4 GiB: beyond an int
      {"writechunks 0 null 5 0 500", "writechunks 0 1 0 0 0"},
      {"close 0", "close 0"},
      {"writechunks 0 null 5 0 500", "writechunks 0 0 0 0 0"},  // closed
  };
  std::string words;
  for (const Call& c : calls) words += std::string(" ") + c.words;
  const std::string bench = "[[probe]]\ntarget = \"KELDA\"\nflash = \"none\"\n";
  const BenchRun run = RunOnBench(bench, words);
  ASSERT_EQ(run.out.status, 0) << run.out.text;
  const std::vector<std::string> lines = Lines(run.out.text);
  ASSERT_EQ(lines.size(), std::size(calls)) << run.out.text;
  for (size_t i = 0; i < lines.size(); ++i) EXPECT_EQ(lines[i], calls[i].expected) << calls[i].words;
  // Only the call lines: no chunk was handed to the probe.
  for (const std::string& line : run.traceLines) EXPECT_EQ(line.find("fn=Write "), std::string::npos) << line;
  EXPECT_NE(std::find(run.traceLines.begin(), run.traceLines.end(),
                      "dev=0 fn=WriteChunks len=5 chunks=0 timeout=500 result=1 completed=0 failed=0/0"),
            run.traceLines.end());
}

// Not a test (wall-clock figures; run by hand with --gtest_also_run_disabled_tests): 128 blocks of
// 32 chunks in realistic timing, one Write per chunk against one WriteChunks per block, on a
// NAND board (2 KiB pages, programming far faster than the link) and a NOR board (8 us a byte
// and 0.5 s a sector erase, which the link cannot hide), at 1000 us (full speed) and 125 us
// (high speed) latency. Prints the times and their ratio.
TEST(VorlinkLibraryChunks, DISABLED_MeasureBlocksThroughWritesAndThroughChunksInFlight) {
  using probesim::Product;
  constexpr int kMeasuredBlocks = 128;
  std::string nand = "open 0x16 0";
  nand += Exchange(Host::Short(0x01), 5) + Exchange(Host::Short(0x02), 5) + Exchange(Host::Short(0x04), 5);
  nand += Exchange(Host::Prefixed(0x12, probesim::Model(Product::kKelda).image), 5);
  nand += Exchange(Host::Prefixed(0x13, PinMapBytes(probesim::NandPinMap(Product::kKelda))), 5);
  nand += Exchange({0x14, probesim::test::kNand, 0, 0, 0}, 8);
  nand += Exchange(Host::Tagged(0x15, probesim::test::kNand,
                                probesim::test::NandRecord(0xEC, 0xF1, 128u << 20, 2048, 128 * 1024, 64)),
                   5);
  nand += Exchange(Host::DownloadInfo(probesim::test::kNand, 0, 0, kMeasuredBlocks * 2048, false), 5);
  const struct Board {
    const char* name;
    const char* flash;
    std::string setup;
  } boards[] = {{"NAND K9F1G08", "K9F1G08", nand},
                {"NOR EN29LV040A", "EN29LV040A", ReadyForDownload(kMeasuredBlocks)}};
  for (const Board& board : boards) {
    for (int latency : {1000, 125}) {
      const std::string bench = std::string("[bench]\ntiming = \"realistic\"\nusb_latency_us = ") +
                                std::to_string(latency) + "\n[[probe]]\ntarget = \"KELDA\"\nflash = \"" +
                                board.flash + "\"\n";
      long long us[2] = {};
      for (int perCall : {0, 32}) {
        const BenchRun run = RunOnBench(bench, board.setup + " stream 0 " + std::to_string(kMeasuredBlocks) +
                                                   " " + std::to_string(perCall) + " 7000");
        std::smatch match;
        const std::string text = run.out.text;
        ASSERT_TRUE(std::regex_search(text, match, std::regex(R"(stream 0 1 [0-9a-f]+ us=(\d+))"))) << text;
        us[perCall ? 1 : 0] = std::stoll(match[1]);
      }
      std::printf(
          "%s, usb_latency_us %d: 128 blocks through Writes %lld us, through WriteChunks %lld us, ratio "
          "%.2f\n",
          board.name, latency, us[0], us[1], static_cast<double>(us[0]) / static_cast<double>(us[1]));
    }
  }
}

}  // namespace
}  // namespace vorlink::testing
