// SPDX-License-Identifier: MIT
#include "flash_parts.h"

#include <algorithm>

namespace probesim {
namespace {

constexpr uint32_t KiB = 1024;
constexpr uint32_t MiB = 1024 * 1024;

const std::vector<NorPart>& NorParts() {
  // Typical datasheet figures: word/byte program about 8 us, sector erase 0.1 s to 0.7 s.
  static const std::vector<NorPart> parts = {
      {"EN29LV010A",    1,        0x1C,  0x6E,  0, 0, 0,    0,     0,      128 * KiB,
       {{8, 16 * KiB}}, 16 * KiB, 0x555, 0x2AA, 0, 0, 0x30, false, 100000, 8},
      {"EN29LV040A",    1,        0x1C,  0x4F,  0, 0, 0,    0,     0,      512 * KiB,
       {{8, 64 * KiB}}, 64 * KiB, 0x555, 0x2AA, 0, 0, 0x30, false, 500000, 8},
      {"AM29LV040B",    1,        0x01,  0x4F,  0, 0, 0,    0,     0,      512 * KiB,
       {{8, 64 * KiB}}, 64 * KiB, 0x555, 0x2AA, 0, 0, 0x30, false, 700000, 8},
      {"S29AL004D",
       3,
       0x01,
       0xB9,
       0x22B9,
       0xBA,
       0x22BA,
       0,
       0,
       512 * KiB,
       {{7, 64 * KiB}, {1, 32 * KiB}, {2, 8 * KiB}, {1, 16 * KiB}},
       64 * KiB,
       0xAAA,
       0x555,
       0x555,
       0x2AA,
       0x30,
       false,
       700000,
       8},
      {"S29AL008D",
       3,
       0x01,
       0xDA,
       0x22DA,
       0x5B,
       0x225B,
       0,
       0,
       1 * MiB,
       {{15, 64 * KiB}, {1, 32 * KiB}, {2, 8 * KiB}, {1, 16 * KiB}},
       64 * KiB,
       0xAAA,
       0x555,
       0x555,
       0x2AA,
       0x30,
       false,
       700000,
       8},
      {"S29GL064M",       2,        0x01, 0, 0x227E, 0,     0,    0x2210, 0x2200, 8 * MiB,
       {{128, 64 * KiB}}, 64 * KiB, 0,    0, 0x555,  0x2AA, 0x30, true,   500000, 8},
      {"S29GL128N",        2,         0x01, 0, 0x227E, 0,     0,    0x2221, 0x2201, 16 * MiB,
       {{128, 128 * KiB}}, 128 * KiB, 0,    0, 0x555,  0x2AA, 0x30, true,   500000, 8},
      {"K8D6316", 2, 0xEC, 0,     0x22E2, 0,    0,    0,      0, 8 * MiB, {{127, 64 * KiB}, {8, 8 * KiB}},
       64 * KiB,  0, 0,    0x555, 0x2AA,  0x30, true, 700000, 8},
      {"SST39VF6401",     2,        0xBF, 0, 0x236B, 0,      0,    0,    0,     8 * MiB,
       {{128, 64 * KiB}}, 64 * KiB, 0,    0, 0x5555, 0x2AAA, 0x50, true, 18000, 7},
  };
  return parts;
}

const std::vector<NandPart>& NandParts() {
  static const std::vector<NandPart> parts = {
      {"K9F5608", 0xEC, 0x75, 0x00A5, 0x00BD, 32ull * MiB, 512, 16 * KiB, 16},
      {"K9F1208", 0xEC, 0x76, 0x005A, 0x003F, 64ull * MiB, 512, 16 * KiB, 16},
      {"K9F1G08", 0xEC, 0xF1, 0x0000, 0x0095, 128ull * MiB, 2 * KiB, 128 * KiB, 64},
      {"K9F2G08", 0xEC, 0xDA, 0x0010, 0x0095, 256ull * MiB, 2 * KiB, 128 * KiB, 64},
      {"K9F4G08", 0xEC, 0xDC, 0x0010, 0x0095, 512ull * MiB, 2 * KiB, 128 * KiB, 64},
      {"K9K8G08", 0xEC, 0xD3, 0x0051, 0x0095, 1024ull * MiB, 2 * KiB, 128 * KiB, 64},
  };
  return parts;
}

}  // namespace

const NorPart* NorPartByName(std::string_view name) {
  if (name == "S29GL128M") name = "S29GL128N";
  for (const NorPart& p : NorParts()) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

const NandPart* NandPartByName(std::string_view name) {
  for (const NandPart& p : NandParts()) {
    if (name == p.name) return &p;
  }
  return nullptr;
}

std::vector<std::string_view> NorPartNames() {
  std::vector<std::string_view> names;
  for (const NorPart& p : NorParts()) names.emplace_back(p.name);
  return names;
}

std::vector<std::string_view> NandPartNames() {
  std::vector<std::string_view> names;
  for (const NandPart& p : NandParts()) names.emplace_back(p.name);
  return names;
}

std::vector<Region> NorBoard::Regions() const {
  std::vector<Region> regions = part->topLayout;
  if (bottomBoot) std::reverse(regions.begin(), regions.end());
  for (Region& r : regions) r.size *= static_cast<unsigned>(interleave);
  return regions;
}

std::vector<uint64_t> NorBoard::SectorStarts() const {
  std::vector<uint64_t> starts;
  uint64_t at = 0;
  for (const Region& r : Regions()) {
    for (uint32_t i = 0; i < r.count; ++i) {
      starts.push_back(at);
      at += r.size;
    }
  }
  starts.push_back(at);
  return starts;
}

namespace {
// An 8-bit device answers on its byte lane; two side by side answer on both.
uint16_t Lanes(const NorBoard& b, uint16_t value8) {
  return b.interleave == 2 ? static_cast<uint16_t>(value8 | (value8 << 8)) : value8;
}
}  // namespace

uint16_t NorBoard::MakerWord() const {
  return width == 8 ? Lanes(*this, part->maker) : part->maker;
}

uint16_t NorBoard::DeviceWord() const {
  if (width == 8) return Lanes(*this, bottomBoot ? part->deviceBottom8 : part->deviceTop8);
  return bottomBoot ? part->deviceBottom16 : part->deviceTop16;
}

uint16_t NorBoard::ThirdWord() const {
  return width == 16 ? part->third : 0;
}
uint16_t NorBoard::FourthWord() const {
  return width == 16 ? part->fourth : 0;
}

}  // namespace probesim
