// SPDX-License-Identifier: MIT
// ReadFlashId and AnnounceDownload, the two commands only the download job sends: their bytes,
// lengths and time-outs, what each failure shows or logs, and what the result carries.
#include "probe_fixture.h"

namespace zolt::testing {
namespace {

class FlashDownloadCommands : public ProbeFixture {};

TEST_F(FlashDownloadCommands, ReadFlashIdSendsTheFlashSettingsAndDecodesFourLittleEndianWords) {
  link.QueueReadBytes(kDevice, {0x1C, 0x00, 0x6E, 0x22, 0x21, 0x22, 0x15, 0x80});
  FlashIdReply reply;
  const CommandResult result = probe.ReadFlashId(kDevice, {kFlashTypeNor, kS29al008d, 16, 2}, &reply);
  EXPECT_TRUE(result.ok());
  EXPECT_EQ(Hex(link.Writes(kDevice).at(0)), Hex({0x14, 0x22, 0x04, 0x10, 0x02}));
  EXPECT_EQ(Transfers(), (std::vector<std::string>{"W5/500", "R8/500"}));
  EXPECT_EQ(reply.makerId, 0x001C);
  EXPECT_EQ(reply.deviceId, 0x226E);
  EXPECT_EQ(reply.thirdId, 0x2221);
  EXPECT_EQ(reply.fourthId, 0x8015);
  EXPECT_TRUE(op.Messages().empty());
}

TEST_F(FlashDownloadCommands, ReadFlashIdFailuresShowTheirBoxAndLeaveTheReplyAlone) {
  struct Case {
    const char* text;
    CommandStep step;
    bool writeFails;
  };
  int device = 0;  // one device index per case, each with its own script
  for (const Case& c : {Case{"Cannot Write 'Read FLash ID' Command", CommandStep::kWrite, true},
                        Case{"Cannot Read 'Read Flash ID' Response", CommandStep::kRead, false}}) {
    SCOPED_TRACE(c.text);
    ++device;
    RecordingOperator shown;
    const ProbeCommands commands(link.link(), shown);
    if (c.writeFails) link.QueueWriteResult(device, 0);
    link.QueueReadReply(device, {0, std::vector<uint8_t>(8, 0x55)});
    FlashIdReply reply{1, 2, 3, 4};
    const CommandResult result = commands.ReadFlashId(device, {kFlashTypeNand, 0, 0, 0}, &reply);
    EXPECT_EQ(result.failedStep(), c.step);
    EXPECT_EQ(result.text(), c.text);
    EXPECT_EQ(shown.Messages(), std::vector<std::string>{c.text});
    EXPECT_EQ(reply.makerId, 1);
    EXPECT_EQ(reply.fourthId, 4);
  }
}

TEST_F(FlashDownloadCommands, AnnounceDownloadSendsTheRecordAndWaitsTenSecondsForTheEraseAnswer) {
  link.QueueReadBytes(kDevice, Answer(0x51));
  uint8_t buffer[64] = {};
  const DownloadDataInfo info{kFlashTypeNor, 0x12345678, 0x0A0B0C0D, 0x00010203, true};
  EXPECT_TRUE(probe.AnnounceDownload(kDevice, info, buffer).ok());
  const std::string text = "USBJTAG DownloadCmd";
  std::vector<uint8_t> expected{0x18, 0x41, 0x22, 0x78, 0x56, 0x34, 0x12, 0x0D,
                                0x0C, 0x0B, 0x0A, 0x03, 0x02, 0x01, 0x00, 0x01};
  for (const char ch : text) expected.push_back(static_cast<uint8_t>(ch));
  expected.push_back(0);
  EXPECT_EQ(Hex(link.Writes(kDevice).at(0)), Hex(expected));
  EXPECT_EQ(Transfers(), (std::vector<std::string>{"W36/500", "R5/10000"}));
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_EQ(op.Log(), "");
}

TEST_F(FlashDownloadCommands, AnnounceDownloadReportsEachFailureWhereTheOperatorSeesIt) {
  struct Case {
    const char* name;
    bool writeFails;
    std::vector<uint8_t> answer;  // empty: the erase answer does not arrive
    CommandStep step;
    bool written;
    const char* text;
    std::vector<std::string> boxes;
    const char* log;
  };
  const Case cases[] = {
      {"write fails",
       true,
       Answer(0x51),
       CommandStep::kWrite,
       false,
       "Cannot Write 'Download Data Info' Command",
       {"Cannot Write 'Download Data Info' Command"},
       ""},
      {"no erase answer",
       false,
       {},
       CommandStep::kRead,
       true,
       "Cannot Read 'Flash Erase' Response",
       {},
       "Cannot Read 'Flash Erase' Response"},
      // The third case, so device index 3.
      {"erase error",
       false,
       {0x52, 0x00, 0x10, 0x00, 0x00},
       CommandStep::kAnswer,
       true,
       "ERASE ERROR",
       {"ERASE ERROR"},
       "\r\n  DEVICE #3: ERASE ERROR, ADDR: 0x00001000\r\n"},
      // The finished code is no answer to an announcement.
      {"finished code",
       false,
       Answer(0x60),
       CommandStep::kAnswer,
       true,
       "Unknow Download Response",
       {"Unknow Download Response"},
       ""},
  };
  int device = 0;  // one device index per case, each with its own script
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    ++device;
    RecordingOperator shown;
    const ProbeCommands commands(link.link(), shown);
    if (c.writeFails) link.QueueWriteResult(device, 0);
    if (c.answer.empty()) {
      link.QueueReadReply(device, {0, {}});
    } else {
      link.QueueReadBytes(device, c.answer);
    }
    uint8_t buffer[64] = {};
    const CommandResult result =
        commands.AnnounceDownload(device, {kFlashTypeNand, 0, 1, 100, false}, buffer);
    EXPECT_EQ(result.failedStep(), c.step);
    EXPECT_EQ(result.written(), c.written);
    EXPECT_EQ(result.text(), c.text);
    EXPECT_EQ(shown.Messages(), c.boxes);
    EXPECT_EQ(shown.Log(), c.log);
  }
}

// A link left half-bound by a failed bind: the commands fail without calling through null.
TEST_F(FlashDownloadCommands, NullLinkEntriesFailTheTransferInsteadOfBeingCalled) {
  ProbeLink noWrite = link.link();
  noWrite.Write = nullptr;
  ProbeLink noRead = link.link();
  noRead.Read = nullptr;
  uint8_t buffer[64] = {};
  FlashIdReply reply;
  EXPECT_EQ(ProbeCommands(noWrite, op).ReadFlashId(kDevice, {}, &reply).failedStep(), CommandStep::kWrite);
  EXPECT_EQ(ProbeCommands(noRead, op).ReadFlashId(kDevice, {}, &reply).failedStep(), CommandStep::kRead);
  EXPECT_EQ(ProbeCommands(noWrite, op).AnnounceDownload(kDevice, {}, buffer).failedStep(),
            CommandStep::kWrite);
  EXPECT_EQ(ProbeCommands(noRead, op).AnnounceDownload(kDevice, {}, buffer).failedStep(), CommandStep::kRead);
}

}  // namespace
}  // namespace zolt::testing
