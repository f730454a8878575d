// SPDX-License-Identifier: MIT
// NAND identification: the NAND table that describes a flash by its ID, a step of the download
// job. Runs on the calling job's thread and does no probe I/O.
#pragma once

#include <cstdint>

#include "core/run_view.h"
#include "probe/download_exchange.h"
#include "probe/flash_id.h"
#include "probe/records.h"

namespace zolt {

// Writes maker ID, device ID, total size, page size, block size and spare size into `info`
// (other bytes untouched) and logs " %s, Block Size: 0x%X\r\n"; returns 0. For a device ID not in
// the NAND table (compared as the full 16-bit word) logs "  Unknown NAND Flash ID !\r\n" and
// returns -1. Never blocks on the operator.
int IdentifyNand(RunView& op, FlashInfo& info, const FlashIdReply& reply);

// The NAND table's part name for a device ID ("5608"), "" for an ID not in the table.
const char* NandPartName(uint16_t deviceId);

}  // namespace zolt
