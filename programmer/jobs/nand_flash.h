// SPDX-License-Identifier: MIT
// NAND identification and the probe's download error reports: two table-driven steps of the
// download job. Both run on the calling job's thread and do no probe I/O.
#pragma once

#include <cstdint>

#include "core/run_view.h"
#include "probe/records.h"

namespace zolt {

// The 8-byte reply of ReadFlashId (0x14): four little-endian 16-bit words.
struct FlashIdReply {
  uint16_t makerId = 0;
  uint16_t deviceId = 0;
  uint16_t thirdId = 0;
  uint16_t fourthId = 0;  // low byte: the NAND configuration byte (page and block size bits)
};

// Decodes the 8 reply bytes.
FlashIdReply DecodeFlashIdReply(const uint8_t* reply);

// Writes maker ID, device ID, total size, page size, block size and spare size into `info`
// (other bytes untouched) and logs " %s, Block Size: 0x%X\r\n"; returns 0. For a device ID not in
// the NAND table (compared as the full 16-bit word) logs "  Unknown NAND Flash ID !\r\n" and
// returns -1. Never blocks on the operator.
int IdentifyNand(RunView& op, FlashInfo& info, const FlashIdReply& reply);

// The codes of a download response's byte 0.
inline constexpr uint8_t kDownloadFinished = 0x60;

// For a download response (5 bytes) that is neither the acknowledgement nor handled otherwise:
// shows the code's message box (blocks until acknowledged), then appends the code's log line
// naming `device` and, for the codes that carry one, the address in bytes 1-4. Unknown codes show
// "Unknow Download Response" and log nothing. Returns the message box text.
const char* ReportDownloadError(RunView& op, const uint8_t* response, int device);

}  // namespace zolt
