// SPDX-License-Identifier: MIT
#include "jobs/nand_flash.h"

#include "jobs/text_format.h"

namespace zolt {
namespace {

struct NandDevice {
  uint16_t deviceId;
  const char* name;
  uint32_t totalSize;
  uint32_t pageSize;   // 0: from the configuration byte
  uint32_t blockSize;  // 0: from the configuration byte
  uint16_t spareSize;
};

constexpr uint32_t kMiB = 1u << 20;

constexpr NandDevice kNandDevices[] = {
    {0x76, "1208", 64 * kMiB, 512, 0x4000, 16}, {0x75, "5608", 32 * kMiB, 512, 0x4000, 16},
    {0xF1, "1G08", 128 * kMiB, 0, 0, 64},       {0xDA, "2G08", 256 * kMiB, 0, 0, 64},
    {0xDC, "4G08", 512 * kMiB, 0, 0, 64},       {0xD3, "8G08", 1024 * kMiB, 0, 0, 64},
};

void Put16(FlashInfo& info, int offset, uint32_t value) {
  info[offset] = static_cast<uint8_t>(value);
  info[offset + 1] = static_cast<uint8_t>(value >> 8);
}

void Put32(FlashInfo& info, int offset, uint32_t value) {
  for (int i = 0; i < 4; ++i) info[offset + i] = static_cast<uint8_t>(value >> (8 * i));
}

struct ErrorReport {
  uint8_t code;
  const char* box;
  const char* log;  // null: no log line
  bool hasAddress;
};

constexpr ErrorReport kErrorReports[] = {
    {0x52, "ERASE ERROR", "\r\n  DEVICE #%d: ERASE ERROR, ADDR: 0x%08x\r\n", true},
    {0x53, "ERASE ERROR", "\r\n  DEVICE #%d: ERROR, Not aligned Sector boundary\r\n", false},
    {0x54, "ERASE ERROR", "\r\n  DEVICE #%d: Overflow of flash size\r\n", false},
    {0x55, "WRITE ERROR", "\r\n  DEVICE #%d: WRITE ERROR, ADDR: 0x%08x\r\n", true},
    {0x56, "VERIFY ERROR", "\r\n  DEVICE #%d: VERIFY ERROR, ADDR: 0x%08x\r\n", true},
    {0x57, "ERASE ERROR", "\r\n  DEVICE #%d: ERASE ERROR, ADDR: 0x%08x\r\n", true},
    {0x58, "WRITE ERROR", "\r\n  DEVICE #%d: WRITE ERROR, ADDR: 0x%08x\r\n", true},
    {0x59, "READ ERROR", "\r\n  DEVICE #%d: READ ADDR: 0x%08x\r\n", true},
};

}  // namespace

FlashIdReply DecodeFlashIdReply(const uint8_t* reply) {
  auto word = [reply](int i) { return static_cast<uint16_t>(reply[2 * i] | (reply[2 * i + 1] << 8)); };
  return FlashIdReply{word(0), word(1), word(2), word(3)};
}

int IdentifyNand(RunView& op, FlashInfo& info, const FlashIdReply& reply) {
  Put16(info, 0, reply.makerId);
  Put16(info, 2, reply.deviceId);
  for (const NandDevice& device : kNandDevices) {
    if (device.deviceId != reply.deviceId) continue;
    const uint8_t config = static_cast<uint8_t>(reply.fourthId & 0xFF);
    const uint32_t pageSize = device.pageSize != 0 ? device.pageSize : 0x400u << (config & 0x3);
    const uint32_t blockSize = device.blockSize != 0 ? device.blockSize : 0x10000u << ((config >> 4) & 0x3);
    Put32(info, 4, device.totalSize);
    Put16(info, 8, pageSize);
    Put32(info, 12, blockSize);
    Put16(info, 16, device.spareSize);
    op.Append(Format(" %s, Block Size: 0x%X\r\n", device.name, blockSize));
    return 0;
  }
  op.Append("  Unknown NAND Flash ID !\r\n");
  return -1;
}

const char* ReportDownloadError(RunView& op, const uint8_t* response, int device) {
  for (const ErrorReport& report : kErrorReports) {
    if (report.code != response[0]) continue;
    op.ShowMessage(report.box);
    if (report.hasAddress) {
      const uint32_t address = static_cast<uint32_t>(response[1]) | static_cast<uint32_t>(response[2]) << 8 |
                               static_cast<uint32_t>(response[3]) << 16 |
                               static_cast<uint32_t>(response[4]) << 24;
      op.Append(Format(report.log, device, address));
    } else {
      op.Append(Format(report.log, device));
    }
    return report.box;
  }
  op.ShowMessage("Unknow Download Response");
  return "Unknow Download Response";
}

}  // namespace zolt
