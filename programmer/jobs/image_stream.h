// SPDX-License-Identifier: MIT
// Streaming one image file into a target's flash through one probe: DownloadDataInfo, the flash
// erase response, 64-byte data chunks with a block response every 2048 bytes and after the last
// chunk, stop markers while a stop is requested, progress after every chunk. With
// ctx.transfersInFlight and the link's WriteChunks bound, each block's full chunks go out in flight
// through WriteChunks (the same chunks, bytes and order on the wire) and progress moves per block.
#pragma once

#include <cstdint>
#include <string>

#include "jobs/flash_ranges.h"
#include "jobs/job_context.h"

namespace zolt {

enum class StreamOutcome {
  kDone,             // the file went out (or the probe ended it with the finished code)
  kNotOpened,        // the file could not be opened; logged "Cannot open '%s'"
  kFailed,           // the file failed; its failure was shown or logged
  kNoFirstResponse,  // no flash erase response; logged "Cannot Read 'Flash Erase' Response"
};

struct StreamRequest {
  int device = 0;
  int file = 0;  // 0, 1 or 2 for image files #1..#3
  std::string path;
  uint32_t block = 0;
  uint32_t jobStartMs = 0;  // tick count taken before the job opened its probe
  // The blocks earlier files of the job claimed; a file whose erase would reach one is refused
  // before it is announced. Null: nothing is checked.
  const WrittenRanges* written = nullptr;
};

struct StreamResult {
  StreamOutcome outcome = StreamOutcome::kNotOpened;
  uint64_t fileSize = 0;
  uint64_t sentBytes = 0;
  uint32_t crc32 = 0;       // of the bytes written as data; only with `withCrc`
  std::string failureText;  // the text that reported a failure or a missing response
  bool announced = false;   // DownloadDataInfo went out: the probe may have erased the file's blocks
  bool stopMarked = false;  // a stop marker went out in place of file data: the flash is not the image
};

// Streams one file on the calling job's thread. `op` receives every log line, message box and
// progress update; `command` is the job's 64-byte command buffer. Blocks for the whole transfer
// (time-outs: 500 ms for DownloadDataInfo, 10 s for the erase response, 7 s per chunk, 14 s per
// block response) and while a message box it shows is open. Reads ctx.stopRequested at the first
// chunk of every 2048-byte block. Files are read with POSIX open/fstat/read, 64 KiB ahead;
// a file of 4 GiB or more, one that reads short, or one that overlaps `written` fails. No
// allocation per chunk.
StreamResult StreamImageFile(JobContext& ctx, RunView& op, const StreamRequest& request, uint8_t* command,
                             bool withCrc);

}  // namespace zolt
