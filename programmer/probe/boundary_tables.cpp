// SPDX-License-Identifier: MIT
// The boundary images and pin patterns, written as the board documentation lists them: every
// cell has one value except the cells of a list of runs, where "a-b" is every cell from a to b
// and "a-b/2" every second cell from a to b. The byte arrays are expanded at compile time, and a
// run that leaves the register or does not land on its last cell stops the build.
#include "probe/boundary_tables.h"

#include <array>
#include <cstddef>

#include "probe/records.h"

namespace zolt {
namespace {

struct CellRun {
  int first, last, step;
};
// "c"
constexpr CellRun Cell(int c) {
  return {c, c, 1};
}
// "a-b"
constexpr CellRun Cells(int a, int b) {
  return {a, b, 1};
}
// "a-b/2"
constexpr CellRun EverySecond(int a, int b) {
  return {a, b, 2};
}

template <size_t CellCount, size_t RunCount>
consteval std::array<uint8_t, CellCount> Expand(uint8_t allCells, const CellRun (&except)[RunCount]) {
  std::array<uint8_t, CellCount> cells{};
  cells.fill(allCells);
  for (const CellRun& run : except) {
    if (run.first < 0 || run.last >= static_cast<int>(CellCount) || run.first > run.last ||
        (run.last - run.first) % run.step != 0) {
      throw "cell run outside the register or not ending on its last cell";
    }
    for (int c = run.first; c <= run.last; c += run.step) cells[c] = allCells ^ 1;
  }
  return cells;
}

// clang-format off
constexpr auto kTarvisImage = Expand<80>(1, {Cell(32), Cell(33), Cell(38), Cell(40)});

constexpr auto kKeldaImage = Expand<298>(1, {
    Cell(3), Cell(10), Cell(11), EverySecond(13, 59), Cells(60, 65), Cell(74), Cell(78), Cell(80),
    EverySecond(84, 148), EverySecond(152, 166), Cell(174), EverySecond(187, 223), Cells(224, 240),
    EverySecond(242, 256), Cell(257), Cell(259), Cell(260), Cells(262, 265), EverySecond(267, 297)});

constexpr auto kVtn3300Image = Expand<298>(0, {
    Cell(46), Cell(48), EverySecond(72, 76), EverySecond(116, 126), Cell(127), Cell(128), Cell(131),
    Cell(133), Cell(141), Cell(161), Cells(163, 165), Cell(167), Cell(168), Cell(193), Cell(194),
    Cell(199), EverySecond(205, 209), Cell(210), Cell(243), Cell(249)});

constexpr auto kOkoImage = Expand<185>(0, {
    Cell(39), Cell(41), Cells(45, 51), EverySecond(53, 59), Cell(95), Cell(96), EverySecond(101, 109),
    Cell(119), Cells(121, 123), Cells(125, 127), Cells(129, 131), Cells(133, 135), EverySecond(137, 141),
    Cells(145, 164)});

constexpr auto kKeldaHigh = Expand<298>(1, {Cell(297)});
constexpr auto kKeldaLow = Expand<298>(0, {
    EverySecond(3, 9), EverySecond(12, 58), Cell(61), EverySecond(65, 81), Cell(82), Cell(83),
    EverySecond(85, 149), Cell(150), Cell(151), EverySecond(153, 169), EverySecond(170, 174),
    Cells(177, 186), EverySecond(188, 222), EverySecond(241, 255), Cell(261), EverySecond(266, 296)});

constexpr auto kVtn3300High = Expand<298>(1, {
    EverySecond(9, 77), Cell(80), EverySecond(97, 125), EverySecond(130, 136), Cell(143),
    EverySecond(160, 226), EverySecond(238, 244), Cell(256), EverySecond(267, 297)});
constexpr auto kVtn3300Low = Expand<298>(0, {
    Cell(46), Cell(48), EverySecond(72, 76), EverySecond(116, 126), Cell(127), Cell(128)});

constexpr auto kOkoHigh = Expand<185>(1, {EverySecond(18, 42), EverySecond(52, 184)});
constexpr auto kOkoLow = Expand<185>(0, {
    Cell(39), Cell(41), Cell(46), Cell(50), Cell(51), EverySecond(53, 59)});
// clang-format on

static_assert(kKeldaImage.size() <= kMaxBoundaryCells && kVtn3300Image.size() <= kMaxBoundaryCells);

}  // namespace

std::span<const uint8_t> BoundaryImageOf(int product) {
  switch (product) {
    case kTarvis:
      return kTarvisImage;
    case kKelda:
      return kKeldaImage;
    case kVtn3300:
      return kVtn3300Image;
    case kOko:
      return kOkoImage;
    default:
      return {};
  }
}

std::span<const uint8_t> HighPatternOf(int product) {
  switch (product) {
    case kKelda:
      return kKeldaHigh;
    case kVtn3300:
      return kVtn3300High;
    case kOko:
      return kOkoHigh;
    default:
      return {};
  }
}

std::span<const uint8_t> LowPatternOf(int product) {
  switch (product) {
    case kKelda:
      return kKeldaLow;
    case kVtn3300:
      return kVtn3300Low;
    case kOko:
      return kOkoLow;
    default:
      return {};
  }
}

int BoundaryCellCount(int product) {
  return static_cast<int>(BoundaryImageOf(product).size());
}

}  // namespace zolt
