// SPDX-License-Identifier: MIT
// RunRequest: everything a run takes from the front end's settings, built by the front end when
// RUN is pressed and handed to RunControl::OnRun. Run control copies it before any job starts, so
// the jobs read it on their own threads without asking the front end.
//
// Two settings are not part of it because the jobs must see them live: the Verify box (read when
// each file is announced; RunControl::SetVerify) and the stop request (RunControl::RequestStop).
//
// Threads: a plain value; no operation blocks or fails.
#pragma once

#include <array>
#include <cstdint>
#include <string>

#include "core/text_numbers.h"

namespace zolt {

enum class FlashType { kNone, kNand, kNor };

struct ImageSlot {
  bool enabled = false;
  std::string path;       // the full path chosen, in the file functions' encoding; "" if none
  std::string blockText;  // the "Blk No" text as typed
};

struct RunRequest {
  int productIndex = 0;  // row of the Products list: 0 TARVIS, 1 KELDA, 2 VTN3300, 3 OKO, 4 SOLANT
  FlashType flashType = FlashType::kNor;
  int norType = 0;               // 0..8
  int width = 8;                 // 8 or 16
  int interleave = 1;            // 1 or 2
  std::string offsetText = "0";  // the NOR offset text as typed (hexadecimal)
  std::array<ImageSlot, 3> images{};
  bool multiDevice = true;
  bool pinToggle = false;
  int intervalMs = 100;  // 1..500

  // The offset text read as hexadecimal.
  uint32_t Offset() const { return ParseUnsignedText(offsetText, 16); }
  // The block text's leading decimal digits; 0 for a slot outside 0..2.
  uint32_t Block(int slot) const {
    return slot >= 0 && slot < 3 ? ParseUnsignedText(images[static_cast<size_t>(slot)].blockText, 10) : 0;
  }
};

}  // namespace zolt
