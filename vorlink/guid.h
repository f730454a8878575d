// SPDX-License-Identifier: MIT
// Device-interface class GUIDs and the product table that maps a USB product ID to the class
// under which the probe's driver registers its interface.
#pragma once

#include <cstdint>
#include <optional>
#include <span>
#include <string>

namespace vorlink {

struct Guid {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];

  friend bool operator==(const Guid&, const Guid&) = default;
};

// "{6AA0659D-4C31-4680-B71B-817A4FDF3949}"
std::string FormatGuid(const Guid& guid);

struct ProductGuidRow {
  uint16_t productId;  // 0 ends the table
  Guid classGuid;
};

// The constant table, ending row included. Never changes; any thread.
std::span<const ProductGuidRow> ProductGuidTable();

// Scans the table in order for `productId` (only its low 16 bits count) up to the ending row.
// Any thread; never blocks. Empty when the product has no row.
std::optional<Guid> LookUpProductGuid(int productId);

// The reverse: which product a class GUID stands for (transports that enumerate by USB IDs use
// it). Empty for a GUID that is not in the table.
std::optional<uint16_t> LookUpGuidProduct(const Guid& classGuid);

}  // namespace vorlink
