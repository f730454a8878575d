// SPDX-License-Identifier: MIT
// The debug-mode sequences of TARVIS and SOLANT against a target whose debug bus is modelled
// word by word, and the debug-bus read itself.
#include <map>
#include <set>

#include "probe_fixture.h"

namespace zolt::testing {
namespace {

// A target behind the probe: scans are acknowledged, word writes land in `memory` unless the
// address is read-only, word reads answer from `memory` (0 where nothing was written).
struct DebugBusTarget {
  std::map<uint32_t, uint32_t> memory;
  std::set<uint32_t> readOnly;

  ReadReply Answer(const std::vector<uint8_t>& command) {
    auto le32 = [&](size_t at) {
      return uint32_t(command[at]) | uint32_t(command[at + 1]) << 8 | uint32_t(command[at + 2]) << 16 |
             uint32_t(command[at + 3]) << 24;
    };
    if (command.at(0) == 0x07 && !readOnly.count(le32(1))) memory[le32(1)] = le32(5);
    if (command.at(0) == 0x06) {
      const uint32_t w = memory[le32(1)];
      return {1, {0x00, uint8_t(w), uint8_t(w >> 8), uint8_t(w >> 16), uint8_t(w >> 24)}};
    }
    return {1, {0x51, 0, 0, 0, 0}};
  }
};

const std::string kScan1 = "05 05 00 00 00 00 00 00";
const std::string kScan2 = "05 06 00 01 00 00 01 00 01";
const std::string kScan3 = "05 05 00 00 00 00 01 01";

struct DebugModeCase {
  std::string name;
  int product;
  std::map<uint32_t, uint32_t> memory;
  std::set<uint32_t> readOnly;
  int result;
  std::vector<std::string> writes;  // after the three scans
  std::vector<std::string> messages;
};

std::vector<DebugModeCase> DebugModeCases() {
  const std::string tarvisWrite = "07 10 04 00 80 50 55 00 00", tarvisRead = "06 10 04 00 80";
  const std::string solantSwitches = "06 04 00 02 80", solantWrite = "07 00 04 00 80 20 22 00 00",
                    solantRead = "06 00 04 00 80";
  return {
      {"TarvisConfigured", kTarvis, {}, {}, 0, {tarvisWrite, tarvisRead}, {}},
      {"TarvisRegisterKeepsOtherValue",
       kTarvis,
       {{0x80000410, 0x1234}},
       {0x80000410},
       -1,
       {tarvisWrite, tarvisRead},
       {"Cannot Write flash cfg reg [0x1234]"}},
      {"TarvisRegisterReadsZero",
       kTarvis,
       {},
       {0x80000410},
       -1,
       {tarvisWrite, tarvisRead},
       {"Cannot Write flash cfg reg [0x0]"}},
      {"SolantConfigured",
       kSolant,
       {{0x80020004, 0xFFFFFFDF}},
       {},
       0,
       {solantSwitches, solantWrite, solantRead},
       {}},
      {"SolantDebugSwitchOn",
       kSolant,
       {{0x80020004, 0x20}},
       {},
       -1,
       {solantSwitches},
       {"Cannot go into debugging mode. \nPlease turn off the debug switch."}},
      {"SolantRegisterKeepsOtherValue",
       kSolant,
       {{0x80000400, 0x2221}},
       {0x80000400},
       -1,
       {solantSwitches, solantWrite, solantRead},
       {"Cannot Write flash config register to SOLANT"}},
      {"KeldaHasNoDebugMode", kKelda, {}, {}, -1, {}, {}},
      {"Vtn3300HasNoDebugMode", kVtn3300, {}, {}, -1, {}, {}},
      {"OkoHasNoDebugMode", kOko, {}, {}, -1, {}, {}},
      {"RowOutsideTheList", 7, {}, {}, -1, {}, {}},
  };
}

// Failure messages name the case.
void PrintTo(const DebugModeCase& c, std::ostream* os) {
  *os << c.name;
}

class DebugMode : public ProbeFixture, public ::testing::WithParamInterface<DebugModeCase> {};

TEST_P(DebugMode, ScansThenProgramsAndChecksTheFlashConfiguration) {
  const DebugModeCase& c = GetParam();
  DebugBusTarget target{c.memory, c.readOnly};
  link.SetResponder(kDevice, [&](int, const std::vector<uint8_t>& cmd, int) { return target.Answer(cmd); });
  EXPECT_EQ(probe.ConfigDebugMode(kDevice, c.product).ok(), c.result == 0);
  std::vector<std::string> expected{kScan1, kScan2, kScan3};
  expected.insert(expected.end(), c.writes.begin(), c.writes.end());
  std::vector<std::string> written;
  for (const auto& w : link.Writes(kDevice)) written.push_back(Hex(w));
  EXPECT_EQ(written, expected);
  EXPECT_EQ(op.Messages(), c.messages);
  for (const LinkCall& call : link.Calls(kDevice)) EXPECT_EQ(call.timeoutMs, 500);
}

INSTANTIATE_TEST_SUITE_P(Products, DebugMode, ::testing::ValuesIn(DebugModeCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(ProbeFixture, DebugModeStopsAtTheFirstFailedScan) {
  link.SetResponder(kDevice, [](int, const std::vector<uint8_t>&, int) { return ReadReply{1, {0x51}}; });
  link.QueueWriteResult(kDevice, 1);
  link.QueueWriteResult(kDevice, 0);
  EXPECT_FALSE(probe.ConfigDebugMode(kDevice, kTarvis).ok());
  EXPECT_EQ(link.Writes(kDevice).size(), 2u);
  EXPECT_EQ(op.Messages(), std::vector<std::string>{"Cannot Write 'SET JTAG DR' Command"});
}

// Only the word read back decides; a failed read-back leaves it cleared and shows both texts.
TEST_F(ProbeFixture, DebugModeWithAFailedReadBackShowsTheReadTextThenTheRegisterText) {
  DebugBusTarget target;
  link.SetResponder(kDevice, [&](int, const std::vector<uint8_t>& cmd, int) {
    ReadReply reply = target.Answer(cmd);
    if (cmd[0] == 0x06) reply.result = 0;
    return reply;
  });
  EXPECT_FALSE(probe.ConfigDebugMode(kDevice, kTarvis).ok());
  EXPECT_EQ(op.Messages(), (std::vector<std::string>{"Cannot Read 'DEBUG BUS Word Write' Response",
                                                     "Cannot Write flash cfg reg [0x0]"}));
}

TEST_F(ProbeFixture, DebugBusReadWordStoresBytesOneToFourOnlyOnSuccess) {
  uint32_t word = 0xDEADBEEF;
  link.QueueReadBytes(kDevice, {0x00, 0x78, 0x56, 0x34, 0x12});
  EXPECT_TRUE(probe.DebugBusReadWord(kDevice, 0x80020004, &word).ok());
  EXPECT_EQ(word, 0x12345678u);
  word = 0xDEADBEEF;
  link.QueueReadReply(kDevice, {0, {0x00, 0x78, 0x56, 0x34, 0x12}});
  EXPECT_FALSE(probe.DebugBusReadWord(kDevice, 0x80020004, &word).ok());
  EXPECT_EQ(word, 0xDEADBEEFu);
}

TEST_F(ProbeFixture, ScansLongerThanTheProbeTakesAreRefusedUnsent) {
  const uint8_t bits[14] = {};
  EXPECT_FALSE(probe.SetJtagDr(kDevice, bits, 14).ok());
  EXPECT_FALSE(probe.SetJtagDr(kDevice, bits, -1).ok());
  EXPECT_TRUE(link.Calls().empty());
  link.QueueReadBytes(kDevice, {0x51});
  EXPECT_TRUE(probe.SetJtagDr(kDevice, bits, 13).ok());
  EXPECT_EQ(link.Writes(kDevice).at(0).size(), 16u);
}

}  // namespace
}  // namespace zolt::testing
