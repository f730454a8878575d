// Byte records sent to the probe, and the functions that build them. Records are built with
// explicit little-endian packing; their sizes are part of the wire protocol.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace zolt {

inline constexpr uint8_t kFlashTypeNand = 0x21;
inline constexpr uint8_t kFlashTypeNor = 0x22;

enum Product : int { kTarvis = 0, kKelda = 1, kVtn3300 = 2, kOko = 3, kSolant = 4 };

using FlashInfo = std::array<uint8_t, 64>;       // SetFlashInfo payload
using FlashCfi = std::array<uint8_t, 36>;        // SetFlashCfi payload
using BoundaryPinMap = std::array<uint8_t, 216>;  // SetConfigBoundary payload
inline constexpr int kMaxBoundaryCells = 298;
using BoundaryImage = std::array<uint8_t, kMaxBoundaryCells>;

// FlashInfo input fields, filled by the caller before BuildFlashInfo.
inline constexpr int kFlashInfoWidthOffset = 56;
inline constexpr int kFlashInfoInterleaveOffset = 57;
inline constexpr int kFlashInfoBaseOffset = 60;

// Fills a NOR FlashInfo for NOR type 0..8 from its width/interleave inputs; -1 (record
// untouched) for a combination the type refuses.
int BuildFlashInfo(int norType, FlashInfo& info);
// Fills a FlashCfi for a device ID (low byte counts) at interleave 1 or 2; -1 for unknown IDs.
int BuildFlashCfi(int interleave, uint16_t deviceId, FlashCfi& cfi);

// Chip-select boundary cell of the region holding `baseAddress`; nullopt where the product has
// none (KELDA from 0xE0000000, and products outside KELDA, VTN3300, OKO).
std::optional<uint16_t> ChipSelectCell(uint32_t baseAddress, int product);

// Fills the pin map and the boundary image for a flash type, product and data bus width in
// bits. The caller clears `map` beforehand; fields a case does not name are left as they are.
void BuildBoundaryLayout(BoundaryPinMap& map, uint8_t* image, int* imageLength, uint8_t flashTypeCode,
                         int product, int busWidth, uint32_t norBaseAddress);

// Number of boundary cells of a product (TARVIS 80, KELDA 298, VTN3300 298, OKO 185), 0 if none.
int BoundaryCellCount(int product);

}  // namespace zolt
