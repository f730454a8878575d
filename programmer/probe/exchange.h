// SPDX-License-Identifier: MIT
// The two halves of a probe command exchange, as every command of this folder uses them: one
// Write of the command, then one Read of the response into the same buffer, each with the
// command time-out. A transfer is judged by the link's result alone (nonzero: accepted); the
// transferred count is never looked at.
//
// Threads: any. Blocks for up to `timeoutMs` in the link library. Calls for one device index must
// not overlap (the link library does not serialise transfers).
#pragma once

#include <cstdint>

#include "core/run_view.h"
#include "probe/byte_order.h"
#include "probe/command_result.h"
#include "probe/probe_link.h"

namespace zolt {

// Writes `length` bytes of `buffer`. False when the link refuses the transfer or has no Write
// bound (a link left half-bound by a failed bind never calls through a null entry).
inline bool WriteCommand(const ProbeLink& link, int device, uint8_t* buffer, int length,
                         int timeoutMs = kCommandTimeoutMs) {
  int transferred = 0;
  return link.Write != nullptr && link.Write(device, buffer, length, &transferred, timeoutMs) != 0;
}

// Reads up to `length` bytes into `buffer`. False when the link reports a failure or has no Read.
inline bool ReadResponse(const ProbeLink& link, int device, uint8_t* buffer, int length,
                         int timeoutMs = kCommandTimeoutMs) {
  int transferred = 0;
  return link.Read != nullptr && link.Read(device, buffer, length, &transferred, timeoutMs) != 0;
}

// The failure texts of one command; null where the command shows nothing for that failure.
struct CommandTexts {
  const char* writeFailed = nullptr;
  const char* readFailed = nullptr;
  const char* badAnswer = nullptr;  // byte 0 of the response is not the acknowledgement
};

// One whole exchange: writes `commandLength` bytes of `buffer`, reads `responseLength` bytes into
// it and, with `checkAck`, requires byte 0 to be the acknowledgement "Q" (byte 0 is cleared before
// the read, so a response that never arrived cannot pass). Each failure shows its text, if any, as
// a modal box through `op` (blocking until acknowledged) and returns it with the failed step.
// `buffer` must hold max(commandLength, responseLength) bytes.
inline CommandResult RunExchange(const ProbeLink& link, RunView& op, int device, uint8_t* buffer,
                                 int commandLength, int responseLength, bool checkAck,
                                 const CommandTexts& texts) {
  auto fail = [&op](CommandStep step, const char* text) {
    if (text == nullptr) return CommandResult::Failed(step);
    op.ShowMessage(text);
    return CommandResult::Failed(step, text);
  };
  if (!WriteCommand(link, device, buffer, commandLength)) return fail(CommandStep::kWrite, texts.writeFailed);
  if (checkAck) buffer[0] = 0;
  if (!ReadResponse(link, device, buffer, responseLength)) return fail(CommandStep::kRead, texts.readFailed);
  if (checkAck && buffer[0] != kProbeAck) return fail(CommandStep::kAnswer, texts.badAnswer);
  return CommandResult::Ok();
}

// Shows `text` as the command's own failure box and returns it as the command's result.
inline CommandResult ShowFailure(RunView& op, CommandStep step, std::string_view text) {
  op.ShowMessage(text);
  return CommandResult::Failed(step, text);
}

}  // namespace zolt
