// SPDX-License-Identifier: MIT
// The exchange every command shares, for every command with a plain 5-byte response: the exact
// bytes written, the lengths and time-outs, which failures show which text, and whether byte 0 of
// the response is checked.
#include <functional>
#include <numeric>

#include "probe_fixture.h"

namespace zolt::testing {
namespace {

struct ExchangeCase {
  const char* name;
  std::function<CommandResult(const ProbeCommands&, int device)> run;
  std::vector<uint8_t> sentPrefix;  // the command's first bytes (all of them, for short commands)
  int sentLength;
  bool checksAck;
  const char* writeText;  // null: nothing shown
  const char* readText;
  const char* badAnswerText;
};

std::vector<uint8_t> Counting(size_t n) {
  std::vector<uint8_t> v(n);
  std::iota(v.begin(), v.end(), uint8_t{0});
  return v;
}

template <typename Record>
Record CountingRecord() {
  Record r{};
  std::iota(r.begin(), r.end(), uint8_t{0});
  return r;
}

std::vector<uint8_t> Concat(std::vector<uint8_t> head, const std::vector<uint8_t>& tail) {
  head.insert(head.end(), tail.begin(), tail.end());
  return head;
}

const char* const kLowWrite = "Cannot Write 'SET LOW Boundary' Command";
const char* const kLowRead = "Cannot Read 'SET LOW Bounary' Response";

std::vector<ExchangeCase> Cases() {
  static const uint8_t kBits[] = {1, 0, 0, 1, 0, 1};
  static const uint8_t kImage[] = {1, 0, 1};
  return {
      {"JtagReset",
       [](auto& p, int d) { return p.JtagReset(d); },
       {0x01, 0, 0, 0, 0},
       5,
       false,
       "Cannot Write 'JTAG Reset' Command",
       "Cannot Read 'JTAG Reset' Response",
       nullptr},
      {"JtagTestLogicReset",
       [](auto& p, int d) { return p.JtagTestLogicReset(d); },
       {0x02, 0, 0, 0, 0},
       5,
       false,
       "Cannot Write 'JTAG Test Logic Reset' Command",
       "Cannot Read 'JTAG Test Logic Reset' Response",
       nullptr},
      {"SetJtagType",
       [](auto& p, int d) { return p.SetJtagType(d, 1); },
       {0x03, 0x01, 0, 0, 0},
       5,
       true,
       nullptr,
       nullptr,
       nullptr},
      {"SetExtest",
       [](auto& p, int d) { return p.SetExtest(d); },
       {0x04, 0, 0, 0, 0},
       5,
       false,
       nullptr,
       nullptr,
       nullptr},
      {"SetExtestDebug",
       [](auto& p, int d) { return p.SetExtestDebug(d); },
       {0x04, 0x01, 0, 0, 0x01},
       5,
       false,
       nullptr,
       nullptr,
       nullptr},
      {"SetJtagDr",
       [](auto& p, int d) { return p.SetJtagDr(d, kBits, 6); },
       {0x05, 0x06, 0x00, 1, 0, 0, 1, 0, 1},
       9,
       false,
       "Cannot Write 'SET JTAG DR' Command",
       "Cannot Read 'SET JTAG DR' Response",
       nullptr},
      {"DebugBusReadWord",
       [](auto& p, int d) {
         uint32_t w = 0;
         return p.DebugBusReadWord(d, 0x80000410, &w);
       },
       {0x06, 0x10, 0x04, 0x00, 0x80},
       5,
       false,
       "Cannot Write 'DEBUG BUS Word Write' Command",
       "Cannot Read 'DEBUG BUS Word Write' Response",
       nullptr},
      {"DebugBusWriteWord",
       [](auto& p, int d) { return p.DebugBusWriteWord(d, 0x80000400, 0x12342220); },
       {0x07, 0x00, 0x04, 0x00, 0x80, 0x20, 0x22, 0x34, 0x12},
       9,
       true,
       "Cannot Write 'DEBUG BUS Word Write' Command",
       "Cannot Read Word Data",
       "Cannot Read Word Data"},
      {"SetFlashInfo",
       [](auto& p, int d) { return p.SetFlashInfo(d, CountingRecord<FlashInfo>(), kFlashTypeNor); },
       Concat({0x15, 0x22, 0x40, 0x00}, Counting(64)), 68, true, "Cannot Write 'SET FLASH INFO' Command",
       "Cannot Read 'SET FLASH INFO' Response", "ERROR, 'SET FLASH INFO' Response"},
      {"SetFlashCfi",
       [](auto& p, int d) { return p.SetFlashCfi(d, CountingRecord<FlashCfi>(), kFlashTypeNand); },
       Concat({0x16, 0x21, 0x24, 0x00}, Counting(36)), 40, true, "Cannot Write 'SET FLASH CFI' Command",
       "Cannot Read 'SET FLASH CFI' Response", "ERROR, Read FLASH CFI"},
      {"InitBoundaryData",
       [](auto& p, int d) { return p.InitBoundaryData(d, kImage, 3); },
       {0x12, 0x03, 0x00, 1, 0, 1},
       6,
       true,
       nullptr,
       nullptr,
       nullptr},
      {"InitBoundaryDataEmpty",
       [](auto& p, int d) { return p.InitBoundaryData(d, kImage, 0); },
       {0x12, 0x00, 0x00},
       3,
       true,
       nullptr,
       nullptr,
       nullptr},
      {"SetConfigBoundary",
       [](auto& p, int d) { return p.SetConfigBoundary(d, CountingRecord<BoundaryPinMap>()); },
       Concat({0x13, 0xD8, 0x00}, Counting(216)), 219, true, nullptr, nullptr, nullptr},
      {"SetHighBoundary",
       [](auto& p, int d) { return p.SetHighBoundary(d, kOko, 185); },
       {0x20, 185, 0x00},
       188,
       true,
       "Cannot Write 'SET HIGH Boundary' Command",
       "Cannot Read 'SET HIGH Bounary' Response",
       "Cannot Read 'SET HIGH Bounary' Response"},
      {"SetLowBoundary",
       [](auto& p, int d) { return p.SetLowBoundary(d, kKelda, 298); },
       {0x21, 0x2A, 0x01},
       301,
       true,
       kLowWrite,
       kLowRead,
       kLowRead},
      // Both drives report with the low pattern's texts.
      {"ApplyHighBoundary",
       [](auto& p, int d) { return p.ApplyHighBoundary(d); },
       {0x22},
       1,
       true,
       kLowWrite,
       kLowRead,
       kLowRead},
      {"ApplyLowBoundary",
       [](auto& p, int d) { return p.ApplyLowBoundary(d); },
       {0x23},
       1,
       true,
       kLowWrite,
       kLowRead,
       kLowRead},
  };
}

// Failure messages name the case.
void PrintTo(const ExchangeCase& c, std::ostream* os) {
  *os << c.name;
}

class CommandExchange : public ProbeFixture, public ::testing::WithParamInterface<ExchangeCase> {
 protected:
  std::vector<std::string> Expected(const char* text) const {
    return text ? std::vector<std::string>{text} : std::vector<std::string>{};
  }
};

TEST_P(CommandExchange, SendsTheCommandAndSucceedsOnAnAcknowledgedAnswer) {
  const ExchangeCase& c = GetParam();
  link.QueueReadBytes(kDevice, {0x51, 0x11, 0x22, 0x33, 0x44});
  const CommandResult result = c.run(probe, kDevice);
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(result.text(), "");
  const auto writes = link.Writes(kDevice);
  ASSERT_EQ(writes.size(), 1u);
  ASSERT_EQ(static_cast<int>(writes[0].size()), c.sentLength);
  EXPECT_EQ(Hex({writes[0].begin(), writes[0].begin() + c.sentPrefix.size()}), Hex(c.sentPrefix));
  EXPECT_EQ(Transfers(), (std::vector<std::string>{"W" + std::to_string(c.sentLength) + "/500", "R5/500"}));
  EXPECT_TRUE(op.Messages().empty());
}

TEST_P(CommandExchange, AFailedWriteShowsItsTextAndReadsNothing) {
  const ExchangeCase& c = GetParam();
  link.QueueWriteResult(kDevice, 0);
  link.QueueReadBytes(kDevice, Answer(0x51));
  const CommandResult result = c.run(probe, kDevice);
  EXPECT_EQ(result.failedStep(), CommandStep::kWrite);
  EXPECT_FALSE(result.written());
  EXPECT_EQ(Transfers().size(), 1u);
  EXPECT_EQ(op.Messages(), Expected(c.writeText));
  EXPECT_EQ(result.text(), c.writeText ? c.writeText : "");  // the result names the box it showed
}

TEST_P(CommandExchange, AFailedReadFailsEvenWhenBytesArrived) {
  const ExchangeCase& c = GetParam();
  link.QueueReadReply(kDevice, {0, Answer(0x51)});
  const CommandResult result = c.run(probe, kDevice);
  EXPECT_EQ(result.failedStep(), CommandStep::kRead);
  EXPECT_TRUE(result.written());
  EXPECT_EQ(op.Messages(), Expected(c.readText));
  EXPECT_EQ(result.text(), c.readText ? c.readText : "");
}

TEST_P(CommandExchange, ChecksByteZeroOnlyWhereTheCommandDoes) {
  const ExchangeCase& c = GetParam();
  link.QueueReadBytes(kDevice, Answer(0x71));  // lower-case "q"
  const CommandResult result = c.run(probe, kDevice);
  EXPECT_EQ(result.failedStep(), c.checksAck ? CommandStep::kAnswer : CommandStep::kNone);
  EXPECT_EQ(op.Messages(), c.checksAck ? Expected(c.badAnswerText) : std::vector<std::string>{});
  EXPECT_EQ(result.text(), c.checksAck && c.badAnswerText ? c.badAnswerText : "");
}

INSTANTIATE_TEST_SUITE_P(AllPlainCommands, CommandExchange, ::testing::ValuesIn(Cases()),
                         [](const auto& info) { return std::string(info.param.name); });

}  // namespace
}  // namespace zolt::testing
