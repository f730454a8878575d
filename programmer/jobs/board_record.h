// SPDX-License-Identifier: MIT
// BoardRecord: what the programmer knows of one board it programmed, for the station's history
// (one JSON line when the board starts and one when it ends) and for a normal run's --history.
//
// Threads: a plain value; no operation blocks or fails.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

namespace zolt {

struct BoardImage {
  int slot = 0;            // 0..2: "Image File #1".."#3"
  std::string path;        // the full path as chosen
  std::string place;       // "block 3" (NAND, or NOR with the block text), "offset 0x00010000" for NOR
  uint64_t size = 0;       // bytes of the file when it was opened for this board
  uint32_t crc32 = 0;      // CRC-32 (IEEE) of the bytes written to the probe as data
  uint64_t sentBytes = 0;  // bytes of this file sent to the probe
  bool ok = false;         // the file went out whole and the probe accepted it
};

struct BoardRecord {
  uint64_t sequence = 0;   // 1, 2, ... in the order boards were found, per station (or run)
  std::string startedUtc;  // ISO 8601 UTC with milliseconds: "2026-12-10T20:41:07.123Z"
  std::string endedUtc;    // "" while the board is in progress
  int device = -1;         // device index 0..15: the fixture
  std::string location;    // "usb:1-2.4", "bench:b3", "unknown"
  std::string product;     // "TARVIS", "KELDA", ...
  uint32_t jtagId = 0;     // the JTAG ID the board answered
  uint16_t makerId = 0;    // the flash's IDs as read (0 when never read)
  uint16_t deviceId = 0;
  std::string flashPart;  // NAND part name from the NAND table, or the NOR type's log name
  std::vector<BoardImage> images;
  uint64_t bytesSent = 0;
  double seconds = 0;                     // from the board's start to its end
  std::string result;                     // "" while in progress; "ok", "failed" or "stopped" at the end
  std::vector<std::string> failureTexts;  // the boxes and error lines of this board, in order
  std::string version;                    // the programmer's version
  std::string host;                       // the host name
};

// Where records go. The station calls it from the threads that start and end boards (several at
// once); an implementation serialises its own writes. Blocking: for the write (and its fsync).
class BoardHistory {
 public:
  virtual ~BoardHistory() = default;
  // Appends the record as a "started" line (`ended` false) or an "ended" line. False, with the
  // cause in `error` (file and errno text), when the line could not be written whole and synced.
  virtual bool Append(const BoardRecord& record, bool ended, std::string* error) = 0;
};

}  // namespace zolt
