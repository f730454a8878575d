// SPDX-License-Identifier: MIT
// NAND identification and the probe's download error reports.
#include "jobs/nand_flash.h"

#include <gtest/gtest.h>

#include "testing/recording_operator.h"

namespace zolt {
namespace {

using testing::RecordingOperator;

uint32_t Get32(const FlashInfo& info, int offset) {
  return info[offset] | info[offset + 1] << 8 | info[offset + 2] << 16 |
         static_cast<uint32_t>(info[offset + 3]) << 24;
}
uint16_t Get16(const FlashInfo& info, int offset) {
  return static_cast<uint16_t>(info[offset] | info[offset + 1] << 8);
}

struct NandCase {
  uint16_t maker, device, fourth;
  int result;
  uint32_t total, page, block, spare;
  const char* log;
};

TEST(IdentifyNand, FillsTheDescriptionFromTheTableAndTheConfigurationByte) {
  const NandCase cases[] = {
      {0xEC, 0xDA, 0x15, 0, 256u << 20, 0x800, 0x20000, 64, " 2G08, Block Size: 0x20000\r\n"},
      {0xEC, 0xF1, 0x00, 0, 128u << 20, 0x400, 0x10000, 64, " 1G08, Block Size: 0x10000\r\n"},
      {0xEC, 0xD3, 0x33, 0, 1u << 30, 0x2000, 0x80000, 64, " 8G08, Block Size: 0x80000\r\n"},
      {0xEC, 0x76, 0xFF, 0, 64u << 20, 512, 0x4000, 16, " 1208, Block Size: 0x4000\r\n"},  // no bits from ID
      {0x00, 0x75, 0x00, 0, 32u << 20, 512, 0x4000, 16,
       " 5608, Block Size: 0x4000\r\n"},                                      // maker plays no part
      {0xEC, 0x01DA, 0x15, -1, 0, 0, 0, 0, "  Unknown NAND Flash ID !\r\n"},  // full 16-bit compare
  };
  for (const NandCase& c : cases) {
    SCOPED_TRACE(c.device);
    RecordingOperator op;
    FlashInfo info{};
    EXPECT_EQ(IdentifyNand(op, info, FlashIdReply{c.maker, c.device, 0, c.fourth}), c.result);
    EXPECT_EQ(op.Log(), c.log);
    EXPECT_EQ(Get16(info, 0), c.maker);
    EXPECT_EQ(Get16(info, 2), c.device);
    EXPECT_EQ(Get32(info, 4), c.total);
    EXPECT_EQ(Get16(info, 8), c.page);
    EXPECT_EQ(Get32(info, 12), c.block);
    EXPECT_EQ(Get16(info, 16), c.spare);
    for (int i : {10, 11, 18, 40, 63}) EXPECT_EQ(info[i], 0) << i;
  }
}

TEST(ReportDownloadError, ShowsTheCodesBoxAndLogsItsLine) {
  struct Case {
    uint8_t code;
    const char* box;
    const char* log;
  };
  const Case cases[] = {
      {0x52, "ERASE ERROR", "\r\n  DEVICE #7: ERASE ERROR, ADDR: 0x00020000\r\n"},
      {0x53, "ERASE ERROR", "\r\n  DEVICE #7: ERROR, Not aligned Sector boundary\r\n"},
      {0x54, "ERASE ERROR", "\r\n  DEVICE #7: Overflow of flash size\r\n"},
      {0x55, "WRITE ERROR", "\r\n  DEVICE #7: WRITE ERROR, ADDR: 0x00020000\r\n"},
      {0x56, "VERIFY ERROR", "\r\n  DEVICE #7: VERIFY ERROR, ADDR: 0x00020000\r\n"},
      {0x57, "ERASE ERROR", "\r\n  DEVICE #7: ERASE ERROR, ADDR: 0x00020000\r\n"},
      {0x58, "WRITE ERROR", "\r\n  DEVICE #7: WRITE ERROR, ADDR: 0x00020000\r\n"},
      {0x59, "READ ERROR", "\r\n  DEVICE #7: READ ADDR: 0x00020000\r\n"},
      {0x60, "Unknow Download Response", ""},
      {0x00, "Unknow Download Response", ""},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.code);
    RecordingOperator op;
    const uint8_t response[5] = {c.code, 0x00, 0x00, 0x02, 0x00};
    EXPECT_STREQ(ReportDownloadError(op, response, 7), c.box);
    EXPECT_EQ(op.Messages(), std::vector<std::string>{c.box});
    EXPECT_EQ(op.Log(), c.log);
  }
}

TEST(ReportDownloadError, PrintsTheWholeAddressInLowerCaseHex) {
  RecordingOperator op;
  const uint8_t response[5] = {0x56, 0xEF, 0xBE, 0xAD, 0xDE};
  ReportDownloadError(op, response, 15);
  EXPECT_EQ(op.Log(), "\r\n  DEVICE #15: VERIFY ERROR, ADDR: 0xdeadbeef\r\n");
}

}  // namespace
}  // namespace zolt
