// SPDX-License-Identifier: MIT
#include "guid.h"

#include <array>
#include <cstdio>

namespace vorlink {

namespace {

constexpr std::array<ProductGuidRow, 8> kProductGuidTable{{
    {0x11, {0xB35924D6, 0x3E16, 0x4A9E, {0x97, 0x82, 0x55, 0x24, 0xA4, 0xB7, 0x9B, 0xAC}}},
    {0x12, {0x82E638D8, 0xEDD9, 0x4627, {0xAE, 0x56, 0xF4, 0x90, 0x9D, 0x5C, 0x06, 0x6C}}},
    {0x13, {0x28861AD3, 0xF890, 0x4908, {0x94, 0xF9, 0xE6, 0x2D, 0x85, 0x29, 0x32, 0xC8}}},
    {0x14, {0x43C8AE11, 0xDC07, 0x47CA, {0x83, 0x01, 0xDD, 0xC0, 0x28, 0x2B, 0x7E, 0x0C}}},
    {0x15, {0x5894DD43, 0x73A4, 0x4385, {0xB3, 0x63, 0x0C, 0x59, 0x1C, 0xAE, 0x42, 0x97}}},
    {0x16, {0x6AA0659D, 0x4C31, 0x4680, {0xB7, 0x1B, 0x81, 0x7A, 0x4F, 0xDF, 0x39, 0x49}}},
    {0x17, {0x7665EEE0, 0xF3AA, 0x4B8C, {0xBD, 0x2C, 0xFD, 0xAF, 0xBA, 0xFC, 0xE3, 0x0F}}},
    {0, {}},
}};

}  // namespace

std::string FormatGuid(const Guid& g) {
  char text[40];
  std::snprintf(text, sizeof text, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}", g.data1, g.data2,
                g.data3, g.data4[0], g.data4[1], g.data4[2], g.data4[3], g.data4[4], g.data4[5], g.data4[6],
                g.data4[7]);
  return text;
}

std::span<const ProductGuidRow> ProductGuidTable() {
  return kProductGuidTable;
}

std::optional<Guid> LookUpProductGuid(int productId) {
  const auto wanted = static_cast<uint16_t>(productId & 0xFFFF);
  for (const ProductGuidRow& row : kProductGuidTable) {
    if (row.productId == 0) break;
    if (row.productId == wanted) return row.classGuid;
  }
  return std::nullopt;
}

std::optional<uint16_t> LookUpGuidProduct(const Guid& classGuid) {
  for (const ProductGuidRow& row : kProductGuidTable) {
    if (row.productId == 0) break;
    if (row.classGuid == classGuid) return row.productId;
  }
  return std::nullopt;
}

}  // namespace vorlink
