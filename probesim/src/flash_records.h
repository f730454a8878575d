// SPDX-License-Identifier: MIT
// Whether the records a host sends (SetFlashInfo, SetFlashCfi) describe the flash on the board, as
// the probe firmware needs them to drive it.
#pragma once

#include <cstdint>
#include <span>

#include "flash_parts.h"

namespace probesim {

// A NOR FlashInfo: width, interleave, bus width fields, base address in the chip-select region,
// and the unlock sequence and commands the devices take (only the data bits the devices see).
bool NorInfoDescribes(std::span<const uint8_t, 64> info, const NorBoard& board, int chipSelect);
// A NAND FlashInfo: maker and device ID, total, page, block and spare sizes.
bool NandInfoDescribes(std::span<const uint8_t, 64> info, const NandPart& part);

enum class CfiVerdict { kQueryPart, kLayoutGiven, kWrong };
// All zero: the probe queries a CFI part itself; "QRY" with the board's size and regions: used.
CfiVerdict JudgeFlashCfi(std::span<const uint8_t, 36> cfi, const NorBoard& board);

}  // namespace probesim
