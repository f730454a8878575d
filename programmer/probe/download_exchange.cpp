// SPDX-License-Identifier: MIT
// DownloadDataInfo with its flash erase response, and the reports of the download error codes.
#include "probe/download_exchange.h"

#include <cstdio>
#include <cstring>

#include "probe/byte_order.h"
#include "probe/exchange.h"
#include "probe/probe_commands.h"

namespace zolt {
namespace {

constexpr uint8_t kDownloadDataInfoCode = 0x18;
constexpr uint8_t kDownloadDataInfoTag = 0x41;  // the letter A
constexpr char kDownloadDataInfoText[] = "USBJTAG DownloadCmd";
static_assert(16 + sizeof kDownloadDataInfoText == kDownloadDataInfoLength);

struct ErrorReport {
  uint8_t code;
  const char* box;
  const char* log;
  bool hasAddress;
};

constexpr ErrorReport kErrorReports[] = {
    {0x52, "ERASE ERROR", "\r\n  DEVICE #%d: ERASE ERROR, ADDR: 0x%08x\r\n", true},
    {0x53, "ERASE ERROR", "\r\n  DEVICE #%d: ERROR, Not aligned Sector boundary\r\n", false},
    {0x54, "ERASE ERROR", "\r\n  DEVICE #%d: Overflow of flash size\r\n", false},
    {0x55, "WRITE ERROR", "\r\n  DEVICE #%d: WRITE ERROR, ADDR: 0x%08x\r\n", true},
    {0x56, "VERIFY ERROR", "\r\n  DEVICE #%d: VERIFY ERROR, ADDR: 0x%08x\r\n", true},
    {0x57, "ERASE ERROR", "\r\n  DEVICE #%d: ERASE ERROR, ADDR: 0x%08x\r\n", true},
    {0x58, "WRITE ERROR", "\r\n  DEVICE #%d: WRITE ERROR, ADDR: 0x%08x\r\n", true},
    {0x59, "READ ERROR", "\r\n  DEVICE #%d: READ ADDR: 0x%08x\r\n", true},
};

}  // namespace

void BuildDownloadDataInfo(const DownloadDataInfo& info, uint8_t* buffer) {
  buffer[0] = kDownloadDataInfoCode;
  buffer[1] = kDownloadDataInfoTag;
  buffer[2] = info.flashTypeCode;
  PutLe32(buffer + 3, info.norOffset);
  PutLe32(buffer + 7, info.block);
  PutLe32(buffer + 11, info.fileSize);
  buffer[15] = info.verify ? 1 : 0;
  std::memcpy(buffer + 16, kDownloadDataInfoText, sizeof kDownloadDataInfoText);  // with its zero
}

const char* ReportDownloadError(RunView& op, const uint8_t* response, int device) {
  for (const ErrorReport& report : kErrorReports) {
    if (report.code != response[0]) continue;
    op.ShowMessage(report.box);
    char line[96];
    if (report.hasAddress) {
      std::snprintf(line, sizeof line, report.log, device, GetLe32(response + 1));
    } else {
      std::snprintf(line, sizeof line, report.log, device);
    }
    op.Append(line);
    return report.box;
  }
  op.ShowMessage("Unknow Download Response");
  return "Unknow Download Response";
}

CommandResult ProbeCommands::AnnounceDownload(int device, const DownloadDataInfo& info,
                                              uint8_t* buffer) const {
  BuildDownloadDataInfo(info, buffer);
  if (!WriteCommand(link_, device, buffer, kDownloadDataInfoLength)) {
    return ShowFailure(op_, CommandStep::kWrite, "Cannot Write 'Download Data Info' Command");
  }
  // The probe erases before it answers, hence the long wait; a missing answer is logged, not boxed.
  if (!ReadResponse(link_, device, buffer, kDownloadResponseLength, kEraseResponseTimeoutMs)) {
    constexpr const char* kNoErase = "Cannot Read 'Flash Erase' Response";
    op_.Append(kNoErase);
    return CommandResult::Failed(CommandStep::kRead, kNoErase);
  }
  if (buffer[0] != kProbeAck) {
    return CommandResult::Failed(CommandStep::kAnswer, ReportDownloadError(op_, buffer, device));
  }
  return CommandResult::Ok();
}

}  // namespace zolt
