// SPDX-License-Identifier: MIT
// ReadFlashId and the NOR acceptance rule.
#include "probe/flash_id.h"

#include "probe/byte_order.h"
#include "probe/exchange.h"
#include "probe/probe_commands.h"

namespace zolt {
namespace {

constexpr uint8_t kReadFlashIdCode = 0x14;
constexpr int kFlashIdRequestLength = 5;
constexpr int kFlashIdReplyLength = 8;

// The NOR type table's EN29LV010A row expects device ID 0x6F (0x6F6F side by side), while the
// part answers 0x6E, as the flash geometry table and the TARVIS check know it. The record keeps
// its bytes (the probe may rely on them); the ID check takes the part's real answer as well.
bool AlsoAcceptedNorId(int norType, uint16_t expected, uint16_t deviceId) {
  if (norType != kEn29lv010a) return false;
  return (expected == 0x6F && deviceId == 0x6E) || (expected == 0x6F6F && deviceId == 0x6E6E);
}

}  // namespace

FlashIdReply DecodeFlashIdReply(const uint8_t* reply) {
  return FlashIdReply{GetLe16(reply), GetLe16(reply + 2), GetLe16(reply + 4), GetLe16(reply + 6)};
}

bool NorFlashAccepted(int norType, int product, const FlashInfo& info, const FlashIdReply& reply) {
  uint16_t expected = FlashInfoDeviceId(info);
  bool accepted = true;
  if (product == kTarvis) {
    accepted = reply.makerId == 0x1C && (reply.deviceId == 0x6E || reply.deviceId == 0x4F);
    expected = reply.deviceId;
  }
  const uint8_t low = static_cast<uint8_t>(reply.deviceId & 0xFF);
  if (norType == kS29al004d) return accepted && (low == 0xB9 || low == 0xBA);
  if (norType == kS29al008d) return accepted && (low == 0xDA || low == 0x5B);
  if (norType < 0 || norType >= kNorTypeCount) return false;
  return accepted && (reply.deviceId == expected || AlsoAcceptedNorId(norType, expected, reply.deviceId));
}

CommandResult ProbeCommands::ReadFlashId(int device, const FlashIdRequest& request,
                                         FlashIdReply* reply) const {
  uint8_t buffer[kFlashIdReplyLength] = {kReadFlashIdCode, request.flashTypeCode, request.norType,
                                         request.norWidth, request.norInterleave};
  static_assert(kFlashIdRequestLength <= kFlashIdReplyLength);
  CommandResult result =
      RunExchange(link_, op_, device, buffer, kFlashIdRequestLength, kFlashIdReplyLength, false,
                  {"Cannot Write 'Read FLash ID' Command", "Cannot Read 'Read Flash ID' Response"});
  if (result.ok() && reply != nullptr) *reply = DecodeFlashIdReply(buffer);
  return result;
}

}  // namespace zolt
