// SPDX-License-Identifier: MIT
// The built libVorlink.so on hostile paths: VORLINK_BENCH and VORLINK_TRACE naming a FIFO, a
// device, a folder or a huge file load without waiting (the outcome is "no probe" or "no trace",
// and says why), and a bench probe whose flash file is held by another process or cannot be made
// does not open, with the reason in the trace before its OpenDevice line.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>

#include <string>
#include <vector>

#include "library_run.h"

#ifdef VORLINK_HAVE_BENCH
namespace vorlink::testing {
namespace {

// A hang in the library must fail the test, not stop the suite.
std::string Guard() {
  return "timeout -s KILL 60 ";
}

const char kNorBench[] =
    "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nflash_file = \"board.bin\"\n";

struct BadBench {
  const char* name;
  std::string (*make)(const fs::path& dir);
  const char* reason;
};

class BenchPathIsNotAFile : public ::testing::TestWithParam<BadBench> {};

TEST_P(BenchPathIsNotAFile, LoadsWithoutProbesAndTracesWhy) {
  ScratchDir dir;
  const std::string bench = GetParam().make(dir.path());
  const fs::path trace = dir / "trace.log";
  const Output out =
      Shell(Guard() + "env -u VORLINK_TRACE PROBESIM_STATE_DIR='" + dir.path() + "' VORLINK_BENCH='" + bench +
            "' VORLINK_TRACE='" + trace.string() + "' '" VORLINK_RUN "' '" VORLINK_LIBRARY "' sweep 0x16");
  ASSERT_EQ(out.status, 0) << out.text;
  EXPECT_EQ(out.text.rfind("sweep 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 0 ", 0), 0u) << out.text;
  const std::string traced = ReadFile(trace);
  EXPECT_NE(traced.find(" note bench error: " + bench + ":0: (file): " + GetParam().reason),
            std::string::npos)
      << traced;
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BenchPathIsNotAFile,
    ::testing::Values(
        BadBench{"Fifo",
                 [](const fs::path& dir) {
                   const std::string path = (dir / "bench.toml").string();
                   ::mkfifo(path.c_str(), 0600);
                   return path;
                 },
                 "not a regular file"},
        BadBench{"DevZero", [](const fs::path&) { return std::string("/dev/zero"); }, "not a regular file"},
        BadBench{"Folder", [](const fs::path& dir) { return dir.string(); }, "not a regular file"},
        BadBench{"Oversized",
                 [](const fs::path& dir) {
                   const std::string path = (dir / "big.toml").string();
                   std::ofstream(path) << kNorBench << std::string(2 << 20, '#');
                   return path;
                 },
                 "larger than 1 MiB"}),
    [](const auto& info) { return std::string(info.param.name); });

struct TracePath {
  const char* name;
  std::string (*make)(const fs::path& dir);
  bool refused;
};

class TracePathKind : public ::testing::TestWithParam<TracePath> {};

// A refused trace is said once on stderr (there is no trace to note it in); the probes work as
// without a trace.
TEST_P(TracePathKind, IsOpenedOnlyWhenARegularFileOrCharacterDevice) {
  ScratchDir dir;
  std::ofstream(dir / "bench.toml") << kNorBench;
  const std::string trace = GetParam().make(dir.path());
  const Output out = Shell(Guard() + "env -u VORLINK_BENCH PROBESIM_STATE_DIR='" + dir.path() +
                           "' VORLINK_BENCH='" + (dir / "bench.toml") + "' VORLINK_TRACE='" + trace +
                           "' '" VORLINK_RUN "' '" VORLINK_LIBRARY "' open 0x16 0 close 0 2>&1");
  ASSERT_EQ(out.status, 0) << out.text;
  const std::string refusal = "libVorlink.so: VORLINK_TRACE '" + trace +
                              "': not a regular file or character device; no trace is written\n";
  EXPECT_EQ(out.text, (GetParam().refused ? refusal : "") + "open 0 1\nclose 0\n");
}

INSTANTIATE_TEST_SUITE_P(
    Cases, TracePathKind,
    ::testing::Values(TracePath{"FifoWithoutReader",
                                [](const fs::path& dir) {
                                  const std::string path = (dir / "trace").string();
                                  ::mkfifo(path.c_str(), 0600);
                                  return path;
                                },
                                true},
                      TracePath{"Folder", [](const fs::path& dir) { return dir.string(); }, true},
                      TracePath{"DevNull", [](const fs::path&) { return std::string("/dev/null"); }, false},
                      TracePath{"RegularFile", [](const fs::path& dir) { return (dir / "t.log").string(); },
                                false}),
    [](const auto& info) { return std::string(info.param.name); });

// Another process (flock(1) here) holds the flash file: the probe does not open, the bench says so
// before the OpenDevice line, and libusb0 is not tried for a probe the primary transport lists.
TEST(VorlinkLibraryBench, FlashFileInUseByAnotherProcessKeepsTheProbeClosed) {
  ScratchDir dir;
  const fs::path bench = dir / "one.toml";
  const fs::path trace = dir / "trace.log";
  const fs::path flash = dir / "board.bin";
  std::ofstream(bench) << kNorBench;
  const std::string env = "PROBESIM_STATE_DIR='" + dir.path() + "' VORLINK_BENCH='" + bench.string() + "'";
  ASSERT_EQ(RunLibrary(env, "open 0x16 0 close 0").text, "open 0 1\nclose 0\n");  // makes the file
  ASSERT_TRUE(fs::exists(flash));

  const Output out =
      Shell(Guard() + "flock '" + flash.string() + "' env -u PROBESIM_LOG " + env + " VORLINK_TRACE='" +
            trace.string() + "' '" VORLINK_RUN "' '" VORLINK_LIBRARY "' open 0x16 0");
  ASSERT_EQ(out.status, 0) << out.text;
  EXPECT_EQ(out.text, "open 0 0\n");
  std::vector<std::string> lines = Lines(ReadFile(trace));
  ASSERT_EQ(lines.size(), 2u) << ReadFile(trace);
  const std::string why = "probe[0]: flash file " + flash.string() + ": in use by another process";
  EXPECT_EQ(lines[0].substr(lines[0].find(' ')), " note bench: " + why);
  EXPECT_EQ(lines[1].substr(lines[1].find(' ')), " dev=0 fn=OpenDevice pid=0x0016 result=0 via=primary");

  // Once the other process is gone the probe opens again.
  EXPECT_EQ(RunLibrary(env, "open 0x16 0").text, "open 0 1\n");
}

// A state folder without room for the flash (a small tmpfs; skipped where it cannot be mounted).
TEST(VorlinkLibraryBench, FullStateFolderKeepsTheProbeClosedAndTracesWhy) {
  ScratchDir dir;
  const fs::path state = dir / "state";
  fs::create_directory(state);
  if (::mount("tmpfs", state.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  const fs::path bench = dir / "one.toml";
  const fs::path trace = dir / "trace.log";
  std::ofstream(bench) << kNorBench;
  const Output out = RunLibrary("PROBESIM_STATE_DIR='" + state.string() + "' VORLINK_BENCH='" +
                                    bench.string() + "' VORLINK_TRACE='" + trace.string() + "'",
                                "open 0x16 0");
  ::umount2(state.c_str(), MNT_DETACH);
  EXPECT_EQ(out.text, "open 0 0\n");
  const std::string traced = ReadFile(trace);
  EXPECT_NE(traced.find(" note bench: probe[0]: flash file " + (state / "board.bin").string() +
                        ": cannot be made: cannot reserve 524288 bytes: No space left on device\n"),
            std::string::npos)
      << traced;
}

}  // namespace
}  // namespace vorlink::testing
#endif
