// SPDX-License-Identifier: MIT
#include "jobs/nand_flash.h"

#include "jobs/text_format.h"
#include "probe/byte_order.h"

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

}  // namespace

const char* NandPartName(uint16_t deviceId) {
  for (const NandDevice& device : kNandDevices) {
    if (device.deviceId == deviceId) return device.name;
  }
  return "";
}

int IdentifyNand(RunView& op, FlashInfo& info, const FlashIdReply& reply) {
  PutLe16(info.data(), reply.makerId);
  PutLe16(info.data() + 2, reply.deviceId);
  for (const NandDevice& device : kNandDevices) {
    if (device.deviceId != reply.deviceId) continue;
    const uint8_t config = static_cast<uint8_t>(reply.fourthId & 0xFF);
    const uint32_t pageSize = device.pageSize != 0 ? device.pageSize : 0x400u << (config & 0x3);
    const uint32_t blockSize = device.blockSize != 0 ? device.blockSize : 0x10000u << ((config >> 4) & 0x3);
    PutLe32(info.data() + 4, device.totalSize);
    PutLe16(info.data() + 8, pageSize);
    PutLe32(info.data() + 12, blockSize);
    PutLe16(info.data() + 16, device.spareSize);
    op.Append(Format(" %s, Block Size: 0x%X\r\n", device.name, blockSize));
    return 0;
  }
  op.Append("  Unknown NAND Flash ID !\r\n");
  return -1;
}

}  // namespace zolt
