// SPDX-License-Identifier: MIT
// The download exchange's record and responses: DownloadDataInfo (code 0x18), which announces one
// image file, the 5-byte download responses (the flash erase response and the block responses)
// and their time-outs, and the reports of the probe's error codes.
#pragma once

#include <cstdint>

#include "core/run_view.h"

namespace zolt {

// What DownloadDataInfo announces.
struct DownloadDataInfo {
  uint8_t flashTypeCode = 0;
  uint32_t norOffset = 0;  // also in NAND runs
  uint32_t block = 0;
  uint32_t fileSize = 0;
  bool verify = false;  // the Verify box as the file is announced
};

inline constexpr int kDownloadDataInfoLength = 36;
inline constexpr int kDownloadResponseLength = 5;
inline constexpr int kEraseResponseTimeoutMs = 10000;
inline constexpr int kDataChunkTimeoutMs = 7000;
inline constexpr int kBlockResponseTimeoutMs = 14000;
// Byte 0 of a download response: the probe has finished with the file.
inline constexpr uint8_t kDownloadFinished = 0x60;

// Fills the first 36 bytes of `buffer` with the announcement.
void BuildDownloadDataInfo(const DownloadDataInfo& info, uint8_t* buffer);

// For a download response (5 bytes) that is neither the acknowledgement nor handled otherwise:
// shows the code's message box (blocks until acknowledged), then appends the code's log line
// naming `device` and, for the codes that carry one, the address in bytes 1-4. Unknown codes show
// "Unknow Download Response" and log nothing. Returns the message box text. Any thread.
const char* ReportDownloadError(RunView& op, const uint8_t* response, int device);

}  // namespace zolt
