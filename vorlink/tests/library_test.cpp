// SPDX-License-Identifier: MIT
// The built libVorlink.so as the programmer sees it: its dynamic symbol table, the sweep over
// all device indices with no probe attached, VORLINK_TRACE, and VORLINK_BENCH with a good and a
// malformed bench file. Each load runs in a child process (vorlink_run), since the library reads
// its environment once, when it is loaded.
#include <gtest/gtest.h>

#include <cstdio>
#include <fstream>
#include <regex>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "library_run.h"

namespace vorlink::testing {
namespace {

// The four entry points, DeviceLocation and WriteChunks, nothing else.
TEST(VorlinkLibrary, ExportsExactlyTheFourFunctionsDeviceLocationAndWriteChunks) {
  const Output nm = Shell("nm -D --defined-only '" VORLINK_LIBRARY "'");
  ASSERT_EQ(nm.status, 0) << nm.text;
  std::set<std::string> names;
  for (const std::string& line : Lines(nm.text)) {
    std::istringstream fields(line);
    std::string address, type, name;
    fields >> address >> type >> name;
    if (!name.empty()) names.insert(name);
  }
  EXPECT_EQ(names,
            (std::set<std::string>{"Close", "DeviceLocation", "OpenDevice", "Read", "Write", "WriteChunks"}))
      << nm.text;
}

TEST(VorlinkLibrary, NoProbeAttachedEveryIndexFailsQuickly) {
  const Output out = RunLibrary("", "sweep 0x16 write 0 0100000000 500 read 0 5 500 close 0");
  ASSERT_EQ(out.status, 0) << out.text;
  const std::vector<std::string> lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 4u) << out.text;
  std::smatch match;
  ASSERT_TRUE(std::regex_match(lines[0], match, std::regex(R"(sweep( 0){16} us=(\d+))"))) << lines[0];
  const long long us = std::stoll(match[2]);
  RecordProperty("sweep_us", std::to_string(us));
  std::printf("OpenDevice(0x16, 0..15) with no probe: %lld us\n", us);
  EXPECT_LT(us, 5'000'000);  // a hang guard only; the figure itself is reported above
  EXPECT_EQ(lines[1], "write 0 0 0");
  EXPECT_EQ(lines[2], "read 0 0 0 ");
}

TEST(VorlinkLibrary, TraceAppendsOneLinePerCall) {
  ScratchDir dir;
  const fs::path trace = dir / "trace.log";
  const Output out = RunLibrary("VORLINK_TRACE='" + trace.string() + "'",
                                "sweep 0x16 write 3 98a1ff 500 read 20 4 250 close 3");
  ASSERT_EQ(out.status, 0) << out.text;
  const std::vector<std::string> lines = Lines(ReadFile(trace));
  std::vector<std::string> calls;
  for (const std::string& line : lines) {
    if (line.find(" note ") == std::string::npos) calls.push_back(line);  // notes tell about the load
  }
  ASSERT_EQ(calls.size(), 19u) << ReadFile(trace);
  const std::regex open(R"(\d+\.\d{6} dev=(\d+) fn=OpenDevice pid=0x0016 result=0 via=(primary|libusb0))");
  for (int index = 0; index < 16; ++index) {
    std::smatch match;
    ASSERT_TRUE(std::regex_match(calls[index], match, open)) << calls[index];
    EXPECT_EQ(match[1], std::to_string(index));
  }
  EXPECT_TRUE(std::regex_match(
      calls[16], std::regex(R"(\d+\.\d{6} dev=3 fn=Write len=3 count=0 timeout=500 result=0 data=98a1ff)")))
      << calls[16];
  EXPECT_TRUE(std::regex_match(
      calls[17], std::regex(R"(\d+\.\d{6} dev=20 fn=Read len=4 count=0 timeout=250 result=0 data=)")))
      << calls[17];
  EXPECT_TRUE(std::regex_match(calls[18], std::regex(R"(\d+\.\d{6} dev=3 fn=Close)"))) << calls[18];

  // A second load appends.
  ASSERT_EQ(RunLibrary("VORLINK_TRACE='" + trace.string() + "'", "close 1").status, 0);
  EXPECT_EQ(Lines(ReadFile(trace)).back().substr(Lines(ReadFile(trace)).back().find(' ')), " dev=1 fn=Close");
}

TEST(VorlinkLibrary, MalformedBenchFileActsAsNoProbeAndIsTraced) {
  ScratchDir dir;
  const fs::path bench = dir / "broken.toml";
  const fs::path trace = dir / "trace.log";
  std::ofstream(bench) << "[[probe]\nthis is = = not toml\n";
  const Output out = RunLibrary("PROBESIM_STATE_DIR='" + dir.path() + "' VORLINK_BENCH='" + bench.string() +
                                    "' VORLINK_TRACE='" + trace.string() + "'",
                                "sweep 0x16 write 0 01 500");
  ASSERT_EQ(out.status, 0) << out.text;
  EXPECT_TRUE(out.text.rfind("sweep 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ", 0) == 0) << out.text;
  const std::string traced = ReadFile(trace);
  EXPECT_NE(traced.find(" note bench error: "), std::string::npos) << traced;
  EXPECT_NE(traced.find("broken.toml"), std::string::npos) << traced;
}

#ifdef VORLINK_HAVE_BENCH
TEST(VorlinkLibrary, BenchProbeAnswersThroughTheLibrary) {
  ScratchDir dir;
  const Output out =
      RunLibrary("PROBESIM_STATE_DIR='" + dir.path() +
                     "' VORLINK_BENCH='" ZOLT_SOURCE_DIR "/examples/benches/kelda-4.toml'",
                 "open 0x16 0 write 0 0100000000 500 read 0 5 500 close 0 write 0 0100000000 500 "
                 "open 0x16 4");
  ASSERT_EQ(out.status, 0) << out.text;
  const std::vector<std::string> lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 6u) << out.text;
  EXPECT_EQ(lines[0], "open 0 1");
  EXPECT_EQ(lines[1], "write 0 1 5");
  EXPECT_EQ(lines[2].substr(0, 13), "read 0 1 5 51");  // "Q"
  EXPECT_EQ(lines[3], "close 0");
  EXPECT_EQ(lines[4], "write 0 0 0");  // closed
  EXPECT_EQ(lines[5], "open 4 0");     // a four-probe bench
}

// Probes seen only by libusb0: device index 0 falls back, opens the last one in the walk, and
// every other index stays closed.
TEST(VorlinkLibrary, BenchFallBackToLibusb0ReachesTheLastProbe) {
  ScratchDir dir;
  const fs::path bench = dir / "libusb0-only.toml";
  const fs::path trace = dir / "trace.log";
  const fs::path events = dir / "events.log";
  std::ofstream(bench) << "[[probe]]\ntarget = \"KELDA\"\nflash = \"none\"\nusb = \"libusb0\"\n"
                       << "[[probe]]\ntarget = \"KELDA\"\nflash = \"none\"\nusb = \"libusb0\"\n";
  const Output out =
      RunLibrary("PROBESIM_STATE_DIR='" + dir.path() + "' PROBESIM_LOG='" + events.string() +
                     "' VORLINK_BENCH='" + bench.string() + "' VORLINK_TRACE='" + trace.string() + "'",
                 "sweep 0x16 write 0 0100000000 500 read 0 5 500 close 0");
  ASSERT_EQ(out.status, 0) << out.text;
  const std::vector<std::string> lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 4u) << out.text;
  EXPECT_EQ(lines[0].substr(0, 38), "sweep 1 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ");
  EXPECT_EQ(lines[1], "write 0 1 5");
  EXPECT_EQ(lines[2].substr(0, 13), "read 0 1 5 51");
  const std::string traced = ReadFile(trace);
  EXPECT_NE(traced.find("dev=0 fn=OpenDevice pid=0x0016 result=1 via=libusb0"), std::string::npos) << traced;
  const std::string seen = ReadFile(events);
  EXPECT_NE(seen.find("p=1 "), std::string::npos) << seen;
  EXPECT_EQ(seen.find("p=0 "), std::string::npos) << seen;
}
#endif

}  // namespace
}  // namespace vorlink::testing
