// SPDX-License-Identifier: MIT
// FlashInfo and FlashCfi, byte for byte, against the NOR type and erase-block tables of the
// flash datasheets as the board documentation tabulates them. The tables are kept here as text,
// exactly as documented, and parsed: a slip in the code's own tables cannot be restated here.
#include <gtest/gtest.h>

#include <cstdlib>
#include <sstream>
#include <string>
#include <vector>

#include "probe/records.h"
#include "testing/scripted_link.h"

namespace zolt::testing {
namespace {

// Columns: type | w, i | ID | A | B | unlock addresses | unlock data | erase setup, ID, reset,
// program | buffer write, confirm, chip erase | sector erase | CFI query command | toggle, error
// masks | data mask
// clang-format off
const char* const kNorTable[] = {
    "| EN29LV010A | 8, 1 | 0x6F | 0x100 | 1 | 0x555, 0x2AA | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0 | 0x30 | 0 | 0x44, 0x20 | 0xFF |",
    "| EN29LV010A | 8, 2 | 0x6F6F | 0x200 | 2 | 0xAAA, 0x554 | 0xAAAA, 0x5555 | 0x8080, 0x9090, 0xF0F0, 0xA0A0 | 0 | 0x3030 | 0 | 0x4444, 0x40 | 0xFFFF |",
    "| EN29LV040A | 8, 1 | 0x4F | 0x100 | 1 | 0x555, 0x2AA | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0 | 0x30 | 0 | 0x44, 0x20 | 0xFF |",
    "| EN29LV040A | 8, 2 | 0x4F4F | 0x200 | 2 | 0xAAA, 0x554 | 0xAAAA, 0x5555 | 0x8080, 0x9090, 0xF0F0, 0xA0A0 | 0 | 0x3030 | 0 | 0x4444, 0x40 | 0xFFFF |",
    "| AM29LV040B | 8, 1 | 0x4F | 0 | 1 | 0x555, 0x2AA | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0 | 0x30 | 0 | 0, 0 | 0xFF |",
    "| AM29LV040B | 8, 2 | 0x4F4F | 0 | 2 | 0xAAA, 0x554 | 0xAAAA, 0x5555 | 0x8080, 0x9090, 0xF0F0, 0xA0A0 | 0 | 0x3030 | 0 | 0x4444, 0x2020 | 0xFFFF |",
    "| S29AL0004D | 8, 1 | 0xB9 | 0 | 2 | 0xAAA, 0x555 | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0 | 0x30 | 0 | 0x44, 0x20 | 0xFF |",
    "| S29AL0004D | 16, 1 | 0 | 0 | 1 | 0xAAA, 0x554 | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0 | 0x30 | 0 | 0x44, 0x20 | 0xFFFF |",
    "| S29AL008D | 8, 1 | 0 | 0 | 2 | 0xAAA, 0x555 | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0 | 0x30 | 0 | 0x44, 0x20 | 0xFF |",
    "| S29AL008D | 16, 1 | 0 | 0 | 2 | 0xAAA, 0x554 | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0 | 0x30 | 0 | 0x44, 0x20 | 0xFFFF |",
    "| S29GL064M (CFI) | 16, 1 | 0x227E | 0 | 2 | 0xAAA, 0x554 | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0x25, 0x29, 0x10 | 0x30 | 0x98 | 0x44, 0x20 | 0xFFFF |",
    "| S29GL128M/N (CFI) | 16, 1 | 0x227E | 0 | 2 | 0xAAA, 0x554 | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0x25, 0x29, 0x10 | 0x30 | 0x98 | 0x44, 0x20 | 0xFFFF |",
    "| K8D6316 (CFI) | 16, 1 | 0x22E2 | 0 | 2 | 0xAAA, 0x554 | 0xAA, 0x55 | 0x80, 0x90, 0xF0, 0xA0 | 0x25, 0x29, 0x10 | 0x30 | 0x98 | 0x44, 0x20 | 0xFFFF |",
    "| SST39VF6401 (CFI) | 16, 1 | 0x236B | 0 | 2 | 0xAAAA, 0x5554 | 0xAAAA, 0x5555 | 0x8080, 0x90, 0xF0, 0xA0 | 0 | 0x50 | 0 | 0x44, 0x20 | 0xFFFF |",
};
// clang-format on
const char* const kNorTypeList[] = {"EN29LV010A", "EN29LV040A",  "AM29LV040B", "S29AL0004D", "S29AL008D",
                                    "S29GL064M",  "S29GL128M/N", "K8D6316",    "SST39VF6401"};
constexpr int kAm29lv040b = 2;

std::vector<std::string> Cells(const std::string& row) {
  std::vector<std::string> cells;
  std::stringstream in(row);
  std::string cell;
  std::getline(in, cell, '|');  // before the first bar
  while (std::getline(in, cell, '|')) {
    const size_t b = cell.find_first_not_of(' '), e = cell.find_last_not_of(' ');
    if (b != std::string::npos) cells.push_back(cell.substr(b, e - b + 1));
  }
  return cells;
}

std::vector<unsigned long> Numbers(const std::string& cell) {
  std::vector<unsigned long> out;
  std::stringstream in(cell);
  std::string part;
  while (std::getline(in, part, ',')) out.push_back(std::strtoul(part.c_str(), nullptr, 0));
  return out;
}

void Put16(FlashInfo& r, int at, unsigned long v) {
  r[at] = uint8_t(v);
  r[at + 1] = uint8_t(v >> 8);
}

struct NorRow {
  int type, width, interleave;
  FlashInfo fields{};  // bytes 2..55 as documented, the rest zero
};

std::vector<NorRow> ParseNorTable() {
  std::vector<NorRow> rows;
  for (const char* text : kNorTable) {
    const auto c = Cells(text);
    EXPECT_EQ(c.size(), 13u) << text;
    NorRow row;
    std::string name = c[0];
    const bool cfi = name.size() > 6 && name.substr(name.size() - 5) == "(CFI)";
    if (cfi) name = name.substr(0, name.size() - 6);
    row.type =
        static_cast<int>(std::find(std::begin(kNorTypeList), std::end(kNorTypeList), name) - kNorTypeList);
    const auto wi = Numbers(c[1]);
    row.width = int(wi[0]);
    row.interleave = int(wi[1]);
    Put16(row.fields, 2, Numbers(c[2])[0]);
    Put16(row.fields, 4, Numbers(c[3])[0]);
    Put16(row.fields, 6, Numbers(c[4])[0]);
    if (cfi) {
      const unsigned long query[] = {0xAA, 0x20, 0x22, 0x24, 0x4E, 0x54, 0x58, 0x5A};
      for (int q = 0; q < 8; ++q) Put16(row.fields, 8 + 2 * q, query[q]);
    }
    // The command columns fill offsets 24..55 in order; a lone 0 stands for all its fields.
    const int widths[] = {2, 2, 4, 3, 1, 1, 2, 1};
    int at = 24;
    for (int col = 0; col < 8; ++col) {
      const auto values = Numbers(c[5 + col]);
      for (int k = 0; k < widths[col]; ++k, at += 2)
        Put16(row.fields, at, values.size() == 1 ? values[0] * (k == 0) : values.at(k));
    }
    EXPECT_EQ(at, 56) << text;
    rows.push_back(row);
  }
  return rows;
}

// An input record: every byte 0xCC except the three inputs.
FlashInfo Input(int width, int interleave) {
  FlashInfo r;
  r.fill(0xCC);
  r[kFlashInfoWidthOffset] = uint8_t(width);
  r[kFlashInfoInterleaveOffset] = uint8_t(interleave);
  const uint32_t base = 0x10203040;
  for (int k = 0; k < 4; ++k) r[kFlashInfoBaseOffset + k] = uint8_t(base >> (8 * k));
  return r;
}

std::vector<uint8_t> Bytes(const FlashInfo& r) {
  return {r.begin(), r.end()};
}

TEST(BuildFlashInfo, EveryTypeAtEveryWidthAndInterleave) {
  const auto rows = ParseNorTable();
  ASSERT_EQ(rows.size(), std::size(kNorTable));
  for (int type = 0; type <= 8; ++type) {
    for (int width : {8, 16}) {
      for (int interleave : {1, 2, 3}) {
        SCOPED_TRACE(std::string(kNorTypeList[type]) + " w" + std::to_string(width) + " i" +
                     std::to_string(interleave));
        FlashInfo record = Input(width, interleave);
        const int result = BuildFlashInfo(type, record);
        const NorRow* row = nullptr;
        for (const NorRow& r : rows) {
          if (r.type == type && r.width == width && r.interleave == interleave) row = &r;
        }
        if (row == nullptr && type != kAm29lv040b) {
          EXPECT_EQ(result, -1);
          EXPECT_EQ(Hex(Bytes(record)), Hex(Bytes(Input(width, interleave))));
          continue;
        }
        EXPECT_EQ(result, 0);
        FlashInfo expected = Input(width, interleave);
        // AM29LV040B takes any other combination with every field zero.
        for (int at = 2; at < 56; ++at) expected[at] = row ? row->fields[at] : 0;
        expected[58] = uint8_t(width * interleave);
        expected[59] = uint8_t(width * interleave / 8);
        EXPECT_EQ(Hex(Bytes(record)), Hex(Bytes(expected)));
      }
    }
  }
}

TEST(BuildFlashInfo, RefusesTypesOutsideTheListUntouched) {
  for (int type : {9, 100, -1}) {
    FlashInfo record = Input(8, 1);
    EXPECT_EQ(BuildFlashInfo(type, record), -1);
    EXPECT_EQ(Hex(Bytes(record)), Hex(Bytes(Input(8, 1))));
  }
}

// Columns: low byte of the device ID | total size | regions | blocks per region | block size per region
const char* const kCfiTable[] = {
    "| 0x4F | 512 KiB | 1 | 8 | 64 KiB |",
    "| 0x6E | 128 KiB | 1 | 8 | 16 KiB |",
    "| 0xB9 | 512 KiB | 4 | 7, 1, 2, 1 | 64 KiB, 32 KiB, 8 KiB, 16 KiB |",
    "| 0xBA | 512 KiB | 4 | 1, 2, 1, 7 | 16 KiB, 8 KiB, 32 KiB, 64 KiB |",
    "| 0xDA | 1 MiB | 4 | 15, 1, 2, 1 | 64 KiB, 32 KiB, 8 KiB, 16 KiB |",
    "| 0x5B | 1 MiB | 4 | 1, 2, 1, 15 | 16 KiB, 8 KiB, 32 KiB, 64 KiB |",
};

uint32_t Size(const std::string& text) {
  const unsigned long n = std::strtoul(text.c_str(), nullptr, 10);
  return uint32_t(n * (text.find("MiB") != std::string::npos ? 1024 * 1024 : 1024));
}

std::vector<std::string> Split(const std::string& cell) {
  std::vector<std::string> out;
  std::stringstream in(cell);
  std::string part;
  while (std::getline(in, part, ',')) out.push_back(part);
  return out;
}

TEST(BuildFlashCfi, SixGeometriesAtInterleaveOneAndTwo) {
  for (const char* text : kCfiTable) {
    const auto c = Cells(text);
    for (uint16_t high : {0x00, 0x22}) {
      for (int interleave : {1, 2}) {
        const uint16_t id = uint16_t(high << 8 | Numbers(c[0])[0]);
        SCOPED_TRACE(std::string(text) + " id " + std::to_string(id) + " i" + std::to_string(interleave));
        std::vector<uint8_t> expected(36, 0);
        auto put = [&](int at, uint32_t v, int n) {
          for (int k = 0; k < n; ++k) expected[at + k] = uint8_t(v >> (8 * k));
        };
        expected[0] = 'Q', expected[1] = 'R', expected[2] = 'Y';
        put(4, Size(c[1]) * interleave, 4);
        put(10, uint32_t(Numbers(c[2])[0]), 2);
        const auto blocks = Numbers(c[3]);
        const auto sizes = Split(c[4]);
        for (size_t r = 0; r < blocks.size(); ++r) {
          put(12 + 2 * int(r), uint32_t(blocks[r]), 2);
          put(20 + 4 * int(r), Size(sizes[r].substr(sizes[r].find_first_not_of(' '))) * interleave, 4);
        }
        FlashCfi cfi;
        cfi.fill(0xCC);
        EXPECT_EQ(BuildFlashCfi(interleave, id, cfi), 0);
        EXPECT_EQ(Hex({cfi.begin(), cfi.end()}), Hex(expected));
      }
    }
  }
}

TEST(BuildFlashCfi, UnknownDevicesLeaveOnlyTheQueryLetters) {
  for (uint16_t id : {0x0012, 0x4F00, 0x00FF}) {
    FlashCfi cfi;
    cfi.fill(0xCC);
    EXPECT_EQ(BuildFlashCfi(1, id, cfi), -1);
    std::vector<uint8_t> expected(36, 0);
    expected[0] = 'Q', expected[1] = 'R', expected[2] = 'Y';
    EXPECT_EQ(Hex({cfi.begin(), cfi.end()}), Hex(expected));
  }
}

}  // namespace
}  // namespace zolt::testing
