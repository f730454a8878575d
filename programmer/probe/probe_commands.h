// SPDX-License-Identifier: MIT
// The probe command protocol: one Write of a command and one Read of its response per command,
// on one device index, each with the 500 ms command time-out unless it says otherwise. Every
// function returns a CommandResult (ReadJtagId returns the ID, 0 on failure), keeps no state, never
// retries, and shows its failure texts (where it has any) through RunView::ShowMessage on the
// calling thread before it returns; the result carries the text it showed.
//
// Common to every command below:
//  - Blocks: up to 500 ms in Write plus up to 500 ms in Read, plus as long as the operator takes
//    to acknowledge a failure box. ConfigDebugMode chains up to six exchanges.
//  - Threads: any; several threads may run commands at once on different device indices. Calls
//    for one device index must not overlap (the link library does not serialise transfers).
//  - A transfer is judged by the link's result alone; the transferred count is never looked at.
//    A link entry left null by a failed bind counts as a failed transfer, never as a call.
//  - Where a command checks the response's byte 0 for the acknowledgement "Q", a failed Read
//    fails the command even if bytes arrived. Failure texts are given per command; "-" means the
//    command shows nothing and leaves the report to its caller's log line.
//  - The probe must have been opened (OpenDevice) by the caller; no command opens or closes it.
//
// A ProbeCommands object holds only references (to the link's entries and to the operator),
// which must outlive it; jobs construct or share one freely.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "core/run_view.h"
#include "probe/command_result.h"
#include "probe/download_exchange.h"
#include "probe/flash_id.h"
#include "probe/probe_link.h"
#include "probe/records.h"

namespace zolt {

class ProbeCommands {
 public:
  ProbeCommands(const ProbeLink& link, RunView& op) : link_(link), op_(op) {}

  // ---- Basic probe commands --------------------------------------------------------------
  // 0x01 / 0x02, 5 bytes out, 5 in, response not examined.
  // Texts: "Cannot Write 'JTAG Reset' Command", "Cannot Read 'JTAG Reset' Response" (and the same
  // with 'JTAG Test Logic Reset').
  CommandResult JtagReset(int device) const;
  CommandResult JtagTestLogicReset(int device) const;
  // 0x98 with its request text (45 bytes), 22 in. Fails when the reply does not begin with
  // "ZOLT USB JTAG". On success `version` (at least 6 characters) receives the text from reply
  // byte 17, at most 5 characters plus terminator; left unchanged on failure.
  // Texts: "Cannot Write 'GET Firmware Version' Command", "Cannot Read 'Get Firmware Version'
  // Response", prefix mismatch "Cannot Get Valid Firmware Version".
  CommandResult GetFirmwareVersion(int device, char* version) const;
  // 0x08 (1 byte), 33 in. Fails when the reply does not begin with "ZOLT USB_ISP Bootloader Ver";
  // `version` as above, from reply byte 28.
  // Texts: "Cannot Write 'GET BootloaderFirmware Version' Command", "Cannot Read 'Get
  // BootloaderFirmware Version' Response", prefix mismatch "-".
  CommandResult GetBootloaderVersion(int device, char* version) const;
  // 0x11 with the 4 `param` bytes (null: zeros), 32 in, one ID bit per byte in bit 0, byte k
  // giving bit k. Returns the ID; 0 on failure (never -1).
  // Texts: "Cannot Write 'JTAG ID' Command", "Cannot Read 'JTAG ID' Response".
  uint32_t ReadJtagId(int device, const uint8_t param[4]) const;
  // 0x03 with `jtagType` in parameter byte 1; succeeds on "Q". Texts: "-".
  CommandResult SetJtagType(int device, uint8_t jtagType) const;

  // ---- Target debug and flash set-up -----------------------------------------------------
  // 0x05, 16-bit bit count n, n bytes of 0 or 1 in shift order; response not examined. n above
  // 13 (or negative) is refused unsent with -1 and no text.
  // Texts: "Cannot Write 'SET JTAG DR' Command", "Cannot Read 'SET JTAG DR' Response".
  CommandResult SetJtagDr(int device, const uint8_t* bits, int bitCount) const;
  // 0x06 with the address; the word arrives in response bytes 1-4 and is stored through `data`
  // only on success. Texts: "Cannot Write 'DEBUG BUS Word Write' Command", "Cannot Read 'DEBUG
  // BUS Word Write' Response" (the probe's texts name the write command for both).
  CommandResult DebugBusReadWord(int device, uint32_t address, uint32_t* data) const;
  // 0x07, address, data (9 bytes); succeeds on "Q".
  // Texts: "Cannot Write 'DEBUG BUS Word Write' Command", failed read or no "Q": "Cannot Read
  // Word Data".
  CommandResult DebugBusWriteWord(int device, uint32_t address, uint32_t data) const;
  // Three scans, then for TARVIS the flash configuration register 0x80000410 := 0x5550 and for
  // SOLANT (debug switch at 0x80020004 bit 5 must be off) 0x80000400 := 0x2220, each read back.
  // Any other product: -1 after the scans, no text. Only the word read back decides.
  // Texts: those of the scans and word commands, "Cannot Write flash cfg reg [0x%X]", "Cannot go
  // into debugging mode. \nPlease turn off the debug switch.", "Cannot Write flash config
  // register to SOLANT".
  CommandResult ConfigDebugMode(int device, int product) const;
  // 0x15 / 0x16, the flash type code, the 16-bit record length and the record; succeed on "Q".
  // Texts: "Cannot Write 'SET FLASH INFO' Command", "Cannot Read 'SET FLASH INFO' Response",
  // "ERROR, 'SET FLASH INFO' Response"; "Cannot Write 'SET FLASH CFI' Command", "Cannot Read
  // 'SET FLASH CFI' Response", "ERROR, Read FLASH CFI".
  CommandResult SetFlashInfo(int device, const FlashInfo& info, uint8_t flashTypeCode) const;
  CommandResult SetFlashCfi(int device, const FlashCfi& cfi, uint8_t flashTypeCode) const;

  // ---- Boundary scan ------------------------------------------------------------------------
  // 0x04 with parameter bytes 00 00 00 00 (SetExtest) or 01 00 00 01 (SetExtestDebug); response
  // not examined. Texts: "-".
  CommandResult SetExtest(int device) const;
  CommandResult SetExtestDebug(int device) const;
  // 0x12, 16-bit length, the image (at most 645 bytes; longer or negative is refused unsent);
  // succeeds on "Q". Texts: "-".
  CommandResult InitBoundaryData(int device, const uint8_t* image, int length) const;
  // 0x13, length 216, the pin map; succeeds on "Q". Texts: "-".
  CommandResult SetConfigBoundary(int device, const BoundaryPinMap& map) const;
  // 0x20 / 0x21, 16-bit length, the first `length` cells of the product's high / low pattern;
  // succeed on "Q". Only KELDA, VTN3300 and OKO have patterns: any other product, and a length
  // above the product's cell count (or negative), is refused unsent with -1 and no text.
  // Texts: "Cannot Write 'SET HIGH Boundary' Command", "Cannot Read 'SET HIGH Bounary' Response"
  // (sic) for a failed read or no "Q"; the same with LOW for SetLowBoundary.
  CommandResult SetHighBoundary(int device, int product, int length) const;
  CommandResult SetLowBoundary(int device, int product, int length) const;
  // 0x22 / 0x23 (1 byte): drive the loaded high / low pattern; succeed on "Q". Both show the low
  // pattern's texts: "Cannot Write 'SET LOW Boundary' Command", "Cannot Read 'SET LOW Bounary'
  // Response".
  CommandResult ApplyHighBoundary(int device) const;
  CommandResult ApplyLowBoundary(int device) const;

  // ---- Flash identification and download announcement --------------------------------------
  // 0x14, flash type code, NOR type, width, interleave (5 bytes), 8 in: four 16-bit words, decoded
  // into `reply` only on success. The reply carries no acknowledgement.
  // Texts: "Cannot Write 'Read FLash ID' Command", "Cannot Read 'Read Flash ID' Response".
  CommandResult ReadFlashId(int device, const FlashIdRequest& request, FlashIdReply* reply) const;
  // 0x18, the 36-byte DownloadDataInfo, then the flash erase response (5 bytes, 10 s time-out),
  // which must be the acknowledgement. `buffer` (at least 36 bytes, the job's command buffer) holds
  // the command and then the response.
  // Texts: box "Cannot Write 'Download Data Info' Command"; no erase response: the log text
  // "Cannot Read 'Flash Erase' Response" (no line end); any other answer: ReportDownloadError's
  // box and log line (the finished code included), the result carrying the box text.
  CommandResult AnnounceDownload(int device, const DownloadDataInfo& info, uint8_t* buffer) const;

  const ProbeLink& link() const { return link_; }
  RunView& op() const { return op_; }

 private:
  const ProbeLink& link_;
  RunView& op_;
};

}  // namespace zolt
