// SPDX-License-Identifier: MIT
// zolt-flash with transfers in flight switched on (flag or variable) against a link library that
// has no WriteChunks export: one stderr line at the start of the run, and then the run streams,
// logs and ends exactly as without the switch. A bad variable is a usage error.
#include <algorithm>

#include "cli/options.h"
#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

size_t Count(const std::string& text, const std::string& part) {
  size_t n = 0;
  for (size_t at = text.find(part); at != std::string::npos; at = text.find(part, at + 1)) ++n;
  return n;
}

TEST_F(ZoltFlash, TransfersInFlightWithoutTheExportSayOneLineAndStreamAsUsual) {
  const std::string image = dir.Write("image.bin", PatternBytes(70001, 3));
  const std::string tail = dir.Write("tail.bin", PatternBytes(2047, 4));
  const auto args = Args(kKeldaNor, {"--image1", image, "--image2", tail, "--block2", "3"});
  FlashChild::Env env = BenchEnv(KeldaBench(1, "instant"));
  env["ZOLT_TRANSFERS_IN_FLIGHT"] = "0";
  const ProcessResult plain = Run(args, env);
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
    const ProcessResult run = Run(c.args, env);
    EXPECT_EQ(run.exitCode, 0) << run.err;
    EXPECT_EQ(run.out, plain.out);
    EXPECT_EQ(Count(run.err, std::string(kNoTransfersInFlightLine) + "\n"), 1u) << run.err;
    // Besides that line, stderr is what it was.
    std::string err = run.err;
    err.erase(err.find(kNoTransfersInFlightLine), std::string(kNoTransfersInFlightLine).size() + 1);
    EXPECT_EQ(err, plain.err);
    for (int board = 0; board < 1; ++board) {
      ExpectFlashHolds(board, PatternBytes(70001, 3), 0);
      ExpectFlashHolds(board, PatternBytes(2047, 4), 3 * 65536);
    }
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
