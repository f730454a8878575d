// SPDX-License-Identifier: MIT
// PROBESIM_CONTROL through the built libVorlink.so, as a station sees it: boards placed on and
// taken off a probe (ReadJtagId through the exports), a probe unplugged while open and plugged in
// again (enumeration order, dead handle), and a control path that is not a socket. vorlink_run
// sends each control line itself and prints the reply, which comes only once the change is made,
// so the next call sees it.
#include <gtest/gtest.h>

#include <fstream>
#include <string>
#include <vector>

#include "library_run.h"

namespace vorlink::testing {
namespace {

#ifdef VORLINK_HAVE_BENCH
// The 32 bytes ReadJtagId answers for `id` (byte k holds bit k), as vorlink_run prints them.
std::string IdHex(uint32_t id) {
  std::string hex;
  for (int k = 0; k < 32; ++k) hex += (id >> k) & 1 ? "01" : "00";
  return hex;
}

struct Call {
  std::string call;
  std::string expected;
};

// The environment of a vorlink_run on the bench file `bench`, its state in `dir`, its control
// socket at `control`.
std::string BenchEnv(const ScratchDir& dir, const std::string& bench, const std::string& control) {
  return "PROBESIM_STATE_DIR='" + dir.path() + "' VORLINK_BENCH='" + bench + "' PROBESIM_CONTROL='" +
         control + "'";
}

// vorlink_run making `calls` on two KELDA probes named a and b.
Output RunOnTwoProbes(const ScratchDir& dir, const std::string& calls) {
  const fs::path bench = dir / "two.toml";
  std::ofstream(bench) << "[[probe]]\nname = \"a\"\ntarget = \"KELDA\"\n"
                       << "[[probe]]\nname = \"b\"\ntarget = \"KELDA\"\n";
  return RunLibrary(BenchEnv(dir, bench.string(), dir / "control.sock"), calls);
}

constexpr const char* kReadId = "write 0 1100010001 500 read 0 32 500";  // KELDA's ReadJtagId parameters

TEST(VorlinkLibraryControl, BoardsAndProbesComeAndGoBetweenCalls) {
  ScratchDir dir;
  const fs::path bench = dir / "station.toml";
  const fs::path events = dir / "events.log";
  std::ofstream(bench)
      << "[[probe]]\nname = \"p0\"\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nboard = false\n"
      << "[[probe]]\nname = \"p1\"\ntarget = \"KELDA\"\nflash = \"none\"\n";
  const std::string noBoard = "write 0 1 5\nread 0 1 32 " + IdHex(0xFFFFFFFF);
  const std::string kelda = "write 0 1 5\nread 0 1 32 " + IdHex(0x00AECADD);
  const std::vector<Call> calls = {
      {"open 0x16 0", "open 0 1"},
      {kReadId, noBoard},  // an empty fixture: TDO reads as ones
      {"control 'attach p0'", "control ok"},
      {kReadId, kelda},  // without a new JTAG reset
      {"control 'detach p0'", "control ok"},
      {kReadId, noBoard},
      {"control 'attach p0'", "control ok"},
      {"control 'unplug p0'", "control ok"},
      {kReadId, "write 0 0 0\nread 0 0 0 "},  // the open handle is dead
      {"open 0x16 0", "open 0 1"},            // the next probe moves up
      {"location 0 64", "location 0 8 [bench:p1]"},
      {"open 0x16 1", "open 1 0"},
      {"control 'plug p0'", "control ok"},
      {"open 0x16 0", "open 0 1"},
      {"location 0 64", "location 0 8 [bench:p0]"},
      {kReadId, kelda},  // the board stayed on the probe
      {"control 'attach nobody'", "control error: no probe \"nobody\""},
  };
  std::string words, expected;
  for (const Call& c : calls) {
    words += " " + c.call;
    expected += c.expected + "\n";
  }
  const Output out = RunLibrary(
      BenchEnv(dir, bench.string(), dir / "control.sock") + " PROBESIM_LOG='" + events.string() + "'", words);
  ASSERT_EQ(out.status, 0) << out.text;
  EXPECT_EQ(out.text, expected);
  // The second board's flash file, made erased when it was placed on the open probe.
  EXPECT_EQ(fs::file_size(dir / "p0-2.bin"), 512u * 1024u);
  EXPECT_TRUE(fs::exists(dir / "p0-1.bin"));
  EXPECT_FALSE(fs::exists(dir / "station-0.bin")) << "no board at the start, so no file for it";
  EXPECT_FALSE(fs::exists(dir / "control.sock")) << "the library removed its socket at exit";
  const std::string log = ReadFile(events);
  for (const char* event :
       {" attach board=1\n", " detach board=1\n", " attach board=2\n", " unplug\n", " plug\n"})
    EXPECT_NE(log.find(event), std::string::npos) << event << " in\n" << log;
}

// A handle from before an unplug stays dead when the probe comes back and another index opens it:
// closing the old index leaves the new open alone.
TEST(VorlinkLibraryControl, CloseOfAHandleFromBeforeAnUnplugLeavesTheNewOpenAlone) {
  ScratchDir dir;
  const Output out = RunOnTwoProbes(
      dir,
      "open 0x16 1 control 'unplug a' control 'unplug b' control 'plug b' open 0x16 0 location 0 64 "
      "write 1 0100000000 500 close 1 write 0 0100000000 500 read 0 5 500");
  ASSERT_EQ(out.status, 0) << out.text;
  EXPECT_EQ(out.text,
            "open 1 1\ncontrol ok\ncontrol ok\ncontrol ok\nopen 0 1\nlocation 0 7 [bench:b]\n"
            "write 1 0 0\nclose 1\nwrite 0 1 5\nread 0 1 5 5100000000\n");
}

// After an unplug the probes behind move up an index. An index that then reaches a probe another
// index has open does not open it (its interface is claimed, as usbfs answers EBUSY), and neither
// that failed open nor its close takes the probe from the index that has it.
TEST(VorlinkLibraryControl, IndexThatReachesAProbeAnotherIndexHasDoesNotOpenIt) {
  ScratchDir dir;
  const Output out = RunOnTwoProbes(
      dir,
      "open 0x16 0 open 0x16 1 control 'unplug a' open 0x16 0 location 0 64 write 1 0100000000 500 "
      "read 1 5 500 close 0 write 1 0100000000 500 read 1 5 500 location 1 64");
  ASSERT_EQ(out.status, 0) << out.text;
  EXPECT_EQ(out.text,
            "open 0 1\nopen 1 1\ncontrol ok\nopen 0 0\nlocation 0 0 []\nwrite 1 1 5\nread 1 1 5 5100000000\n"
            "close 0\nwrite 1 1 5\nread 1 1 5 5100000000\nlocation 1 7 [bench:b]\n");
}

TEST(VorlinkLibraryControl, ControlPathThatIsARegularFileIsRefusedAndTraced) {
  ScratchDir dir;
  const std::string file = dir.Write("control", "not a socket");
  const fs::path trace = dir / "trace.log";
  const Output out = RunLibrary(BenchEnv(dir, ZOLT_SOURCE_DIR "/examples/benches/kelda-4.toml", file) +
                                    " VORLINK_TRACE='" + trace.string() + "'",
                                "open 0x16 0 control 'detach probe 0'");
  ASSERT_EQ(out.status, 0) << out.text;
  const std::vector<std::string> lines = Lines(out.text);
  ASSERT_EQ(lines.size(), 2u) << out.text;
  EXPECT_EQ(lines[0], "open 0 1") << "the bench serves its probes all the same";
  EXPECT_TRUE(lines[1].starts_with("control (no reply: connect: ")) << lines[1];
  EXPECT_EQ(ReadFile(file), "not a socket");
  const std::string traced = ReadFile(trace);
  EXPECT_NE(traced.find(" note bench: PROBESIM_CONTROL " + file +
                        ": exists and is not a socket; no control channel"),
            std::string::npos)
      << traced;
}
#endif

}  // namespace
}  // namespace vorlink::testing
