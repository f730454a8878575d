// SPDX-License-Identifier: MIT
// The erase blocks the image files of one job have claimed on its flash. The probe erases every
// block a file reaches before it takes the file's data, so a file whose blocks reach a block an
// earlier file of the run wrote would wipe that image; the job refuses such a file before it is
// announced.
//
// Addresses follow the probe's placement rule: the first byte of a file goes to flash offset
// base + block number x erase-block size (NOR: base is the NOR offset's place in its chip-select
// region; NAND: 0). Pure: any thread, never blocks.
#pragma once

#include <array>
#include <cstdint>

#include "probe/records.h"

namespace zolt {

struct FlashGeometry {
  uint64_t base = 0;        // flash offset of block 0
  uint64_t blockBytes = 0;  // erase-block size (times the interleave); 0: not known, nothing is checked
};

// Erase-block size of an identified NOR flash: the largest region of the FlashCfi the job built
// (types 0 to 4), otherwise the main sector of the CFI part the flash ID names (types 5 to 8),
// times `interleave`; 0 when neither tells.
uint64_t NorEraseBlockBytes(int norType, int interleave, const FlashCfi& cfi, uint16_t deviceId,
                            uint16_t thirdId);
// Block size of an identified NAND flash, as IdentifyNand put it into the record.
uint64_t NandEraseBlockBytes(const FlashInfo& info);

class WrittenRanges {
 public:
  explicit WrittenRanges(FlashGeometry geometry) : geometry_(geometry) {}

  // True when a file of `size` bytes at `block` would erase a block an earlier file claimed.
  bool Overlaps(uint32_t block, uint64_t size) const;
  // Records the blocks a file announced to the probe reaches (an empty file reaches none).
  void Claim(uint32_t block, uint64_t size);

 private:
  struct Blocks {
    uint64_t first = 0, end = 0;  // erase blocks [first, end)
  };
  Blocks Reach(uint32_t block, uint64_t size) const;

  FlashGeometry geometry_;
  std::array<Blocks, 3> claimed_{};
  int count_ = 0;
};

}  // namespace zolt
