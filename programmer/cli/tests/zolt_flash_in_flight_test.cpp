// SPDX-License-Identifier: MIT
// zolt-flash with transfers in flight switched on (flag or variable): through the real library the
// probe receives exactly what one Write a chunk sends; against a link library without the
// WriteChunks export, one stderr line at the start of the run, and then the run streams, logs and
// ends exactly as without the switch. A bad variable is a usage error.
#include <signal.h>

#include <algorithm>
#include <cstdio>
#include <filesystem>
#include <map>
#include <sstream>

#include "cli/options.h"
#include "testing/bench_control.h"
#include "testing/text_count.h"
#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

using ::zolt::testing::Count;

// The OUT payloads of a VORLINK_TRACE file, in order: "dev len data" of every Write line (a
// WriteChunks call traces each of its chunks as such a line, after its own marker line).
std::vector<std::string> OutPayloads(const std::string& trace) {
  std::vector<std::string> out;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    if (line.find(" fn=Write ") == std::string::npos) continue;
    std::istringstream fields(line);
    std::string time, dev, fn, len, count, timeout, result, data;
    fields >> time >> dev >> fn >> len >> count >> timeout >> result >> data;
    out.push_back(dev + " " + len + " " + data);
  }
  return out;
}

// Through the real library, which keeps transfers in flight: the probe gets the same OUT payloads,
// in the same order and lengths, and the log, the messages and the flash are the same.
TEST_F(ZoltFlash, TransfersInFlightSendTheSameOutPayloadsAsOneWriteAChunk) {
  const std::string nandBench =
      "[bench]\ntiming = \"instant\"\n[[probe]]\ntarget = \"KELDA\"\nflash = \"K9F5608\"\n";
  struct Case {
    const char* name;
    std::vector<std::string> settings;
    std::string bench;
    size_t size;
  };
  std::vector<Case> cases;
  for (size_t size : {size_t{0}, size_t{100}, size_t{2047}, size_t{2048}, size_t{4096}, size_t{70001}}) {
    cases.push_back({"NOR", kKeldaNor, KeldaBench(1, "instant"), size});
    cases.push_back({"NAND", {"--product", "KELDA", "--nand"}, nandBench, size});
  }
  // The probe goes away after its 40th transfer, in the middle of the second block's chunks.
  cases.push_back({"NOR, probe gone mid-block", kKeldaNor,
                   "[bench]\ntiming = \"instant\"\n[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n"
                   "[probe.faults]\nunplug_after_transfers = 60\n",
                   6000});
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.name) + " " + std::to_string(c.size));
    const std::string image = dir.Write("image.bin", PatternBytes(c.size, 7));
    std::map<std::string, ProcessResult> runs;
    std::map<std::string, std::vector<std::string>> payloads;
    std::map<std::string, std::string> flash;
    for (const char* variable : {"0", "1"}) {
      std::filesystem::remove_all(dir / "state");
      FlashChild::Env env = BenchEnv(c.bench);
      env["ZOLT_TRANSFERS_IN_FLIGHT"] = variable;
      const std::string trace = dir / (std::string("trace-") + variable + ".log");
      std::filesystem::remove(trace);
      env["VORLINK_TRACE"] = trace;
      runs[variable] = Run(Args(c.settings, {"--image1", image}), env);
      payloads[variable] = OutPayloads(ReadFileBytes(trace));
      flash[variable] = ReadFileBytes(dir / "state/bench-0.bin");
      if (std::string(variable) == "1" &&
          c.size >= 64) {  // a file without a whole chunk has no block to send
        EXPECT_NE(ReadFileBytes(trace).find("fn=WriteChunks"), std::string::npos) << "never in flight";
      }
    }
    EXPECT_EQ(runs["1"].exitCode, runs["0"].exitCode);
    EXPECT_EQ(runs["1"].out, runs["0"].out);
    EXPECT_EQ(runs["1"].err, runs["0"].err);
    EXPECT_EQ(payloads["1"], payloads["0"]);
    EXPECT_GT(payloads["0"].size(), 4u);
    EXPECT_TRUE(flash["1"] == flash["0"]);
  }
}

// The bench's transfers up to the first chunk of a download of `image` (whose first 64 bytes
// begin it), counted in the trace of a run with one Write a chunk: each Write or Read line is one.
int64_t TransfersBeforeTheData(const std::string& trace, const std::string& image) {
  std::string first;
  for (size_t i = 0; i < 64 && i < image.size(); ++i) {
    char hex[3];
    std::snprintf(hex, sizeof hex, "%02x", static_cast<unsigned char>(image[i]));
    first += hex;
  }
  int64_t transfers = 0;
  std::istringstream lines(trace);
  for (std::string line; std::getline(lines, line);) {
    const bool write = line.find(" fn=Write ") != std::string::npos;
    if (write && line.ends_with(" data=" + first)) return transfers;
    if (write || line.find(" fn=Read ") != std::string::npos) ++transfers;
  }
  return -1;
}

// A stop in the middle of a file and a chunk in the middle of a block that fails, each at the same
// transfer in both runs: the bench holds block 1's response until the stop request has reached
// the jobs, or goes away at chunk 5 of block 1. The probe gets the same OUT payloads, and the log,
// the messages and the flash are the same.
TEST_F(ZoltFlash, TransfersInFlightStopAndFailMidFileAsOneWriteAChunkDoes) {
  const std::string bench =
      "[bench]\ntiming = \"instant\"\n[[probe]]\nname = \"p\"\ntarget = \"KELDA\"\nflash = \"K9F5608\"\n";
  const std::vector<std::string> settings = {"--product", "KELDA", "--nand"};
  const std::string imageBytes = PatternBytes(70001, 11);
  const std::string image = dir.Write("image.bin", imageBytes);
  const std::string socket = dir / "control.sock";
  auto env = [&](const std::string& faults, const char* variable, const std::string& trace) {
    std::filesystem::remove_all(dir / "state");
    std::filesystem::remove(dir / "probe.log");
    std::filesystem::remove(trace);
    FlashChild::Env e = BenchEnv(bench + (faults.empty() ? "" : "[probe.faults]\n" + faults + "\n"));
    e["ZOLT_TRANSFERS_IN_FLIGHT"] = variable;
    e["VORLINK_TRACE"] = trace;
    e["PROBESIM_CONTROL"] = socket;
    return e;
  };
  const std::string reference = dir / "reference.log";
  ASSERT_EQ(Run(Args(settings, {"--image1", image}), env("", "0", reference)).exitCode, 0);
  const int64_t before = TransfersBeforeTheData(ReadFileBytes(reference), imageBytes);
  ASSERT_GT(before, 0);
  // A block is 32 chunks and its response: block 1's chunks are transfers before+34 to before+65.
  struct Case {
    const char* name;
    std::string faults;
    bool stop;
    int exitCode;
  };
  const Case cases[] = {
      {"stop at block 1's response", "hold_at_transfer = " + std::to_string(before + 66), true, 3},
      {"chunk 5 of block 1 fails", "unplug_after_transfers = " + std::to_string(before + 33 + 5), false, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::map<std::string, ProcessResult> runs;
    std::map<std::string, std::vector<std::string>> payloads;
    std::map<std::string, std::string> flash;
    for (const char* variable : {"0", "1"}) {
      SCOPED_TRACE(std::string("ZOLT_TRANSFERS_IN_FLIGHT=") + variable);
      const std::string trace = dir / (std::string("trace-") + variable + ".log");
      FlashChild child(FlashProgram(), Args(settings, {"--image1", image}), env(c.faults, variable, trace),
                       dir.path());
      if (c.stop) {
        ASSERT_TRUE(WaitForFileText(dir / "probe.log", " hold\n"));
        child.Signal(SIGINT);
        ASSERT_TRUE(WaitForFileText(child.ErrPath(), kStopRequestedLine));
        ASSERT_EQ(::zolt::testing::BenchControl(socket).Send("release p"), "ok");
      }
      runs[variable] = child.Wait();
      payloads[variable] = OutPayloads(ReadFileBytes(trace));
      flash[variable] = ReadFileBytes(dir / "state/bench-0.bin");
    }
    EXPECT_EQ(runs["0"].exitCode, c.exitCode) << runs["0"].out << runs["0"].err;
    EXPECT_EQ(runs["1"].exitCode, runs["0"].exitCode);
    EXPECT_EQ(runs["1"].out, runs["0"].out);
    EXPECT_EQ(runs["1"].err, runs["0"].err);
    EXPECT_EQ(payloads["1"], payloads["0"]);
    EXPECT_TRUE(flash["1"] == flash["0"]);
    if (c.stop) {
      // Block 2 is the last, and begins with the stop marker "USBJTAG_Down_STOP" and its zero byte.
      EXPECT_NE(runs["0"].out.find("Download stop is OK."), std::string::npos) << runs["0"].out;
      std::vector<std::string> chunks;
      for (const std::string& p : payloads["0"])
        if (p.find(" len=64 ") != std::string::npos) chunks.push_back(p);
      ASSERT_EQ(chunks.size(), 3u * 32);
      EXPECT_NE(chunks[64].find(" data=5553424a5441475f446f776e5f53544f5000"), std::string::npos)
          << chunks[64];
      EXPECT_EQ(chunks[63].find(" data=5553424a"), std::string::npos);
    }
  }
}

// With a library that has only the four exports (no WriteChunks), the switch gives one stderr line
// at the start of the run, and then the run streams, logs and ends exactly as without it.
TEST_F(ZoltFlash, TransfersInFlightWithoutTheExportSayOneLineAndStreamAsUsual) {
  const std::string copy = dir / "four";
  std::filesystem::create_directories(copy);
  std::filesystem::copy_file(FlashProgram(), copy + "/zolt-flash");
  std::filesystem::copy_file(ZOLT_FOUR_EXPORTS_LINK, copy + "/libVorlink.so");
  const std::string program = copy + "/zolt-flash";

  const std::string image = dir.Write("image.bin", PatternBytes(70001, 3));
  const std::string tail = dir.Write("tail.bin", PatternBytes(2047, 4));
  const auto args = Args(kKeldaNor, {"--image1", image, "--image2", tail, "--block2", "3"});
  FlashChild::Env env = BenchEnv(KeldaBench(1, "instant"));
  env["ZOLT_TRANSFERS_IN_FLIGHT"] = "0";
  const ProcessResult plain = Run(args, env, program);
  ASSERT_EQ(plain.exitCode, 0) << plain.err;
  EXPECT_EQ(Count(plain.err, "transfers in flight"), 0u) << plain.err;

  struct Case {
    const char* name;
    std::vector<std::string> args;
    const char* variable;
  };
  const Case cases[] = {
      {"flag", Args(args, {"--transfers-in-flight"}), "0"},
      {"variable", args, "1"},
      {"both", Args(args, {"--transfers-in-flight"}), "1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    env["ZOLT_TRANSFERS_IN_FLIGHT"] = c.variable;
    const ProcessResult run = Run(c.args, env, program);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, plain.out);
    EXPECT_EQ(Count(run.err, std::string(kNoTransfersInFlightLine) + "\n"), 1u) << run.err;
    // Besides that line, stderr is what it was.
    std::string err = run.err;
    const size_t at = err.find(kNoTransfersInFlightLine);
    if (at != std::string::npos) err.erase(at, std::string(kNoTransfersInFlightLine).size() + 1);
    EXPECT_EQ(err, plain.err);
    ExpectFlashHolds(0, PatternBytes(70001, 3), 0);
    ExpectFlashHolds(0, PatternBytes(2047, 4), 3 * 65536);
  }
}

TEST_F(ZoltFlash, BadTransfersInFlightVariableIsAUsageErrorBeforeAnythingRuns) {
  const std::string image = dir.Write("image.bin", PatternBytes(100, 3));
  for (const char* value : {"yes", "2", " 1", "on"}) {
    SCOPED_TRACE(value);
    FlashChild::Env env = BenchEnv(KeldaBench(1, "instant"));
    env["ZOLT_TRANSFERS_IN_FLIGHT"] = value;
    const ProcessResult run = Run(Args(kKeldaNor, {"--image1", image}), env);
    EXPECT_EQ(run.exitCode, 2);
    EXPECT_EQ(run.out, "");
    EXPECT_EQ(run.err.rfind("zolt-flash: ZOLT_TRANSFERS_IN_FLIGHT: '", 0), 0u) << run.err;
    EXPECT_EQ(std::count(run.err.begin(), run.err.end(), '\n'), 1) << run.err;
  }
}

}  // namespace
}  // namespace zolt::cli::testing
