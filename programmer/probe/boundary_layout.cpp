// SPDX-License-Identifier: MIT
// Which boundary cells of each product carry the flash's data, data-direction, address and
// control pins, written into the BoundaryPinMap the probe drives the flash through.
#include <algorithm>

#include "probe/boundary_tables.h"
#include "probe/byte_order.h"
#include "probe/records.h"

namespace zolt {
namespace {

// BoundaryPinMap layout.
constexpr int kChainFlagA = 0, kChainFlagB = 1;
constexpr int kControlCells = 2;
constexpr int kDataCells = 18, kDataCount = 82;
constexpr int kDataControlCells = 84, kDataControlCount = 148;
constexpr int kAddressCells = 150, kAddressCount = 214;

class PinMapWriter {
 public:
  explicit PinMapWriter(BoundaryPinMap& map) : map_(map) {}
  void Control(int index, uint16_t cell) { PutLe16(&map_[kControlCells + 2 * index], cell); }
  void Data(int k, uint16_t cell) { PutLe16(&map_[kDataCells + 2 * k], cell); }
  void DataControl(int k, uint16_t cell) { PutLe16(&map_[kDataControlCells + 2 * k], cell); }
  void Address(int k, uint16_t cell) { PutLe16(&map_[kAddressCells + 2 * k], cell); }
  void DataCount(int n) { map_[kDataCount] = static_cast<uint8_t>(n); }
  void DataControlCount(int n) { map_[kDataControlCount] = static_cast<uint8_t>(n); }
  void AddressCount(int n) { map_[kAddressCount] = static_cast<uint8_t>(n); }

 private:
  BoundaryPinMap& map_;
};

// NAND: eight data lines, each with its own direction cell, and the six NAND control pins.
struct NandRow {
  int firstData, dataStep;  // data cell k = firstData + dataStep * k; its direction cell is the next one
  uint16_t control[6];      // control cells 0, 3, 4, 5, 6, 7
};
constexpr NandRow kNandRows[] = {
    {30, -2, {36, 38, 40, 42, 34, 32}},         // TARVIS
    {166, -2, {170, 187, 189, 168, 171, 173}},  // KELDA
    {211, 2, {199, 201, 203, 207, 205, 209}},   // VTN3300
    {63, 2, {101, 97, 99, 105, 103, 95}},       // OKO
};

void FillNand(PinMapWriter& w, int product) {
  const NandRow& row = kNandRows[product];
  w.DataCount(8);
  w.DataControlCount(8);
  for (int k = 0; k < 8; ++k) {
    const int cell = row.firstData + row.dataStep * k;
    w.Data(k, static_cast<uint16_t>(cell));
    w.DataControl(k, static_cast<uint16_t>(cell + 1));
  }
  constexpr int kControlIndex[6] = {0, 3, 4, 5, 6, 7};
  for (int c = 0; c < 6; ++c) w.Control(kControlIndex[c], row.control[c]);
}

void FillKeldaNor(PinMapWriter& w, int busWidth) {
  if (busWidth == 8 || busWidth == 16 || busWidth == 32) {
    w.DataCount(busWidth);
    w.DataControlCount(busWidth);
  }
  // All 32 data lines are described whatever the width; the count says how many are used.
  for (int k = 0; k < 32; ++k) {
    const int cell = k < 16 ? 295 - 2 * k : k < 24 ? 240 + 2 * (k - 16) : 221 - 2 * (k - 24);
    w.Data(k, static_cast<uint16_t>(cell));
    w.DataControl(k, static_cast<uint16_t>(cell + 1));
  }
  // 25 address cells are listed; the highest one is not driven.
  for (int k = 0; k <= 24; ++k) w.Address(k, static_cast<uint16_t>(k <= 16 ? 239 - k : 203 - 2 * (k - 17)));
  w.AddressCount(24);
  w.Control(1, 175);
  w.Control(2, 176);
}

void FillVtn3300Nor(PinMapWriter& w, int busWidth) {
  if (busWidth == 8 || busWidth == 16) w.DataCount(busWidth);
  // One direction cell serves the whole data bus.
  w.DataControlCount(1);
  w.DataControl(0, 143);
  w.Data(0, 142);
  for (int k = 1; k < 16; ++k) w.Data(k, static_cast<uint16_t>(143 + k));
  w.Address(0, 78);
  for (int k = 1; k <= 15; ++k) w.Address(k, static_cast<uint16_t>(80 + k));
  for (int k = 16; k <= 25; ++k) w.Address(k, static_cast<uint16_t>(96 + 2 * (k - 16)));
  w.AddressCount(26);
  w.Control(1, 133);
  w.Control(2, 131);
}

void FillOkoNor(PinMapWriter& w, int busWidth) {
  if (busWidth == 8 || busWidth == 16) {
    w.DataCount(busWidth);
    w.DataControlCount(busWidth);
    for (int k = 0; k < busWidth; ++k) {
      w.Data(k, static_cast<uint16_t>(63 + 2 * k));
      w.DataControl(k, static_cast<uint16_t>(64 + 2 * k));
    }
  }
  w.Address(0, 0);
  for (int k = 1; k <= 15; ++k) w.Address(k, static_cast<uint16_t>(1 + k));
  for (int k = 16; k <= 24; ++k) w.Address(k, static_cast<uint16_t>(17 + 2 * (k - 16)));
  w.AddressCount(25);
  w.Control(1, 48);
  w.Control(2, 47);
}

// Chip-select cell per 512 MiB region; 0 marks a region without a chip select.
constexpr uint16_t kChipSelectCells[3][8] = {
    {186, 184, 182, 180, 178, 177, 261, 0},    // KELDA
    {116, 118, 120, 122, 124, 126, 127, 128},  // VTN3300
    {46, 51, 53, 55, 57, 59, 39, 41},          // OKO
};

}  // namespace

std::optional<uint16_t> ChipSelectCell(uint32_t baseAddress, int product) {
  if (product != kKelda && product != kVtn3300 && product != kOko) return std::nullopt;
  const uint16_t cell = kChipSelectCells[product - kKelda][baseAddress >> 29];
  if (cell == 0) return std::nullopt;
  return cell;
}

void BuildBoundaryLayout(BoundaryPinMap& map, uint8_t* image, int* imageLength, uint8_t flashTypeCode,
                         int product, int busWidth, uint32_t norBaseAddress) {
  if (product < kTarvis || product > kOko) return;  // no boundary register known

  const std::span<const uint8_t> cells = BoundaryImageOf(product);
  if (image != nullptr) std::copy(cells.begin(), cells.end(), image);
  if (imageLength != nullptr) *imageLength = static_cast<int>(cells.size());
  const bool firstChain = product == kTarvis || product == kKelda;
  map[kChainFlagA] = firstChain ? 1 : 0;
  map[kChainFlagB] = firstChain ? 0 : 1;

  PinMapWriter w(map);
  if (flashTypeCode == kFlashTypeNand) {
    FillNand(w, product);
  } else if (flashTypeCode == kFlashTypeNor && product != kTarvis) {
    // Without a chip select for the region the cell stays 0; the download job refuses such a
    // base address before it sends the map.
    w.Control(0, ChipSelectCell(norBaseAddress, product).value_or(0));
    if (product == kKelda) FillKeldaNor(w, busWidth);
    if (product == kVtn3300) FillVtn3300Nor(w, busWidth);
    if (product == kOko) FillOkoNor(w, busWidth);
  }
}

}  // namespace zolt
