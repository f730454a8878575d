// SPDX-License-Identifier: MIT
// DeviceLocation of the built libVorlink.so on the virtual bench, through both transports: the
// probe's bench name, the buffer rules (cut to fit, the length as snprintf gives it, nothing
// written past the buffer), indices that are not open or outside 0..15, and its trace line.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "library_run.h"

namespace vorlink::testing {
namespace {

#ifdef VORLINK_HAVE_BENCH
struct LocationCall {
  const char* call;      // vorlink_run words
  const char* expected;  // its output line
};

void ExpectLines(const Output& out, const std::vector<LocationCall>& calls) {
  ASSERT_EQ(out.status, 0) << out.text;
  const std::vector<std::string> lines = Lines(out.text);
  ASSERT_EQ(lines.size(), calls.size()) << out.text;
  for (size_t i = 0; i < calls.size(); ++i) EXPECT_EQ(lines[i], calls[i].expected) << calls[i].call;
}

std::string Words(const std::vector<LocationCall>& calls) {
  std::string words;
  for (const LocationCall& c : calls) words += std::string(" ") + c.call;
  return words;
}

TEST(VorlinkLibraryLocation, BenchProbesAreNamedByTheirBenchName) {
  ScratchDir dir;
  const fs::path bench = dir / "two.toml";
  const fs::path trace = dir / "trace.log";
  std::ofstream(bench) << "[[probe]]\nname = \"line-1\"\ntarget = \"KELDA\"\n"
                       << "[[probe]]\ntarget = \"KELDA\"\n";  // named "probe 1" by default
  const std::vector<LocationCall> calls = {
      {"location 0 64", "location 0 0 []"},  // not open yet
      {"open 0x16 0", "open 0 1"},
      {"open 0x16 1", "open 1 1"},
      {"location 0 64", "location 0 12 [bench:line-1]"},
      {"location 1 64", "location 1 13 [bench:probe 1]"},
      {"location 0 13", "location 0 12 [bench:line-1]"},  // exactly fits with its NUL
      {"location 0 12", "location 0 12 [bench:line-]"},   // cut, the full length returned
      {"location 0 1", "location 0 12 []"},
      {"location 0 0", "location 0 12 []"},
      {"location 0 null", "location 0 12"},
      {"location 0 -1", "location 0 0 []"},
      {"location 2 64", "location 2 0 []"},  // a two-probe bench
      {"location 16 64", "location 16 0 []"},
      {"location -1 64", "location -1 0 []"},
      {"close 0", "close 0"},
      {"location 0 64", "location 0 0 []"},
      {"location 1 64", "location 1 13 [bench:probe 1]"},
  };
  const Output out = RunLibrary("PROBESIM_STATE_DIR='" + dir.path() + "' VORLINK_BENCH='" + bench.string() +
                                    "' VORLINK_TRACE='" + trace.string() + "'",
                                Words(calls));
  ExpectLines(out, calls);
  const std::string traced = ReadFile(trace);
  EXPECT_NE(traced.find(" dev=0 fn=DeviceLocation size=12 result=12 location=bench:line-\n"),
            std::string::npos)
      << traced;
  EXPECT_NE(traced.find(" dev=2 fn=DeviceLocation size=64 result=0 location=\n"), std::string::npos)
      << traced;
}

// A probe only libusb 0.1 sees: device index 0 falls back and has the probe's location; the
// other indices have none.
TEST(VorlinkLibraryLocation, Libusb0ProbeHasItsBenchNameAtIndexZero) {
  ScratchDir dir;
  const fs::path bench = dir / "old.toml";
  std::ofstream(bench)
      << "[[probe]]\nname = \"bench 7\"\ntarget = \"KELDA\"\nflash = \"none\"\nusb = \"libusb0\"\n";
  const std::vector<LocationCall> calls = {
      {"open 0x16 0", "open 0 1"},          {"location 0 64", "location 0 13 [bench:bench 7]"},
      {"location 1 64", "location 1 0 []"}, {"close 0", "close 0"},
      {"location 0 64", "location 0 0 []"},
  };
  ExpectLines(RunLibrary("PROBESIM_STATE_DIR='" + dir.path() + "' VORLINK_BENCH='" + bench.string() + "'",
                         Words(calls)),
              calls);
}
#endif

}  // namespace
}  // namespace vorlink::testing
