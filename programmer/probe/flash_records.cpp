// SPDX-License-Identifier: MIT
// The NOR flash description records: FlashInfo from the NOR type table, FlashCfi from the
// erase-block geometry of the non-CFI parts.
#include <algorithm>
#include <array>

#include "probe/byte_order.h"
#include "probe/nor_types.h"
#include "probe/records.h"

namespace zolt {
namespace {

// One accepted width/interleave combination of a NOR type, field by field in record order.
struct NorRow {
  NorType type;
  uint8_t width, interleave;
  uint16_t deviceId, paramA, paramB;
  bool cfiQueryAddresses;
  uint16_t unlockAddr1, unlockAddr2, unlockData1, unlockData2;
  uint16_t eraseSetup, idCommand, reset, program;
  uint16_t bufferWrite, bufferConfirm, chipErase;
  uint16_t sectorErase, cfiQuery;
  uint16_t toggleMask, errorMask, dataMask;
};

constexpr bool kCfi = true, kNoCfi = false;

// clang-format off
constexpr NorRow kNorRows[] = {
  // type          w  i  ID      A      B  CFI     unlock addr     unlock data     erase   ID      reset   program  buf   conf  chip  sector  query  toggle  error   data
  {kEn29lv010a,    8, 1, 0x6F,   0x100, 1, kNoCfi, 0x555,  0x2AA,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0,    0,    0,    0x30,   0,     0x44,   0x20,   0xFF},
  {kEn29lv010a,    8, 2, 0x6F6F, 0x200, 2, kNoCfi, 0xAAA,  0x554,  0xAAAA, 0x5555, 0x8080, 0x9090, 0xF0F0, 0xA0A0,  0,    0,    0,    0x3030, 0,     0x4444, 0x40,   0xFFFF},
  {kEn29lv040a,    8, 1, 0x4F,   0x100, 1, kNoCfi, 0x555,  0x2AA,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0,    0,    0,    0x30,   0,     0x44,   0x20,   0xFF},
  {kEn29lv040a,    8, 2, 0x4F4F, 0x200, 2, kNoCfi, 0xAAA,  0x554,  0xAAAA, 0x5555, 0x8080, 0x9090, 0xF0F0, 0xA0A0,  0,    0,    0,    0x3030, 0,     0x4444, 0x40,   0xFFFF},
  {kAm29lv040b,    8, 1, 0x4F,   0,     1, kNoCfi, 0x555,  0x2AA,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0,    0,    0,    0x30,   0,     0,      0,      0xFF},
  {kAm29lv040b,    8, 2, 0x4F4F, 0,     2, kNoCfi, 0xAAA,  0x554,  0xAAAA, 0x5555, 0x8080, 0x9090, 0xF0F0, 0xA0A0,  0,    0,    0,    0x3030, 0,     0x4444, 0x2020, 0xFFFF},
  {kS29al004d,     8, 1, 0xB9,   0,     2, kNoCfi, 0xAAA,  0x555,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0,    0,    0,    0x30,   0,     0x44,   0x20,   0xFF},
  {kS29al004d,    16, 1, 0,      0,     1, kNoCfi, 0xAAA,  0x554,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0,    0,    0,    0x30,   0,     0x44,   0x20,   0xFFFF},
  {kS29al008d,     8, 1, 0,      0,     2, kNoCfi, 0xAAA,  0x555,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0,    0,    0,    0x30,   0,     0x44,   0x20,   0xFF},
  {kS29al008d,    16, 1, 0,      0,     2, kNoCfi, 0xAAA,  0x554,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0,    0,    0,    0x30,   0,     0x44,   0x20,   0xFFFF},
  {kS29gl064m,    16, 1, 0x227E, 0,     2, kCfi,   0xAAA,  0x554,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0x25, 0x29, 0x10, 0x30,   0x98,  0x44,   0x20,   0xFFFF},
  {kS29gl128m,    16, 1, 0x227E, 0,     2, kCfi,   0xAAA,  0x554,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0x25, 0x29, 0x10, 0x30,   0x98,  0x44,   0x20,   0xFFFF},
  {kK8d6316,      16, 1, 0x22E2, 0,     2, kCfi,   0xAAA,  0x554,  0xAA,   0x55,   0x80,   0x90,   0xF0,   0xA0,    0x25, 0x29, 0x10, 0x30,   0x98,  0x44,   0x20,   0xFFFF},
  {kSst39vf6401,  16, 1, 0x236B, 0,     2, kCfi,   0xAAAA, 0x5554, 0xAAAA, 0x5555, 0x8080, 0x90,   0xF0,   0xA0,    0,    0,    0,    0x50,   0,     0x44,   0x20,   0xFFFF},
};
// clang-format on

// The byte addresses the probe reads in a CFI query: query entry, "Q", "R", "Y", device size,
// write-buffer size, region count, region 1 information.
constexpr uint16_t kCfiQueryAddresses[8] = {0xAA, 0x20, 0x22, 0x24, 0x4E, 0x54, 0x58, 0x5A};

constexpr int kFieldsFirst = 2, kFieldsEnd = 56;  // bytes 2..55: everything BuildFlashInfo fills
constexpr int kBusWidthBitsOffset = 58, kBusWidthBytesOffset = 59;

void FillFields(const NorRow& row, FlashInfo& info) {
  uint8_t* r = info.data();
  PutLe16(r + 2, row.deviceId);
  PutLe16(r + 4, row.paramA);
  PutLe16(r + 6, row.paramB);
  for (int q = 0; q < 8; ++q) PutLe16(r + 8 + 2 * q, row.cfiQueryAddresses ? kCfiQueryAddresses[q] : 0);
  const uint16_t commands[] = {row.unlockAddr1, row.unlockAddr2,   row.unlockData1, row.unlockData2,
                               row.eraseSetup,  row.idCommand,     row.reset,       row.program,
                               row.bufferWrite, row.bufferConfirm, row.chipErase,   row.sectorErase,
                               row.cfiQuery,    row.toggleMask,    row.errorMask,   row.dataMask};
  for (size_t c = 0; c < std::size(commands); ++c) PutLe16(r + 24 + 2 * c, commands[c]);
  static_assert(24 + 2 * 16 == kFieldsEnd);
}

// Erase-block geometry of one device, by the low byte of its device ID.
struct CfiRow {
  uint8_t idLow;
  uint32_t totalBytes;
  uint16_t regions;
  uint16_t blocks[4];
  uint32_t blockBytes[4];
};
constexpr uint32_t KiB = 1024, MiB = 1024 * KiB;
constexpr CfiRow kCfiRows[] = {
    {0x4F, 512 * KiB, 1, {8, 0, 0, 0}, {64 * KiB, 0, 0, 0}},
    {0x6E, 128 * KiB, 1, {8, 0, 0, 0}, {16 * KiB, 0, 0, 0}},
    {0xB9, 512 * KiB, 4, {7, 1, 2, 1}, {64 * KiB, 32 * KiB, 8 * KiB, 16 * KiB}},
    {0xBA, 512 * KiB, 4, {1, 2, 1, 7}, {16 * KiB, 8 * KiB, 32 * KiB, 64 * KiB}},
    {0xDA, 1 * MiB, 4, {15, 1, 2, 1}, {64 * KiB, 32 * KiB, 8 * KiB, 16 * KiB}},
    {0x5B, 1 * MiB, 4, {1, 2, 1, 15}, {16 * KiB, 8 * KiB, 32 * KiB, 64 * KiB}},
};

}  // namespace

void SetNorFlashInputs(FlashInfo& info, int width, int interleave, uint32_t baseAddress) {
  info[kFlashInfoWidthOffset] = static_cast<uint8_t>(width);
  info[kFlashInfoInterleaveOffset] = static_cast<uint8_t>(interleave);
  PutLe32(info.data() + kFlashInfoBaseOffset, baseAddress);
}

uint16_t FlashInfoDeviceId(const FlashInfo& info) {
  return GetLe16(info.data() + 2);
}

uint32_t FlashInfoBlockBytes(const FlashInfo& info) {
  return GetLe32(info.data() + 12);
}

uint32_t FlashCfiRegionBlockBytes(const FlashCfi& cfi, int region) {
  return GetLe32(cfi.data() + 20 + 4 * region);
}

int BuildFlashInfo(int norType, FlashInfo& info) {
  if (norType < 0 || norType >= kNorTypeCount) return -1;
  const int width = info[kFlashInfoWidthOffset];
  const int interleave = info[kFlashInfoInterleaveOffset];
  const NorRow* match = nullptr;
  for (const NorRow& row : kNorRows) {
    if (row.type == norType && row.width == width && row.interleave == interleave) match = &row;
  }
  if (match != nullptr) {
    FillFields(*match, info);
  } else if (norType == kAm29lv040b) {
    // This part takes any combination; the probe then works without command values.
    std::fill(info.begin() + kFieldsFirst, info.begin() + kFieldsEnd, 0);
  } else {
    return -1;
  }
  const int busBits = width * interleave;
  info[kBusWidthBitsOffset] = static_cast<uint8_t>(busBits);
  info[kBusWidthBytesOffset] = static_cast<uint8_t>(busBits / 8);
  return 0;
}

int BuildFlashCfi(int interleave, uint16_t deviceId, FlashCfi& cfi) {
  cfi.fill(0);
  cfi[0] = 'Q';
  cfi[1] = 'R';
  cfi[2] = 'Y';
  if (interleave < 1) return -1;
  const uint8_t idLow = static_cast<uint8_t>(deviceId);
  for (const CfiRow& row : kCfiRows) {
    if (row.idLow != idLow) continue;
    uint8_t* c = cfi.data();
    PutLe32(c + 4, row.totalBytes * interleave);
    PutLe16(c + 10, row.regions);
    for (int region = 0; region < 4; ++region) {
      PutLe16(c + 12 + 2 * region, row.blocks[region]);
      PutLe32(c + 20 + 4 * region, row.blockBytes[region] * interleave);
    }
    return 0;
  }
  return -1;
}

}  // namespace zolt
