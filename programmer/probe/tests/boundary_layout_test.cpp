// SPDX-License-Identifier: MIT
// The boundary layouts: images against the documented cell lists, and the pin maps of every
// product for NAND and for NOR at each bus width and chip-select region, byte for byte.
#include <map>
#include <optional>

#include "cell_lists.h"
#include "probe/records.h"
#include "testing/scripted_link.h"

namespace zolt::testing {
namespace {

struct ImageCase {
  int product;
  int cells;
  const char* list;
};
const ImageCase kImages[] = {
    {kTarvis, 80, "all 1 except 32, 33, 38, 40"},
    {kKelda, 298,
     "all 1 except 3, 10, 11, 13-59/2, 60-65, 74, 78, 80, 84-148/2, 152-166/2, 174, 187-223/2, 224-240, "
     "242-256/2, 257, 259, 260, 262-265, 267-297/2"},
    {kVtn3300, 298,
     "all 0 except 46, 48, 72-76/2, 116-126/2, 127, 128, 131, 133, 141, 161, 163-165, 167, 168, 193, 194, "
     "199, "
     "205-209/2, 210, 243, 249"},
    {kOko, 185,
     "all 0 except 39, 41, 45-51, 53-59/2, 95, 96, 101-109/2, 119, 121-123, 125-127, 129-131, 133-135, "
     "137-141/2, 145-164"},
};

std::vector<int> Seq(int first, int last, int step) {
  std::vector<int> out;
  for (int c = first; step > 0 ? c <= last : c >= last; c += step) out.push_back(c);
  return out;
}
std::vector<int> Join(std::initializer_list<std::vector<int>> parts) {
  std::vector<int> out;
  for (const auto& p : parts) out.insert(out.end(), p.begin(), p.end());
  return out;
}

// The pin map as documented, field by field.
struct ExpectedMap {
  BoundaryPinMap bytes{};
  void Set16(int at, int v) {
    bytes[at] = uint8_t(v);
    bytes[at + 1] = uint8_t(v >> 8);
  }
  void Control(int i, int cell) { Set16(2 + 2 * i, cell); }
  void List(int at, const std::vector<int>& cells) {
    for (size_t k = 0; k < cells.size(); ++k) Set16(at + 2 * int(k), cells[k]);
  }
};

// Chip-select cells of the eight 512 MiB regions (0: none).
const std::map<int, std::vector<int>> kChipSelect = {
    {kKelda, {186, 184, 182, 180, 178, 177, 261, 0}},
    {kVtn3300, {116, 118, 120, 122, 124, 126, 127, 128}},
    {kOko, {46, 51, 53, 55, 57, 59, 39, 41}},
};

ExpectedMap Expected(uint8_t flash, int product, int busWidth, uint32_t base) {
  ExpectedMap m;
  m.bytes[0] = product == kTarvis || product == kKelda;
  m.bytes[1] = product == kVtn3300 || product == kOko;
  if (flash == kFlashTypeNand) {
    // Data cell k and its direction cell, then control cells 0, 3, 4, 5, 6, 7.
    struct Nand {
      int data0, step;
      std::vector<int> control;
    };
    const std::map<int, Nand> nand = {{kTarvis, {30, -2, {36, 38, 40, 42, 34, 32}}},
                                      {kKelda, {166, -2, {170, 187, 189, 168, 171, 173}}},
                                      {kVtn3300, {211, 2, {199, 201, 203, 207, 205, 209}}},
                                      {kOko, {63, 2, {101, 97, 99, 105, 103, 95}}}};
    const Nand& n = nand.at(product);
    const auto data = Seq(n.data0, n.data0 + 7 * n.step, n.step);
    auto direction = data;
    for (int& c : direction) ++c;
    m.List(18, data);
    m.List(84, direction);
    m.bytes[82] = m.bytes[148] = 8;
    const int index[] = {0, 3, 4, 5, 6, 7};
    for (int i = 0; i < 6; ++i) m.Control(index[i], n.control[i]);
    return m;
  }
  if (product == kTarvis) return m;
  m.Control(0, kChipSelect.at(product)[base >> 29]);
  if (product == kKelda) {
    const auto data = Join({Seq(295, 265, -2), Seq(240, 254, 2), Seq(221, 207, -2)});
    auto direction = data;
    for (int& c : direction) ++c;
    m.List(18, data);
    m.List(84, direction);
    if (busWidth == 8 || busWidth == 16 || busWidth == 32) m.bytes[82] = m.bytes[148] = uint8_t(busWidth);
    m.List(150, Join({Seq(239, 223, -1), Seq(203, 189, -2)}));
    m.bytes[214] = 24;
    m.Control(1, 175), m.Control(2, 176);
  } else if (product == kVtn3300) {
    m.List(18, Join({{142}, Seq(144, 158, 1)}));
    m.List(84, {143});
    if (busWidth == 8 || busWidth == 16) m.bytes[82] = uint8_t(busWidth);
    m.bytes[148] = 1;
    m.List(150, Join({{78}, Seq(81, 95, 1), Seq(96, 114, 2)}));
    m.bytes[214] = 26;
    m.Control(1, 133), m.Control(2, 131);
  } else if (product == kOko) {
    if (busWidth == 8 || busWidth == 16) {
      m.List(18, Seq(63, 63 + 2 * (busWidth - 1), 2));
      m.List(84, Seq(64, 64 + 2 * (busWidth - 1), 2));
      m.bytes[82] = m.bytes[148] = uint8_t(busWidth);
    }
    m.List(150, Join({{0}, Seq(2, 16, 1), Seq(17, 33, 2)}));
    m.bytes[214] = 25;
    m.Control(1, 48), m.Control(2, 47);
  }
  return m;
}

std::vector<uint8_t> Bytes(const BoundaryPinMap& m) {
  return {m.begin(), m.end()};
}

TEST(BoundaryLayout, ImagesMatchTheDocumentedCellLists) {
  for (const ImageCase& c : kImages) {
    for (uint8_t flash : {kFlashTypeNand, kFlashTypeNor}) {
      BoundaryPinMap map{};
      std::vector<uint8_t> image(kMaxBoundaryCells + 8, 0xEE);
      int length = -1;
      BuildBoundaryLayout(map, image.data(), &length, flash, c.product, 16, 0);
      ASSERT_EQ(length, c.cells);
      EXPECT_EQ(BoundaryCellCount(c.product), c.cells);
      const std::vector<uint8_t> built(image.begin(), image.begin() + length);
      EXPECT_EQ(Hex(built), Hex(ParseCellList(c.cells, c.list))) << "product " << c.product;
      EXPECT_EQ(image[length], 0xEE) << "wrote past the image";
    }
  }
}

TEST(BoundaryLayout, PinMapsForEveryProductFlashWidthAndRegion) {
  const uint32_t bases[] = {0x00000000, 0x1FFFFFFF, 0x20000000, 0x3FFFFFFF, 0x40000000, 0x60000000,
                            0x80000000, 0xA0000000, 0xC0000000, 0xDFFFFFFF, 0xE0000000, 0xFFFFFFFF};
  for (int product : {kTarvis, kKelda, kVtn3300, kOko}) {
    for (uint8_t flash : {kFlashTypeNand, kFlashTypeNor}) {
      for (int width : {8, 16, 32}) {
        for (uint32_t base : bases) {
          SCOPED_TRACE("product " + std::to_string(product) + " flash " + std::to_string(flash) + " width " +
                       std::to_string(width) + " base " + std::to_string(base));
          BoundaryPinMap map{};
          uint8_t image[kMaxBoundaryCells];
          int length = 0;
          BuildBoundaryLayout(map, image, &length, flash, product, width, base);
          EXPECT_EQ(Hex(Bytes(map)), Hex(Bytes(Expected(flash, product, width, base).bytes)));
        }
      }
    }
  }
}

TEST(BoundaryLayout, ChipSelectCellPerRegion) {
  for (const auto& [product, cells] : kChipSelect) {
    for (uint32_t region = 0; region < 8; ++region) {
      for (uint32_t base : {region << 29, (region << 29) | 0x1FFFFFFF}) {
        const auto cell = ChipSelectCell(base, product);
        if (cells[region] == 0) {
          EXPECT_FALSE(cell.has_value()) << base;
        } else {
          EXPECT_EQ(cell, std::optional<uint16_t>(uint16_t(cells[region]))) << product << " " << base;
        }
      }
    }
  }
  for (int product : {int{kTarvis}, int{kSolant}, 5, -1})
    EXPECT_FALSE(ChipSelectCell(0, product).has_value());
}

// Fields a case does not name are left as the caller had them.
TEST(BoundaryLayout, LeavesUnnamedFieldsAsTheCallerHadThem) {
  BoundaryPinMap before;
  before.fill(0xEE);
  uint8_t image[kMaxBoundaryCells];
  std::fill(std::begin(image), std::end(image), 0xEE);
  for (int product : {int{kSolant}, 5, -1}) {
    BoundaryPinMap map = before;
    int length = 77;
    BuildBoundaryLayout(map, image, &length, kFlashTypeNor, product, 16, 0);
    BuildBoundaryLayout(map, image, &length, kFlashTypeNand, product, 16, 0);
    EXPECT_EQ(Hex(Bytes(map)), Hex(Bytes(before)));
    EXPECT_EQ(length, 77);
    EXPECT_EQ(image[0], 0xEE);
    EXPECT_EQ(BoundaryCellCount(product), 0);
  }
  // OKO at a width it has no data lines for: no data cells, counts as they were.
  BoundaryPinMap oko = before;
  int length = 0;
  BuildBoundaryLayout(oko, image, &length, kFlashTypeNor, kOko, 32, 0);
  for (int at : {18, 50, 80, 82, 84, 120, 146, 148}) EXPECT_EQ(oko[at], 0xEE) << at;
  EXPECT_EQ(oko[214], 25);
  // TARVIS NOR: the image and chain flags only.
  BoundaryPinMap tarvis = before;
  BuildBoundaryLayout(tarvis, image, &length, kFlashTypeNor, kTarvis, 16, 0);
  BoundaryPinMap expected = before;
  expected[0] = 1, expected[1] = 0;
  EXPECT_EQ(Hex(Bytes(tarvis)), Hex(Bytes(expected)));
  EXPECT_EQ(length, 80);
}

}  // namespace
}  // namespace zolt::testing
