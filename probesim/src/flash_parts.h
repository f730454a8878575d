// SPDX-License-Identifier: MIT
// The flash parts a bench board can carry: their IDs, geometry, command set and datasheet timing.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

namespace probesim {

struct Region {
  uint32_t count;
  uint32_t size;  // bytes per block of one device
};

struct NorPart {
  const char* name;
  uint8_t widths;  // bit 0: 8-bit mode, bit 1: 16-bit mode
  uint8_t maker;
  uint16_t deviceTop8, deviceTop16;        // top-boot (or only) device ID in byte / word mode
  uint16_t deviceBottom8, deviceBottom16;  // 0: the part has no bottom-boot variant
  uint16_t third, fourth;                  // further ID words (16-bit mode)
  uint32_t size;                           // one device
  std::vector<Region> topLayout;           // top-boot (or only) layout, lowest address first
  uint32_t eraseBlock;                     // main sector size of one device
  uint16_t unlock1Byte, unlock2Byte;       // unlock addresses in byte mode
  uint16_t unlock1Word, unlock2Word;       // unlock word addresses in 16-bit mode
  uint8_t sectorEraseCommand;
  bool cfi;  // answers the CFI query, so the probe needs no layout
  uint32_t sectorEraseUs;
  uint32_t programUs;  // per bus-width unit
};

struct NandPart {
  const char* name;
  uint8_t maker, device;
  uint16_t third, fourth;
  uint64_t size;
  uint32_t page, block, spare;
};

const NorPart* NorPartByName(std::string_view name);
const NandPart* NandPartByName(std::string_view name);
std::vector<std::string_view> NorPartNames();
std::vector<std::string_view> NandPartNames();

inline constexpr uint32_t kNandPageProgramUs = 250;
inline constexpr uint32_t kNandBlockEraseUs = 2000;

// A NOR board: one part at a width and interleave.
struct NorBoard {
  const NorPart* part = nullptr;
  int width = 8;       // of one device
  int interleave = 1;  // devices side by side
  bool bottomBoot = false;

  uint64_t Size() const { return uint64_t{part->size} * static_cast<unsigned>(interleave); }
  uint32_t EraseBlock() const { return part->eraseBlock * static_cast<unsigned>(interleave); }
  int BusBytes() const { return width * interleave / 8; }
  // Sector start offsets, ascending, plus the flash size as the last entry.
  std::vector<uint64_t> SectorStarts() const;
  // The erase regions as a CFI record describes them (sizes times the interleave).
  std::vector<Region> Regions() const;
  uint16_t MakerWord() const;
  uint16_t DeviceWord() const;
  uint16_t ThirdWord() const;
  uint16_t FourthWord() const;
};

}  // namespace probesim
