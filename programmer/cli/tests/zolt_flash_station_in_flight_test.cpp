// SPDX-License-Identifier: MIT
// zolt-flash --station with transfers in flight (flag or variable): through the real library every
// fixture's board job sends the probe exactly what one Write a chunk sends, and the boards, the
// flash files, the history and each fixture's log end as without the switch, a board whose probe
// goes away mid-block included. Against a library without the WriteChunks export the station says
// so once, as a normal run does, and streams as usual.
#include <gtest/gtest.h>

#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <regex>
#include <sstream>

#include "cli/options.h"
#include "testing/text_count.h"
#include "trace_payloads.h"
#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

using nlohmann::json;

constexpr size_t kBlock = 0x10000;  // EN29LV040A erase block; --block1 1 places the image here

using ::zolt::testing::Count;

std::string Hex8(uint32_t crc) {
  char text[16];
  std::snprintf(text, sizeof text, "%08x", crc);
  return text;
}

// Each fixture's log lines in order (the fixtures' jobs interleave), the seconds a file took
// left out.
std::map<int, std::vector<std::string>> LogByDevice(const std::string& out) {
  static const std::regex seconds(R"(\(\d+\[s\], )");
  std::map<int, std::vector<std::string>> byDevice;
  std::istringstream lines(out);
  for (std::string line; std::getline(lines, line);) {
    const size_t at = line.find("DEVICE #");
    if (at == std::string::npos) continue;
    byDevice[std::stoi(line.substr(at + 8))].push_back(std::regex_replace(line, seconds, "(_[s], "));
  }
  return byDevice;
}

// The ended line of each board, by device.
std::map<int, json> EndedByDevice(const std::string& path) {
  std::map<int, json> ended;
  std::istringstream in(ReadFileBytes(path));
  for (std::string line; std::getline(in, line);) {
    json j = json::parse(line, nullptr, false);
    EXPECT_FALSE(j.is_discarded()) << "not a JSON line: " << line;
    if (!j.is_discarded() && j["event"] == "ended") ended[j["device"].get<int>()] = j;
  }
  return ended;
}

// Three KELDA fixtures with their boards on from the start, so each board's job starts after the
// same polls in every run; the middle probe goes away after its 60th transfer, in the middle of a
// block of its board's data.
std::string ThreeBoards() {
  std::string toml = "[bench]\ntiming = \"instant\"\n";
  for (int i = 0; i < 3; ++i) {
    toml +=
        "\n[[probe]]\nname = \"f" + std::to_string(i) + "\"\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";
    if (i == 1) toml += "[probe.faults]\nunplug_after_transfers = 60\n";
  }
  return toml;
}

class ZoltFlashStationInFlight : public ZoltFlash {
 protected:
  std::vector<std::string> StationArgs(const std::string& image, const std::string& history, int boards) {
    return Args(kKeldaNor, {"--station", "--poll", "10", "--boards", std::to_string(boards), "--image1",
                            image, "--block1", "1", "--history", history});
  }
};

TEST_F(ZoltFlashStationInFlight, BoardsGetWhatOneWriteAChunkSendsAndEndAsWithout) {
  const std::string image = PatternBytes(70001, 31);  // 34 blocks, the last with a short chunk
  const std::string imagePath = dir.Write("image.bin", image);
  struct Case {
    const char* name;
    std::vector<std::string> more;
    const char* variable;
  };
  const Case cases[] = {
      {"as usual", {}, "0"},
      {"flag", {"--transfers-in-flight"}, "0"},
      {"variable", {}, "1"},
  };
  std::map<int, std::vector<std::string>> plainPayloads, plainLog;
  std::map<int, json> plainEnded;
  int plainExit = -1;
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const bool inFlight = std::string(c.name) != "as usual";
    std::filesystem::remove_all(dir / "state");
    FlashChild::Env env = BenchEnv(ThreeBoards());
    env["ZOLT_TRANSFERS_IN_FLIGHT"] = c.variable;
    const std::string trace = dir / (std::string("trace-") + c.name + ".log");
    env["VORLINK_TRACE"] = trace;
    const std::string history = dir / (std::string("history-") + c.name + ".jsonl");
    const ProcessResult r = Run(Args(StationArgs(imagePath, history, 3), c.more), env);
    EXPECT_EQ(Count(r.err, "transfers in flight"), 0u) << r.err;
    EXPECT_NE(r.err.find("station: ended: 2 ok, 1 failed\n"), std::string::npos) << r.err;

    const std::string traced = ReadFileBytes(trace);
    const auto payloads = JobOutPayloads(traced);
    const auto log = LogByDevice(r.out);
    const auto ended = EndedByDevice(history);
    ASSERT_EQ(ended.size(), 3u) << ReadFileBytes(history);
    for (int device : {0, 2}) {
      SCOPED_TRACE(device);
      ExpectFlashHolds(device, image, kBlock);
      EXPECT_EQ(ended.at(device)["result"], "ok");
      EXPECT_EQ(ended.at(device)["images"][0]["crc32"], Hex8(Crc32(image)));
    }
    EXPECT_EQ(ended.at(1)["result"], "failed") << "the probe went away mid-image";
    for (int device = 0; device < 3; ++device) {
      SCOPED_TRACE(device);
      ASSERT_EQ(payloads.count(device), 1u) << "no board job traced";
      // A whole block or more went out before the probe went away; in flight, through WriteChunks.
      EXPECT_GT(payloads.at(device).size(), 40u);
      if (inFlight) {
        EXPECT_GE(WriteChunksCalls(traced, device), device == 1 ? 1u : 34u);
      } else {
        EXPECT_EQ(WriteChunksCalls(traced, device), 0u);
      }
    }
    if (!inFlight) {
      plainPayloads = payloads;
      plainLog = log;
      plainEnded = ended;
      plainExit = r.exitCode;
      EXPECT_EQ(r.exitCode, 1) << r.err;
      continue;
    }
    EXPECT_EQ(r.exitCode, plainExit);
    EXPECT_TRUE(payloads == plainPayloads) << "the probes got other OUT payloads";
    EXPECT_EQ(log, plainLog);
    for (int device = 0; device < 3; ++device) {
      SCOPED_TRACE(device);
      for (const char* field : {"result", "failures", "bytesSent", "images", "flash"})
        EXPECT_EQ(ended.at(device)[field], plainEnded.at(device)[field]) << field;
    }
  }
}

// A library with only the four entry points: the switch (flag, variable or both) gives the line a
// normal run gives, once, before any board is found, and the boards are programmed as usual.
TEST_F(ZoltFlashStationInFlight, WithoutTheExportTheStationSaysSoOnceAndStreamsAsUsual) {
  const std::string copy = dir / "four";
  std::filesystem::create_directories(copy);
  std::filesystem::copy_file(FlashProgram(), copy + "/zolt-flash");
  std::filesystem::copy_file(ZOLT_FOUR_EXPORTS_LINK, copy + "/libVorlink.so");
  const std::string program = copy + "/zolt-flash";
  const std::string image = PatternBytes(5000, 32);
  const std::string imagePath = dir.Write("image.bin", image);
  const std::string bench = KeldaBench(2, "instant");

  struct Case {
    const char* name;
    std::vector<std::string> more;
    const char* variable;
    size_t notes;
  };
  const Case cases[] = {
      {"as usual", {}, "0", 0},
      {"flag", {"--transfers-in-flight"}, "0", 1},
      {"variable", {}, "1", 1},
      {"both", {"--transfers-in-flight"}, "1", 1},
  };
  const std::string note = std::string(kNoTransfersInFlightLine) + "\n";
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove_all(dir / "state");
    FlashChild::Env env = BenchEnv(bench);
    env["ZOLT_TRANSFERS_IN_FLIGHT"] = c.variable;
    const std::string history = dir / (std::string("history-") + c.name + ".jsonl");
    const ProcessResult r = Run(Args(StationArgs(imagePath, history, 2), c.more), env, program);
    EXPECT_EQ(r.exitCode, 0) << r.err;
    EXPECT_EQ(Count(r.err, note), c.notes) << r.err;
    EXPECT_EQ(Count(r.err, "transfers in flight"), c.notes) << r.err;
    if (c.notes != 0) {
      EXPECT_LT(r.err.find(note), r.err.find(": board 1 found")) << r.err;
    }
    EXPECT_NE(r.err.find("station: ended: 2 ok, 0 failed\n"), std::string::npos) << r.err;
    const auto ended = EndedByDevice(history);
    ASSERT_EQ(ended.size(), 2u);
    for (int device = 0; device < 2; ++device) {
      SCOPED_TRACE(device);
      ExpectFlashHolds(device, image, kBlock);
      EXPECT_EQ(ended.at(device)["result"], "ok");
      EXPECT_EQ(ended.at(device)["images"][0]["crc32"], Hex8(Crc32(image)));
    }
  }
}

}  // namespace
}  // namespace zolt::cli::testing
