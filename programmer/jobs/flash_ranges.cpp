// SPDX-License-Identifier: MIT
#include "jobs/flash_ranges.h"

#include <algorithm>

#include "probe/nor_types.h"

namespace zolt {
namespace {

constexpr uint64_t kKiB = 1024;

// The CFI parts answer the probe's CFI query themselves, so the job's record holds no geometry;
// their main sectors are fixed by the part. The 128 Mbit S29GL128N (3rd ID word 0x2221) shares
// device ID 0x227E with the 64 Mbit S29GL064M, so the word decides between the two rows.
uint64_t CfiPartBlockBytes(int norType, uint16_t deviceId, uint16_t thirdId) {
  if (deviceId == 0x227E && thirdId == 0x2221) return 128 * kKiB;
  switch (norType) {
    case kS29gl064m:
    case kK8d6316:
    case kSst39vf6401:  // block erase
      return 64 * kKiB;
    case kS29gl128m:
      return 128 * kKiB;
    default:
      return 0;
  }
}

}  // namespace

uint64_t NorEraseBlockBytes(int norType, int interleave, const FlashCfi& cfi, uint16_t deviceId,
                            uint16_t thirdId) {
  // Block numbers count main sectors: on boot-sector parts the small sectors add up to one.
  uint64_t largest = 0;
  for (int region = 0; region < 4; ++region)
    largest = std::max<uint64_t>(largest, FlashCfiRegionBlockBytes(cfi, region));
  if (largest != 0) return largest;  // already times the interleave
  return CfiPartBlockBytes(norType, deviceId, thirdId) * static_cast<uint64_t>(std::max(interleave, 1));
}

uint64_t NandEraseBlockBytes(const FlashInfo& info) {
  return FlashInfoBlockBytes(info);
}

WrittenRanges::Blocks WrittenRanges::Reach(uint32_t block, uint64_t size) const {
  const uint64_t bytes = geometry_.blockBytes;
  const uint64_t start = geometry_.base + uint64_t{block} * bytes;
  Blocks reach;
  reach.first = start / bytes;
  reach.end = size == 0 ? reach.first : (start + size + bytes - 1) / bytes;
  return reach;
}

bool WrittenRanges::Overlaps(uint32_t block, uint64_t size) const {
  if (geometry_.blockBytes == 0) return false;
  const Blocks reach = Reach(block, size);
  for (int i = 0; i < count_; ++i) {
    if (std::max(reach.first, claimed_[i].first) < std::min(reach.end, claimed_[i].end)) return true;
  }
  return false;
}

void WrittenRanges::Claim(uint32_t block, uint64_t size) {
  if (geometry_.blockBytes == 0 || count_ == static_cast<int>(claimed_.size())) return;
  const Blocks reach = Reach(block, size);
  if (reach.first != reach.end) claimed_[count_++] = reach;
}

}  // namespace zolt
