// SPDX-License-Identifier: MIT
// The five target boards as the bench models them: JTAG identity, boundary register (cell count,
// power-up image, pin-toggle patterns), the pin map a probe needs to reach each kind of flash, and
// the debug-mode registers of the two processors that reach their NOR flash over the debug bus.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string_view>
#include <vector>

namespace probesim {

enum class Product { kTarvis, kKelda, kVtn3300, kOko, kSolant, kCustom };

// One field of a BoundaryPinMap that must hold a given value.
struct PinMapField {
  uint16_t offset;
  uint8_t bytes;  // 1 or 2 (16-bit little-endian)
  uint16_t value;
};

struct ProductModel {
  const char* name;
  uint32_t jtagId;
  std::array<uint8_t, 4> jtagParam;
  int cellCount;                     // 0: no boundary layout known to the probe
  std::vector<uint8_t> image;        // cell values the board expects loaded before EXTEST drives it
  std::vector<uint8_t> highPattern;  // empty where the product has no pin-toggle pattern
  std::vector<uint8_t> lowPattern;
  bool nandByBoundary;
  bool norByBoundary;
  bool norByDebug;
  std::array<int, 8> chipSelectCell;  // per 512 MiB region, -1: none
  std::vector<int> norBusWidths;      // bus widths the NOR pin map can carry
  uint32_t flashConfigAddress;        // debug-mode products only
  uint32_t flashConfigValue;
};

inline constexpr uint32_t kSolantSwitchRegister = 0x80020004;
inline constexpr uint32_t kSolantSwitchBit = 0x20;
inline constexpr uint32_t kFlashConfigResetValue = 0x1110;
inline constexpr uint32_t kRegionSize = 0x20000000;

const ProductModel& Model(Product product);
std::optional<Product> ProductByName(std::string_view name);

// Fields a pin map must hold for the product's NAND flash (empty if none).
std::vector<PinMapField> NandPinMap(Product product);
// Fields for a NOR flash of `busWidth` bits on chip-select region `region` (empty if none).
std::vector<PinMapField> NorPinMap(Product product, int busWidth, int region);
bool PinMapHolds(std::span<const uint8_t> map, const std::vector<PinMapField>& fields);

}  // namespace probesim
