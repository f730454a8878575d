// SPDX-License-Identifier: MIT
#include "targets.h"

#include <string_view>

#include "cell_list.h"

namespace probesim {
namespace {

// Offsets in the 216-byte pin map.
constexpr uint16_t kChainA = 0;
constexpr uint16_t kChainB = 1;
constexpr uint16_t kControl = 2;
constexpr uint16_t kData = 18;
constexpr uint16_t kDataCount = 82;
constexpr uint16_t kDataControl = 84;
constexpr uint16_t kDataControlCount = 148;
constexpr uint16_t kAddress = 150;
constexpr uint16_t kAddressCount = 214;

ProductModel MakeTarvis() {
  return {"TARVIS",   0x0022F3A1, {0, 1, 0, 1}, 80,   CellImage(80, 1, "32, 33, 38, 40"), {},
          {},         true,       false,        true, {-1, -1, -1, -1, -1, -1, -1, -1},   {8, 16},
          0x80000410, 0x5550};
}

ProductModel MakeKelda() {
  return {"KELDA",
          0x00AECADD,
          {0, 1, 0, 1},
          298,
          CellImage(298, 1,
                    "3, 10, 11, 13-59/2, 60-65, 74, 78, 80, 84-148/2, 152-166/2, 174, 187-223/2, 224-240, "
                    "242-256/2, 257, 259, 260, 262-265, 267-297/2"),
          CellImage(298, 1, "297"),
          CellImage(298, 0,
                    "3-9/2, 12-58/2, 61, 65-81/2, 82, 83, 85-149/2, 150, 151, 153-169/2, 170-174/2, 177-186, "
                    "188-222/2, 241-255/2, 261, 266-296/2"),
          true,
          true,
          false,
          {186, 184, 182, 180, 178, 177, 261, -1},
          {8, 16, 32},
          0,
          0};
}

ProductModel MakeVtn3300() {
  return {
      "VTN3300",
      0x100015B9,
      {1, 0, 1, 1},
      298,
      CellImage(298, 0,
                "46, 48, 72-76/2, 116-126/2, 127, 128, 131, 133, 141, 161, 163-165, 167, 168, 193, 194, 199, "
                "205-209/2, 210, 243, 249"),
      CellImage(298, 1, "9-77/2, 80, 97-125/2, 130-136/2, 143, 160-226/2, 238-244/2, 256, 267-297/2"),
      CellImage(298, 0, "46, 48, 72-76/2, 116-126/2, 127, 128"),
      true,
      true,
      false,
      {116, 118, 120, 122, 124, 126, 127, 128},
      {8, 16},
      0,
      0};
}

ProductModel MakeOko() {
  return {"OKO",
          0x100015B9,
          {1, 0, 1, 1},
          185,
          CellImage(185, 0,
                    "39, 41, 45-51, 53-59/2, 95, 96, 101-109/2, 119, 121-123, 125-127, 129-131, 133-135, "
                    "137-141/2, 145-164"),
          CellImage(185, 1, "18-42/2, 52-184/2"),
          CellImage(185, 0, "39, 41, 46, 50, 51, 53-59/2"),
          true,
          true,
          false,
          {46, 51, 53, 55, 57, 59, 39, 41},
          {8, 16},
          0,
          0};
}

ProductModel MakeSolant() {
  return {
      "SOLANT", 0x1AEC0ADD, {0, 1, 0, 1}, 0, {}, {}, {}, false, false, true, {-1, -1, -1, -1, -1, -1, -1, -1},
      {8, 16},  0x80000400, 0x2220};
}

ProductModel MakeCustom() {
  return {"custom", 0, {0, 1, 0, 1}, 0, {}, {}, {}, false, false, false, {-1, -1, -1, -1, -1, -1, -1, -1}, {},
          0,        0};
}

void Byte(std::vector<PinMapField>& f, uint16_t offset, uint16_t value) {
  f.push_back({offset, 1, value});
}
void Cell(std::vector<PinMapField>& f, uint16_t offset, int value) {
  f.push_back({offset, 2, static_cast<uint16_t>(value)});
}

void ChainFlags(std::vector<PinMapField>& f, Product p) {
  const bool first = p == Product::kTarvis || p == Product::kKelda;
  Byte(f, kChainA, first ? 1 : 0);
  Byte(f, kChainB, first ? 0 : 1);
}

}  // namespace

const ProductModel& Model(Product product) {
  static const ProductModel models[] = {MakeTarvis(), MakeKelda(),  MakeVtn3300(),
                                        MakeOko(),    MakeSolant(), MakeCustom()};
  return models[static_cast<int>(product)];
}

std::optional<Product> ProductByName(std::string_view name) {
  for (Product p : {Product::kTarvis, Product::kKelda, Product::kVtn3300, Product::kOko, Product::kSolant,
                    Product::kCustom}) {
    if (name == Model(p).name) return p;
  }
  return std::nullopt;
}

std::vector<PinMapField> NandPinMap(Product product) {
  struct Row {
    int data0, dataStep, controlDelta;
    std::array<int, 6> controls;  // control cells 0, 3, 4, 5, 6, 7
  };
  Row row;
  switch (product) {
    case Product::kTarvis:
      row = {30, -2, 1, {36, 38, 40, 42, 34, 32}};
      break;
    case Product::kKelda:
      row = {166, -2, 1, {170, 187, 189, 168, 171, 173}};
      break;
    case Product::kVtn3300:
      row = {211, 2, 1, {199, 201, 203, 207, 205, 209}};
      break;
    case Product::kOko:
      row = {63, 2, 1, {101, 97, 99, 105, 103, 95}};
      break;
    default:
      return {};
  }
  std::vector<PinMapField> f;
  ChainFlags(f, product);
  const int controlSlots[6] = {0, 3, 4, 5, 6, 7};
  for (int i = 0; i < 6; ++i) Cell(f, static_cast<uint16_t>(kControl + 2 * controlSlots[i]), row.controls[i]);
  for (int k = 0; k < 8; ++k) {
    const int cell = row.data0 + row.dataStep * k;
    Cell(f, static_cast<uint16_t>(kData + 2 * k), cell);
    Cell(f, static_cast<uint16_t>(kDataControl + 2 * k), cell + row.controlDelta);
  }
  Byte(f, kDataCount, 8);
  Byte(f, kDataControlCount, 8);
  return f;
}

std::vector<PinMapField> NorPinMap(Product product, int busWidth, int region) {
  const ProductModel& m = Model(product);
  if (!m.norByBoundary || region < 0 || region > 7 || m.chipSelectCell[region] < 0) return {};
  bool widthOk = false;
  for (int w : m.norBusWidths) widthOk = widthOk || w == busWidth;
  if (!widthOk) return {};

  std::vector<PinMapField> f;
  ChainFlags(f, product);
  Cell(f, kControl, m.chipSelectCell[region]);
  auto data = [&](int k, int cell) { Cell(f, static_cast<uint16_t>(kData + 2 * k), cell); };
  auto dataControl = [&](int k, int cell) { Cell(f, static_cast<uint16_t>(kDataControl + 2 * k), cell); };
  auto address = [&](int k, int cell) { Cell(f, static_cast<uint16_t>(kAddress + 2 * k), cell); };
  switch (product) {
    case Product::kKelda:
      Cell(f, kControl + 2, 175);
      Cell(f, kControl + 4, 176);
      for (int k = 0; k < busWidth; ++k) {
        const int cell = k < 16 ? 295 - 2 * k : k < 24 ? 240 + 2 * (k - 16) : 221 - 2 * (k - 24);
        data(k, cell);
        dataControl(k, cell + 1);
      }
      Byte(f, kDataCount, static_cast<uint16_t>(busWidth));
      Byte(f, kDataControlCount, static_cast<uint16_t>(busWidth));
      for (int k = 0; k < 24; ++k) address(k, k <= 16 ? 239 - k : 203 - 2 * (k - 17));
      Byte(f, kAddressCount, 24);
      break;
    case Product::kVtn3300:
      Cell(f, kControl + 2, 133);
      Cell(f, kControl + 4, 131);
      for (int k = 0; k < busWidth; ++k) data(k, k == 0 ? 142 : 143 + k);
      dataControl(0, 143);
      Byte(f, kDataCount, static_cast<uint16_t>(busWidth));
      Byte(f, kDataControlCount, 1);
      for (int k = 0; k < 26; ++k) address(k, k == 0 ? 78 : k <= 15 ? 80 + k : 96 + 2 * (k - 16));
      Byte(f, kAddressCount, 26);
      break;
    case Product::kOko:
      Cell(f, kControl + 2, 48);
      Cell(f, kControl + 4, 47);
      for (int k = 0; k < busWidth; ++k) {
        data(k, 63 + 2 * k);
        dataControl(k, 64 + 2 * k);
      }
      Byte(f, kDataCount, static_cast<uint16_t>(busWidth));
      Byte(f, kDataControlCount, static_cast<uint16_t>(busWidth));
      for (int k = 0; k < 25; ++k) address(k, k == 0 ? 0 : k <= 15 ? 1 + k : 17 + 2 * (k - 16));
      Byte(f, kAddressCount, 25);
      break;
    default:
      return {};
  }
  return f;
}

bool PinMapHolds(std::span<const uint8_t> map, const std::vector<PinMapField>& fields) {
  if (fields.empty() || map.size() < 216) return false;
  for (const PinMapField& field : fields) {
    uint16_t v = map[field.offset];
    if (field.bytes == 2) v = static_cast<uint16_t>(v | (map[field.offset + 1u] << 8));
    if (v != field.value) return false;
  }
  return true;
}

}  // namespace probesim
