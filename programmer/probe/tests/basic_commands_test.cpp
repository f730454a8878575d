// SPDX-License-Identifier: MIT
// The version queries and the JTAG ID read: what they send, how they read the probe's texts and
// bits, and what they leave behind when the answer is wrong.
#include <cstring>

#include "probe/identify.h"
#include "probe_fixture.h"

namespace zolt::testing {
namespace {

const std::string kFirmwareRequest =
    std::string("\x98") + "USB_JTAGorISP <RUN> <GetFirmwareVersionCmd>" + '\0';

// A 22-byte firmware reply: the prefix, 4 bytes the programmer skips, then `tail` (padded with zeros).
std::vector<uint8_t> FirmwareReply(const std::string& tail, std::string prefix = "ZOLT USB JTAG") {
  std::string reply = prefix + "\x01\x02\x03\x04" + tail;
  reply.resize(22, '\0');
  return {reply.begin(), reply.end()};
}

struct VersionCase {
  std::string name;
  std::vector<uint8_t> reply;
  const char* version;  // null: the reply is refused
};

std::vector<VersionCase> FirmwareCases() {
  std::vector<VersionCase> cases = {
      {"ShortVersion", FirmwareReply(std::string("212\0\x41", 5)), "212"},
      {"FiveCharactersWithLeadingSpace", FirmwareReply(" 2.12"), " 2.12"},
      // No zero within the reply: the programmer's own terminator after byte 21 limits the text.
      {"NoTerminatorInReply", FirmwareReply("ABCDE"), "ABCDE"},
      {"EmptyVersion", FirmwareReply(""), ""},
  };
  const std::string prefix = "ZOLT USB JTAG";
  for (size_t i = 0; i < prefix.size(); ++i) {
    std::string wrong = prefix;
    wrong[i] ^= 0x20;
    cases.push_back({"PrefixByte" + std::to_string(i) + "Differs", FirmwareReply("212", wrong), nullptr});
  }
  return cases;
}

// Failure messages name the case.
void PrintTo(const VersionCase& c, std::ostream* os) {
  *os << c.name;
}

class FirmwareVersion : public ProbeFixture, public ::testing::WithParamInterface<VersionCase> {};

TEST_P(FirmwareVersion, ReadsTheVersionAfterTheProductPrefix) {
  const VersionCase& c = GetParam();
  link.QueueReadBytes(kDevice, c.reply);
  char version[8] = "keep";
  EXPECT_EQ(probe.GetFirmwareVersion(kDevice, version).ok(), c.version != nullptr);
  EXPECT_STREQ(version, c.version ? c.version : "keep");
  EXPECT_EQ(op.Messages(), c.version ? std::vector<std::string>{}
                                     : std::vector<std::string>{"Cannot Get Valid Firmware Version"});
  ASSERT_EQ(link.Writes(kDevice).size(), 1u);
  EXPECT_EQ(Hex(link.Writes(kDevice)[0]), Hex(Text(kFirmwareRequest)));
  EXPECT_EQ(Transfers(), (std::vector<std::string>{"W45/500", "R22/500"}));
}

// Identification asks the same question without showing anything.
TEST_P(FirmwareVersion, TheQuietCheckAgreesAndShowsNothing) {
  const VersionCase& c = GetParam();
  link.QueueReadBytes(kDevice, c.reply);
  char version[8] = "keep";
  EXPECT_EQ(CheckProbeFirmware(link.link(), kDevice, version), c.version ? 0 : -1);
  EXPECT_STREQ(version, c.version ? c.version : "keep");
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_EQ(Hex(link.Writes(kDevice).at(0)), Hex(Text(kFirmwareRequest)));
  EXPECT_EQ(Transfers(), (std::vector<std::string>{"W45/500", "R22/500"}));
}

INSTANTIATE_TEST_SUITE_P(Replies, FirmwareVersion, ::testing::ValuesIn(FirmwareCases()),
                         [](const auto& info) { return info.param.name; });

TEST_F(ProbeFixture, FirmwareVersionTransferFailuresShowTheirTextsAndKeepTheBuffer) {
  char version[8] = "keep";
  link.QueueWriteResult(kDevice, 0);
  EXPECT_FALSE(probe.GetFirmwareVersion(kDevice, version).ok());
  link.QueueReadReply(kDevice, {0, FirmwareReply("212")});
  EXPECT_FALSE(probe.GetFirmwareVersion(kDevice, version).ok());
  EXPECT_STREQ(version, "keep");
  EXPECT_EQ(op.Messages(), (std::vector<std::string>{"Cannot Write 'GET Firmware Version' Command",
                                                     "Cannot Read 'Get Firmware Version' Response"}));

  link.QueueWriteResult(kDevice, 0);
  link.QueueReadReply(kDevice, {0, FirmwareReply("212")});
  EXPECT_EQ(CheckProbeFirmware(link.link(), kDevice, version), -1);
  EXPECT_EQ(CheckProbeFirmware(link.link(), kDevice, version), -1);
  EXPECT_EQ(op.Messages().size(), 2u);
}

// A 33-byte bootloader reply: 27 prefix characters, one skipped byte, then the version.
std::vector<uint8_t> BootloaderReply(const std::string& tail,
                                     std::string prefix = "ZOLT USB_ISP Bootloader Ver") {
  std::string reply = prefix + "." + tail;
  reply.resize(33, '\0');
  return {reply.begin(), reply.end()};
}

TEST_F(ProbeFixture, BootloaderVersionReadsTheTextAfterItsPrefix) {
  char version[8] = "keep";
  link.QueueReadBytes(kDevice, BootloaderReply("2.20"));
  EXPECT_TRUE(probe.GetBootloaderVersion(kDevice, version).ok());
  EXPECT_STREQ(version, "2.20");
  link.QueueReadBytes(kDevice, BootloaderReply("123456789"));
  EXPECT_TRUE(probe.GetBootloaderVersion(kDevice, version).ok());
  EXPECT_STREQ(version, "12345");  // the reply ends after byte 32
  EXPECT_EQ(Hex(link.Writes(kDevice).at(0)), "08");
  EXPECT_EQ(Transfers(), (std::vector<std::string>{"W1/500", "R33/500", "W1/500", "R33/500"}));
  EXPECT_TRUE(op.Messages().empty());
}

TEST_F(ProbeFixture, BootloaderVersionFailuresKeepTheBufferAndOnlyTransfersShowTexts) {
  char version[8] = "keep";
  link.QueueReadBytes(kDevice, BootloaderReply("2.20", "ZOLT USB_ISP Bootloader VeR"));
  EXPECT_FALSE(probe.GetBootloaderVersion(kDevice, version).ok());
  EXPECT_TRUE(op.Messages().empty());
  link.QueueWriteResult(kDevice, 0);
  EXPECT_FALSE(probe.GetBootloaderVersion(kDevice, version).ok());
  link.QueueReadReply(kDevice, {0, BootloaderReply("2.20")});
  EXPECT_FALSE(probe.GetBootloaderVersion(kDevice, version).ok());
  EXPECT_STREQ(version, "keep");
  EXPECT_EQ(op.Messages(),
            (std::vector<std::string>{"Cannot Write 'GET BootloaderFirmware Version' Command",
                                      "Cannot Read 'Get BootloaderFirmware Version' Response"}));
}

// The probe answers one ID bit per byte, in bit 0, least significant bit first; other bits of
// each byte are noise.
std::vector<uint8_t> JtagIdReply(uint32_t id, uint8_t noise = 0xA4) {
  std::vector<uint8_t> reply(32);
  for (int k = 0; k < 32; ++k) reply[k] = static_cast<uint8_t>((noise & 0xFE) | ((id >> k) & 1));
  return reply;
}

TEST_F(ProbeFixture, ReadJtagIdTakesBitKFromBitZeroOfByteK) {
  struct {
    std::vector<uint8_t> reply;
    uint32_t id;
  } cases[] = {
      {Answer(0x01, 32), 1},
      {[] {
         std::vector<uint8_t> r(32, 0);
         r[31] = 1;
         return r;
       }(),
       0x80000000},
      {std::vector<uint8_t>(32, 0xFE), 0},
      {JtagIdReply(0x0022F3A1), 0x0022F3A1},
      {JtagIdReply(0x1AEC0ADD, 0xFF), 0x1AEC0ADD},
  };
  const uint8_t param[4] = {0x01, 0x00, 0x01, 0x01};
  for (const auto& c : cases) {
    link.ClearCalls();
    link.QueueReadBytes(kDevice, c.reply);
    EXPECT_EQ(probe.ReadJtagId(kDevice, param), c.id) << Hex(c.reply);
    EXPECT_EQ(Hex(link.Writes(kDevice).at(0)), "11 01 00 01 01");
    EXPECT_EQ(Transfers(), (std::vector<std::string>{"W5/500", "R32/500"}));
  }
  EXPECT_TRUE(op.Messages().empty());
}

TEST_F(ProbeFixture, ReadJtagIdFailuresReturnZeroAfterTheirText) {
  const uint8_t param[4] = {0x00, 0x01, 0x00, 0x01};
  link.QueueWriteResult(kDevice, 0);
  EXPECT_EQ(probe.ReadJtagId(kDevice, param), 0u);
  link.QueueReadReply(kDevice, {0, JtagIdReply(0x00AECADD)});
  EXPECT_EQ(probe.ReadJtagId(kDevice, param), 0u);
  EXPECT_EQ(op.Messages(),
            (std::vector<std::string>{"Cannot Write 'JTAG ID' Command", "Cannot Read 'JTAG ID' Response"}));
}

}  // namespace
}  // namespace zolt::testing
