// SPDX-License-Identifier: MIT
// The command line as the dialog would take it: defaults, the rules that tie the flash type and
// the NOR lists to the product, the page texts, and the usage errors.
#include "cli/options.h"

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "cli/page_text.h"
#include "cli/progress_line.h"

namespace zolt::cli {
namespace {

ParseResult Parse(std::vector<std::string> args, FlashOptions& options) {
  args.insert(args.begin(), "zolt-flash");
  std::vector<const char*> argv;
  for (const auto& a : args) argv.push_back(a.c_str());
  return ParseCommandLine(static_cast<int>(argv.size()), argv.data(), options);
}

TEST(Options, DefaultsAreWhatTheDialogShowsAtStart) {
  FlashOptions o;
  ParseResult r = Parse({}, o);
  ASSERT_TRUE(r.run) << r.err;
  EXPECT_EQ(o.productIndex, 0);
  EXPECT_TRUE(o.norSelected);
  EXPECT_FALSE(o.nandSelected);
  EXPECT_TRUE(o.verifyEnabled);
  EXPECT_TRUE(o.multiDevice);
  EXPECT_FALSE(o.pinToggle);
  EXPECT_EQ(o.intervalMs, 100);
  EXPECT_EQ(o.offset, 0u);
  EXPECT_EQ(o.block, (std::array<uint32_t, 3>{0, 1, 2}));
  EXPECT_EQ(o.imageEnabled, (std::array<bool, 3>{false, false, false}));
  EXPECT_FALSE(o.stopAfterSeconds.has_value());
}

struct SettingCase {
  std::vector<std::string> args;
  int product;
  bool nand;
  int norType, width, interleave;
};

TEST(Options, ProductFlashTypeAndNorListsFollowTheDialogRules) {
  const SettingCase cases[] = {
      {{"--product", "kelda"}, 1, true, 0, 8, 1},
      {{"--product", "Vtn3300"}, 2, true, 0, 8, 1},
      {{"--product", "OKO", "--nor"}, 3, false, 0, 8, 1},
      {{"--product", "SOLANT"}, 4, false, 0, 8, 1},
      {{"--product", "TARVIS", "--nand"}, 0, true, 0, 8, 1},
      // Choosing a NOR type selects its width; --width overrides it afterwards.
      {{"--product", "KELDA", "--nor", "--nor-type", "S29AL008D"}, 1, false, 4, 16, 1},
      {{"--product", "KELDA", "--nor", "--nor-type", "am29lv040b"}, 1, false, 2, 8, 1},
      {{"--product", "KELDA", "--nor", "--nor-type", "SST39VF6401", "--width", "8", "--interleave", "2"},
       1,
       false,
       8,
       8,
       2},
      {{"--product", "SOLANT", "--nor-type", "S29AL0004D"}, 4, false, 3, 16, 1},
      {{"--product", "SOLANT", "--nor-type", "S29AL004D"}, 4, false, 3, 16, 1},
      // TARVIS shows "AutoDetect" with 8 and 1 in its disabled lists, whatever was asked.
      {{"--nor-type", "K8D6316", "--width", "16", "--interleave", "2"}, 0, false, 7, 8, 1},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    FlashOptions o;
    ParseResult r = Parse(c.args, o);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_EQ(o.productIndex, c.product);
    EXPECT_EQ(o.nandSelected, c.nand);
    EXPECT_EQ(o.norSelected, !c.nand);
    EXPECT_EQ(o.norType, c.norType);
    EXPECT_EQ(o.width, c.width);
    EXPECT_EQ(o.interleave, c.interleave);
  }
}

TEST(Options, ImagesAreEnabledByNameWithAbsolutePathsAndBlockTexts) {
  FlashOptions o;
  ParseResult r = Parse({"--image2", "/data/app.bin", "--image3", "./rel/boot.bin", "--block2", " 12",
                         "--block3", "0", "--offset", "0x1F000", "--no-verify", "--single"},
                        o);
  ASSERT_TRUE(r.run) << r.err;
  EXPECT_EQ(o.imageEnabled, (std::array<bool, 3>{false, true, true}));
  EXPECT_EQ(o.imagePath[1], "/data/app.bin");
  EXPECT_EQ(o.imagePath[2].front(), '/');
  EXPECT_EQ(o.imagePath[2], std::filesystem::current_path().string() + "/rel/boot.bin");
  EXPECT_EQ(o.block, (std::array<uint32_t, 3>{0, 12, 0}));
  EXPECT_EQ(o.offset, 0x1F000u);
  EXPECT_FALSE(o.verifyEnabled);
  EXPECT_FALSE(o.multiDevice);
}

TEST(Options, HistoryExpectAndStationSettings) {
  struct Case {
    std::vector<std::string> args;
    std::string history;
    std::optional<int> expect;
    bool station;
    int pollMs;
    uint64_t boards;
  };
  const Case cases[] = {
      {{}, "", std::nullopt, false, 250, 0},
      {{"--history", "runs/h.jsonl", "--expect", "16"}, "runs/h.jsonl", 16, false, 250, 0},
      {{"--expect", "1", "--single"}, "", 1, false, 250, 0},
      {{"--station"}, "", std::nullopt, true, 250, 0},
      {{"--station", "--poll", "10", "--boards", "1", "--history", "h"}, "h", std::nullopt, true, 10, 1},
      {{"--station", "--poll", "10000", "--boards", "999999999"}, "", std::nullopt, true, 10000, 999999999},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    FlashOptions o;
    ParseResult r = Parse(c.args, o);
    ASSERT_TRUE(r.run) << r.err;
    EXPECT_EQ(o.historyPath, c.history);
    EXPECT_EQ(o.expectBoards, c.expect);
    EXPECT_EQ(o.station, c.station);
    EXPECT_EQ(o.pollMs, c.pollMs);
    EXPECT_EQ(o.boardLimit, c.boards);
  }
}

TEST(Options, TransfersInFlightComeFromTheFlagOrTheVariable) {
  struct Case {
    std::vector<std::string> args;
    const char* variable;  // null: not set
    bool on;
    bool usageError;
  };
  const Case cases[] = {
      {{}, nullptr, false, false},
      {{"--transfers-in-flight"}, nullptr, true, false},
      {{}, "1", true, false},
      {{}, "0", false, false},
      {{}, "", false, false},
      {{"--transfers-in-flight"}, "0", true, false},  // the variable only ever switches it on
      {{"--transfers-in-flight"}, "1", true, false},
      {{}, "yes", false, true},
      {{}, "true", false, true},
      {{}, " 1", false, true},
      {{}, "1\n", false, true},
      {{}, "01", false, true},
      {{"--transfers-in-flight"}, "2", false, true},
      {{"--station"}, "1", true, false},  // a station streams with transfers in flight too
      {{"--station", "--transfers-in-flight"}, nullptr, true, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args) + " " + (c.variable ? c.variable : "(unset)"));
    FlashOptions o;
    ParseResult r = Parse(c.args, o);
    ASSERT_TRUE(r.run) << r.err;
    const std::string error = ApplyTransfersInFlightVariable(c.variable, o);
    if (c.usageError) {
      EXPECT_EQ(error.rfind("ZOLT_TRANSFERS_IN_FLIGHT: '", 0), 0u) << error;
      EXPECT_NE(error.find("allowed: 1 (on), 0 (off)"), std::string::npos) << error;
    } else {
      EXPECT_EQ(error, "");
      EXPECT_EQ(o.transfersInFlight, c.on);
    }
  }
  FlashOptions help;
  EXPECT_NE(Parse({"--help"}, help).out.find("--transfers-in-flight"), std::string::npos);
}

TEST(PageText, NumbersAreReadAsThePagesReadThem) {
  struct Case {
    const char* text;
    bool hex;
    uint32_t value;
    bool accepted;
  };
  const Case cases[] = {
      {"1f000", true, 0x1F000, true},
      {"0x1f000", true, 0x1F000, true},
      {"0X1F000", true, 0x1F000, true},
      {"  ff", true, 0xFF, true},
      {"12g4", true, 0x12, true},
      {"", true, 0, true},
      {"0x", true, 0, true},
      {"xyz", true, 0, true},
      {"FFFFFFFF", true, 0xFFFFFFFF, true},
      {"100000000", true, 0, false},
      {"-1", true, 0, false},
      {"12abc", false, 12, true},
      {"", false, 0, true},
      {"4294967295", false, 4294967295u, true},
      {"4294967296", false, 0, false},
      {"+3", false, 0, false},
      {"0x10", false, 0, true},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.hex ? "offset " : "block ") + "'" + c.text + "'");
    PageNumber n = c.hex ? ReadOffsetText(c.text) : ReadBlockText(c.text);
    EXPECT_EQ(n.error.empty(), c.accepted) << n.error;
    if (c.accepted) {
      EXPECT_EQ(n.value, c.value);
    }
  }
}

TEST(Options, BadValuesAreUsageErrorsNamingTheOption) {
  struct Case {
    std::vector<std::string> args;
    const char* named;  // the option the one line must name
  };
  const Case cases[] = {
      {{"--product", "ZOLT"}, "--product"},
      {{"--product", "SOLANT", "--nand"}, "--nand"},
      {{"--nand", "--nor"}, "--nand"},
      {{"--product", "KELDA", "--nor-type", "AutoDetect"}, "--nor-type"},
      {{"--width", "32"}, "--width"},
      {{"--interleave", "4"}, "--interleave"},
      {{"--offset", "-1"}, "--offset"},
      {{"--offset", "123456789"}, "--offset"},
      {{"--block1", "99999999999"}, "--block1"},
      {{"--toggle"}, "--toggle"},
      {{"--product", "SOLANT", "--toggle"}, "--toggle"},
      {{"--interval", "0"}, "--interval"},
      {{"--interval", "501"}, "--interval"},
      {{"--interval", "1e2"}, "--interval"},
      {{"--stop-after", "-1"}, "--stop-after"},
      {{"--stop-after", "soon"}, "--stop-after"},
      {{"--frobnicate"}, "--frobnicate"},
      {{"--product"}, "--product"},
      {{"stray.bin"}, "stray.bin"},
      // An empty value never means "none" or "the default": a script's unset variable is caught.
      {{"--json", ""}, "--json"},
      {{"--stop-after", ""}, "--stop-after"},
      {{"--nor-type", ""}, "--nor-type"},
      {{"--image2", ""}, "--image2"},
      {{"--block1", ""}, "--block1"},
      {{"--offset", ""}, "--offset"},
      // Nothing may follow the digits read; only --offset takes a 0x prefix.
      {{"--block1", "0x10"}, "--block1"},
      {{"--block3", "1O"}, "--block3"},
      {{"--offset", "1f000zz"}, "--offset"},
      // A repeated option is refused, whether a flag or one with a value.
      {{"--nor", "--nor"}, "--nor"},
      {{"--product", "KELDA", "--product", "OKO"}, "--product"},
      {{"--image1", "a.bin", "--image1", "b.bin"}, "--image1"},
      // The history, the board count and the station.
      {{"--history", ""}, "--history"},
      {{"--history", "a.jsonl", "--history", "b.jsonl"}, "--history"},
      {{"--product", "KELDA", "--toggle", "--history", "h.jsonl"}, "--history"},
      {{"--expect", ""}, "--expect"},
      {{"--expect", "0"}, "--expect"},
      {{"--expect", "17"}, "--expect"},
      {{"--expect", "two"}, "--expect"},
      {{"--expect", "+2"}, "--expect"},
      {{"--expect", "2", "--expect", "2"}, "--expect"},
      {{"--expect", "2", "--single"}, "--expect"},
      {{"--product", "KELDA", "--toggle", "--expect", "1"}, "--expect"},
      {{"--poll", "100"}, "--poll"},
      {{"--boards", "5"}, "--boards"},
      {{"--station", "--poll", "9"}, "--poll"},
      {{"--station", "--poll", "10001"}, "--poll"},
      {{"--station", "--poll", ""}, "--poll"},
      {{"--station", "--boards", "0"}, "--boards"},
      {{"--station", "--boards", "-1"}, "--boards"},
      {{"--station", "--station"}, "--station"},
      {{"--station=false"}, "--station"},
      {{"--product", "KELDA", "--nor=false"}, "--nor"},
      {{"--product", "KELDA", "--station", "--toggle"}, "--station"},
      {{"--station", "--expect", "2"}, "--station"},
      {{"--station", "--json", "s.json"}, "--json"},
      {{"--station", "--stop-after", "5"}, "--stop-after"},
      {{"--station", "--single"}, "--station"},
      // Transfers in flight: a flag like the others.
      {{"--transfers-in-flight", "--transfers-in-flight"}, "--transfers-in-flight"},
      {{"--transfers-in-flight=false"}, "--transfers-in-flight"},
      {{"--transfers-in-flight=1"}, "--transfers-in-flight"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(testing::PrintToString(c.args));
    FlashOptions o;
    ParseResult r = Parse(c.args, o);
    EXPECT_FALSE(r.run);
    EXPECT_EQ(r.exitCode, 2);
    EXPECT_TRUE(r.out.empty());
    EXPECT_NE(r.err.find(c.named), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find('\n'), r.err.size() - 1) << "one line: " << r.err;
  }
}

TEST(Options, HelpListsEveryOptionAndVersionPrintsTheVersion) {
  FlashOptions o;
  ParseResult help = Parse({"--help"}, o);
  EXPECT_FALSE(help.run);
  EXPECT_EQ(help.exitCode, 0);
  for (const char* option :
       {"--product", "--nand",   "--nor",      "--nor-type",   "--width",  "--interleave", "--offset",
        "--image1",  "--image2", "--image3",   "--block1",     "--block2", "--block3",     "--no-verify",
        "--single",  "--toggle", "--interval", "--stop-after", "--json",   "--help",       "--version",
        "--history", "--expect", "--station",  "--poll",       "--boards"}) {
    EXPECT_NE(help.out.find(option), std::string::npos) << option;
  }
  EXPECT_NE(help.out.find("default TARVIS"), std::string::npos);
  EXPECT_NE(help.out.find("130"), std::string::npos);

  ParseResult version = Parse({"--version"}, o);
  EXPECT_EQ(version.exitCode, 0);
  EXPECT_EQ(version.out,
            std::string("zolt-flash ") + ProgrammerVersion() + " (commit " + ProgrammerCommit() + ")\n");
}

TEST(ProgressLine, ShowsPercentTimesRateAndDevices) {
  ProgressSnapshot s;
  s.runPercent = 42;
  s.elapsedMs = 65'000;
  s.sentBytes = 130'000;
  s.totalBytes = 260'000;
  s.devices = {{0, 50}, {3, 34}};
  EXPECT_EQ(FormatProgressLine(s), " 42%  01 : 05  2.0 kB/s  left 01 : 05  #0 50% #3 34%");

  ProgressSnapshot idle;  // nothing sent yet: no rate, no estimate, no division by zero
  EXPECT_EQ(FormatProgressLine(idle), "  0%  00 : 00  -- B/s  left -- : --");
  EXPECT_EQ(FormatMinutesSeconds(6005), "100 : 05");
}

}  // namespace
}  // namespace zolt::cli
