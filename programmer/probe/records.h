// SPDX-License-Identifier: MIT
// Byte records sent to the probe, and the functions that build them. Records are plain byte
// arrays filled with explicit little-endian packing; their sizes are part of the wire protocol.
//
// Every function here is pure: any thread, never blocks, shows nothing, keeps no state.
#pragma once

#include <array>
#include <cstdint>
#include <optional>

namespace zolt {

inline constexpr uint8_t kFlashTypeNand = 0x21;
inline constexpr uint8_t kFlashTypeNor = 0x22;

enum Product : int { kTarvis = 0, kKelda = 1, kVtn3300 = 2, kOko = 3, kSolant = 4 };

using FlashInfo = std::array<uint8_t, 64>;        // SetFlashInfo payload
using FlashCfi = std::array<uint8_t, 36>;         // SetFlashCfi payload
using BoundaryPinMap = std::array<uint8_t, 216>;  // SetConfigBoundary payload
inline constexpr int kMaxBoundaryCells = 298;
using BoundaryImage = std::array<uint8_t, kMaxBoundaryCells>;
static_assert(sizeof(FlashInfo) == 64 && sizeof(FlashCfi) == 36 && sizeof(BoundaryPinMap) == 216);

// FlashInfo input fields, filled by the caller before BuildFlashInfo: device width in bits (8 or
// 16), interleave (1 or 2), NOR base address (32-bit little-endian).
inline constexpr int kFlashInfoWidthOffset = 56;
inline constexpr int kFlashInfoInterleaveOffset = 57;
inline constexpr int kFlashInfoBaseOffset = 60;

// Puts the three inputs above into `info`, the base address little-endian.
void SetNorFlashInputs(FlashInfo& info, int width, int interleave, uint32_t baseAddress);
// The device ID a FlashInfo names (bytes 2-3): the one BuildFlashInfo's row expects, or the one
// IdentifyNand found.
uint16_t FlashInfoDeviceId(const FlashInfo& info);
// The erase-block size of a NAND FlashInfo (bytes 12-15).
uint32_t FlashInfoBlockBytes(const FlashInfo& info);
// The block size of erase region 0..3 of a FlashCfi (bytes 20 + 4 x region), 0 where unused.
uint32_t FlashCfiRegionBlockBytes(const FlashCfi& cfi, int region);

// Fills a NOR FlashInfo for NOR type 0..8 from its width/interleave inputs: bytes 2-55 from the
// NOR type table, byte 58 the bus width in bits, byte 59 in bytes; bytes 0-1 and the inputs are
// not touched. AM29LV040B accepts every combination (with all of bytes 2-55 zero where its table
// has no row). Returns 0, or -1 with the record untouched for a type outside 0..8 or a
// combination the type refuses.
int BuildFlashInfo(int norType, FlashInfo& info);
// Clears `cfi`, writes "QRY", and fills the erase-block geometry of the device whose ID's low byte
// is 0x4F, 0x6E, 0xB9, 0xBA, 0xDA or 0x5B, sizes multiplied by `interleave`. Returns 0, or -1
// (only "QRY" left) for any other device or an interleave below 1.
int BuildFlashCfi(int interleave, uint16_t deviceId, FlashCfi& cfi);

// Chip-select boundary cell of the 512 MiB region holding `baseAddress`; nullopt where the product
// has none (KELDA from 0xE0000000, and products outside KELDA, VTN3300, OKO).
std::optional<uint16_t> ChipSelectCell(uint32_t baseAddress, int product);

// Fills the pin map and the boundary image for a flash type, product and data bus width in bits
// (device width times interleave). For TARVIS, KELDA, VTN3300 and OKO it copies the product's
// image into `image` (room for kMaxBoundaryCells bytes) and sets `*imageLength` and the chain
// flags; then the NAND cells, or for NOR on KELDA, VTN3300 and OKO the NOR cells with control
// cell 0 from ChipSelectCell (0 where there is none: the caller must refuse such a base address).
// SOLANT and rows outside 0..4: nothing is written at all. The caller clears `map` beforehand;
// fields a case does not name are left as they are.
void BuildBoundaryLayout(BoundaryPinMap& map, uint8_t* image, int* imageLength, uint8_t flashTypeCode,
                         int product, int busWidth, uint32_t norBaseAddress);

// Number of boundary cells of a product (TARVIS 80, KELDA 298, VTN3300 298, OKO 185), 0 if none.
int BoundaryCellCount(int product);

}  // namespace zolt
