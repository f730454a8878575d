// SPDX-License-Identifier: MIT
// Download settings for the fuzz harnesses, chosen by the input's first bytes the way run control
// would leave them for one product, flash type and NOR setting.
#pragma once

#include <cstdint>

#include "jobs/job_context.h"
#include "jobs/run_settings.h"
#include "probe/nor_type_table.h"
#include "probe/products.h"

namespace zolt::fuzz {

// Takes up to two setting bytes from the front of the input: product, then flash type (bit 0),
// NOR type (bits 1-4, modulo 9), width (bit 5) and interleave (bit 6). SOLANT is always NOR, as
// the dialog allows only NOR for it. Returns how many bytes it took.
inline size_t ChooseSettings(const uint8_t* data, size_t size, JobContext& ctx) {
  const uint8_t productByte = size > 0 ? data[0] : 1;
  const uint8_t flashByte = size > 1 ? data[1] : 0;
  const int product = productByte % kProductCount;
  const bool nand = (flashByte & 1) != 0 && product != kSolant;
  RunRequest& r = ctx.request;
  r.productIndex = product;
  r.flashType = nand ? FlashType::kNand : FlashType::kNor;
  r.norType = ((flashByte >> 1) & 0x0F) % kNorTypeCount;
  r.width = (flashByte & 0x20) != 0 ? 16 : 8;
  r.interleave = (flashByte & 0x40) != 0 ? 2 : 1;
  r.offsetText = "0";
  FillProductSettings(ctx.settings, kProducts[product]);
  FillDownloadSettings(ctx.settings, r);
  return size < 2 ? size : 2;
}

}  // namespace zolt::fuzz
