// SPDX-License-Identifier: MIT
// zolt-flash --history and --expect end to end: the board lines of real runs on virtual benches,
// the boards a run must find, history paths that cannot take the lines, and a history that stops
// taking them half way.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <functional>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "cli/options.h"
#include "history_lines.h"
#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

using nlohmann::json;

// The probe's location: "bench:<probe name>" from a library with the DeviceLocation export,
// "unknown" from one without it.
void ExpectLocation(const json& location, int board) {
  const std::string text = location.get<std::string>();
  EXPECT_TRUE(text == "bench:board-" + std::to_string(board) || text == "unknown") << text;
}

class ZoltFlashHistory : public ZoltFlash {};

// Two runs append to one history: four boards, a started and an ended line each, the second run's
// middle board failing.
TEST_F(ZoltFlashHistory, EachBoardGetsAStartedAndAnEndedLine) {
  const std::string image = PatternBytes(5000, 11);
  const std::string imagePath = dir.Write("image.bin", image);
  const std::string history = dir / "history.jsonl";
  const std::string json1 = dir / "one.json";
  const auto args = Args(kKeldaNor, {"--image1", imagePath, "--block1", "1", "--history", history});

  ProcessResult good = Run(Args(args, {"--json", json1}), BenchEnv(KeldaBench(2, "instant")));
  ASSERT_EQ(good.exitCode, 0) << good.err;
  ProcessResult bad = Run(args, BenchEnv(KeldaBench(2, "instant", "program_fail = [0x10100]")));
  ASSERT_EQ(bad.exitCode, 1) << bad.err;
  EXPECT_EQ(bad.err.find("zolt-flash: history"), std::string::npos) << bad.err;

  const auto lines = HistoryLines(history);
  ASSERT_EQ(lines.size(), 8u);
  // Per run: each device's started line comes before its ended line; sequences 1 and 2.
  for (int run = 0; run < 2; ++run) {
    SCOPED_TRACE(run);
    std::map<int, json> started, ended;
    for (int i = 0; i < 4; ++i) {
      const json& line = lines[run * 4 + i];
      auto& into = line["event"] == "started" ? started : ended;
      const int device = line["device"].get<int>();
      EXPECT_EQ(into.count(device), 0u);
      if (line["event"] == "ended") {
        EXPECT_EQ(started.count(device), 1u) << "ended before started";
      }
      into[device] = line;
    }
    ASSERT_EQ(started.size(), 2u);
    ASSERT_EQ(ended.size(), 2u);
    std::set<uint64_t> sequences;
    for (int device : {0, 1}) {
      SCOPED_TRACE(device);
      const json& s = started[device];
      const json& e = ended[device];
      sequences.insert(e["sequence"].get<uint64_t>());
      EXPECT_EQ(s["sequence"], e["sequence"]);
      EXPECT_EQ(s["started"], e["started"]);
      EXPECT_TRUE(s["ended"].is_null());
      EXPECT_TRUE(s["result"].is_null());
      ExpectLocation(s["location"], device);
      EXPECT_EQ(s["location"], e["location"]);
      EXPECT_EQ(e["product"], "KELDA");
      EXPECT_EQ(e["jtagId"], "0x00AECADD");
      EXPECT_EQ(e["flash"]["part"], "EN29LV040A");
      EXPECT_EQ(e["flash"]["makerId"].get<std::string>().rfind("0x", 0), 0u);
      EXPECT_NE(e["flash"]["makerId"], "0x0000");
      EXPECT_EQ(e["version"], ProgrammerVersion());
      EXPECT_FALSE(e["host"].get<std::string>().empty());
      EXPECT_LE(e["started"].get<std::string>(), e["ended"].get<std::string>());
      EXPECT_GE(e["seconds"].get<double>(), 0.0);
      ASSERT_EQ(e["images"].size(), 1u);
      const json& img = e["images"][0];
      EXPECT_EQ(img["slot"], 1);
      EXPECT_EQ(img["path"], imagePath);
      EXPECT_EQ(img["place"], "block 1, offset 0x00000000");
      EXPECT_EQ(img["size"], image.size());
      const bool fails = run == 1 && device == 1;
      EXPECT_EQ(e["result"], fails ? "failed" : "ok");
      EXPECT_EQ(img["ok"], !fails);
      if (fails) {
        EXPECT_LT(img["sentBytes"].get<uint64_t>(), image.size() + 1);
        EXPECT_EQ(e["failures"], json::array({"WRITE ERROR"}));
      } else {
        EXPECT_EQ(img["sentBytes"], image.size());
        EXPECT_EQ(img["crc32"], Hex8(Crc32(image))) << "the CRC of what went to the probe is the file's";
        EXPECT_EQ(e["bytesSent"], image.size());
        EXPECT_EQ(e["failures"], json::array());
      }
    }
    EXPECT_EQ(sequences, (std::set<uint64_t>{1, 2}));
  }
  // The summary names each device's location as the history does.
  const json summary = json::parse(ReadFileBytes(json1));
  ASSERT_EQ(summary["devices"].size(), 2u);
  for (int device : {0, 1}) ExpectLocation(summary["devices"][device]["location"], device);
  EXPECT_TRUE(summary["expected"].is_null());
  EXPECT_TRUE(summary["found"].is_null());
  EXPECT_TRUE(summary["historyError"].is_null());
}

TEST_F(ZoltFlashHistory, ExpectFailsARunShortOfBoards) {
  const std::string image = dir.Write("image.bin", PatternBytes(3000, 12));
  struct Case {
    const char* name;
    std::string bench;
    const char* expect;
    int status;
    const char* stderrHas;  // "" when no --expect line may appear
    int found;
  };
  const Case cases[] = {
      {"two boards, three expected", KeldaBench(2, "instant"), "3", 1,
       "zolt-flash: --expect 3: 2 boards found, 2 programmed ok\n", 2},
      {"two boards, two expected", KeldaBench(2, "instant"), "2", 0, "", 2},
      {"two boards, one fails", KeldaBench(2, "instant", "program_fail = [0x10100]"), "2", 1,
       "zolt-flash: --expect 2: 2 boards found, 1 programmed ok\n", 2},
      {"one board, one expected", KeldaBench(1, "instant"), "1", 0, "", 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string summary = dir / "summary.json";
    ProcessResult r =
        Run(Args(kKeldaNor, {"--image1", image, "--block1", "1", "--expect", c.expect, "--json", summary}),
            BenchEnv(c.bench));
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    if (*c.stderrHas == '\0') {
      EXPECT_EQ(r.err.find("--expect"), std::string::npos) << r.err;
    } else {
      EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
    }
    const json s = json::parse(ReadFileBytes(summary));
    EXPECT_EQ(s["expected"], std::stoi(c.expect));
    EXPECT_EQ(s["found"], c.found);
    EXPECT_EQ(s["exitCode"], c.status);
  }
}

TEST_F(ZoltFlashHistory, AHistoryThatCannotTakeTheLinesIsAUsageError) {
  const std::string image = dir.Write("image.bin", PatternBytes(3000, 13));
  const std::string fifo = dir / "history.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directories(dir / "folder");
  struct Case {
    const char* name;
    std::vector<std::string> more;
    const char* stderrHas;
  };
  const Case cases[] = {
      {"FIFO", {"--history", fifo}, "a FIFO keeps nothing"},
      {"folder", {"--history", dir / "folder"}, "Is a directory"},
      {"device", {"--history", "/dev/null"}, "a device keeps no history"},
      {"missing folder", {"--history", dir / "no/such.jsonl"}, "No such file or directory"},
      {"the image", {"--history", image}, "it is image1"},
      {"the summary, not made yet",
       {"--history", dir / "same.json", "--json", dir / "same.json"},
       "it is the --json summary"},
      {"the bench file", {"--history", dir / "bench.toml"}, "it is the file VORLINK_BENCH names"},
      {"a toggle run", {"--history", dir / "h.jsonl", "--toggle"}, "--history: a pin toggle run"},
      // A station's history is checked as strictly, before any fixture is polled.
      {"a station's history that is the image", {"--station", "--history", image}, "it is image1"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir / "probe.log");
    const std::string imageBefore = ReadFileBytes(image);
    ProcessResult r =
        Run(Args(Args(kKeldaNor, {"--image1", image}), c.more), BenchEnv(KeldaBench(1, "instant")));
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFileBytes(dir / "probe.log"), "") << "no probe saw a command";
    EXPECT_EQ(ReadFileBytes(image), imageBefore);
  }
  EXPECT_FALSE(std::filesystem::exists(dir / "same.json")) << "a refused history is not made";
  EXPECT_FALSE(std::filesystem::exists(dir / "h.jsonl"));
}

// The file size limit (as a full disk would) stops the history from taking any line: the boards
// are still programmed, the cause is said once, and the status is 1, not a SIGXFSZ death.
TEST_F(ZoltFlashHistory, AHistoryWriteThatFailsMidRunEndsWithStatusOne) {
  const std::string image = PatternBytes(3000, 14);
  const std::string imagePath = dir.Write("image.bin", image);
  // 2 MiB of earlier lines: at or beyond the limit of `ulimit -f 2048` (in 1 KiB blocks, or 512-byte
  // ones in some shells), while the boards' 512 KiB flash files of the bench stay within it.
  constexpr size_t kLimit = 2 * 1024 * 1024;
  std::string earlier;
  const std::string line = "{\"event\":\"ended\",\"sequence\":0,\"note\":\"earlier\"}\n";
  while (earlier.size() + line.size() <= kLimit) earlier += line;
  earlier.append(kLimit - earlier.size() - 1, ' ');
  earlier += "\n";
  const std::string history = dir.Write("history.jsonl", earlier);

  std::vector<std::string> args = {"-c", "ulimit -f 2048 && exec \"$0\" \"$@\"", FlashProgram()};
  const std::string summary = dir / "summary.json";
  args = Args(args, Args(kKeldaNor,
                         {"--image1", imagePath, "--block1", "1", "--history", history, "--json", summary}));
  ProcessResult r = Run(args, BenchEnv(KeldaBench(2, "instant")), "/bin/sh");
  EXPECT_EQ(r.exitCode, 1) << r.err;
  const std::string expected = "zolt-flash: history: " + history + ": File too large\n";
  ASSERT_NE(r.err.find(expected), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find(expected), r.err.rfind(expected)) << "said once: " << r.err;
  EXPECT_NE(r.err.find("message: Download Complete !"), std::string::npos);
  EXPECT_EQ(ReadFileBytes(history), earlier) << "no part of a line was added";
  // The summary tells the run went well but its history did not.
  const json s = json::parse(ReadFileBytes(summary));
  EXPECT_EQ(s["result"], "complete");
  EXPECT_EQ(s["exitCode"], 1);
  EXPECT_EQ(s["historyError"], history + ": File too large");
  ExpectFlashHolds(0, image, 0x10000);
  ExpectFlashHolds(1, image, 0x10000);
}

}  // namespace
}  // namespace zolt::cli::testing
