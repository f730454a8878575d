// SPDX-License-Identifier: MIT
// The boundary-scan commands: EXTEST mode, loading the boundary image and the pin map, loading
// and driving the high and low pin patterns.
#include <cstring>

#include "probe/boundary_tables.h"
#include "probe/exchange.h"
#include "probe/probe_commands.h"

namespace zolt {
namespace {

// Longest boundary image the probe takes in one InitBoundaryData.
constexpr int kMaxInitBoundaryLength = 645;

CommandResult SendExtest(const ProbeCommands& probe, int device, const uint8_t param[4]) {
  uint8_t buffer[5] = {0x04, param[0], param[1], param[2], param[3]};
  return RunExchange(probe.link(), probe.op(), device, buffer, 5, 5, false, {});
}

// A length-prefixed command carrying the first `length` bytes of `pattern`.
CommandResult SendPattern(const ProbeCommands& probe, int device, uint8_t code,
                          std::span<const uint8_t> pattern, int length, const CommandTexts& texts) {
  // Only what the product's pattern holds may be sent.
  if (pattern.empty() || length < 0 || length > static_cast<int>(pattern.size())) {
    return CommandResult::Failed(CommandStep::kRefused);
  }
  uint8_t buffer[3 + kMaxBoundaryCells] = {code};
  PutLe16(buffer + 1, static_cast<uint32_t>(length));
  std::memcpy(buffer + 3, pattern.data(), length);
  return RunExchange(probe.link(), probe.op(), device, buffer, 3 + length, 5, true, texts);
}

// The probe's texts for both pattern drives name the low pattern.
constexpr CommandTexts kApplyTexts{"Cannot Write 'SET LOW Boundary' Command",
                                   "Cannot Read 'SET LOW Bounary' Response",
                                   "Cannot Read 'SET LOW Bounary' Response"};

CommandResult SendApply(const ProbeCommands& probe, int device, uint8_t code) {
  uint8_t buffer[5] = {code};
  return RunExchange(probe.link(), probe.op(), device, buffer, 1, 5, true, kApplyTexts);
}

}  // namespace

CommandResult ProbeCommands::SetExtest(int device) const {
  static constexpr uint8_t kParam[4] = {0x00, 0x00, 0x00, 0x00};
  return SendExtest(*this, device, kParam);
}

CommandResult ProbeCommands::SetExtestDebug(int device) const {
  static constexpr uint8_t kParam[4] = {0x01, 0x00, 0x00, 0x01};
  return SendExtest(*this, device, kParam);
}

CommandResult ProbeCommands::InitBoundaryData(int device, const uint8_t* image, int length) const {
  if (length < 0 || length > kMaxInitBoundaryLength || (image == nullptr && length > 0)) {
    return CommandResult::Failed(CommandStep::kRefused);
  }
  uint8_t buffer[3 + kMaxInitBoundaryLength] = {0x12};
  PutLe16(buffer + 1, static_cast<uint32_t>(length));
  if (length > 0) std::memcpy(buffer + 3, image, length);
  return RunExchange(link_, op_, device, buffer, 3 + length, 5, true, {});
}

CommandResult ProbeCommands::SetConfigBoundary(int device, const BoundaryPinMap& map) const {
  uint8_t buffer[3 + sizeof(BoundaryPinMap)] = {0x13};
  PutLe16(buffer + 1, sizeof(BoundaryPinMap));
  std::memcpy(buffer + 3, map.data(), map.size());
  return RunExchange(link_, op_, device, buffer, sizeof buffer, 5, true, {});
}

CommandResult ProbeCommands::SetHighBoundary(int device, int product, int length) const {
  return SendPattern(*this, device, 0x20, HighPatternOf(product), length,
                     {"Cannot Write 'SET HIGH Boundary' Command", "Cannot Read 'SET HIGH Bounary' Response",
                      "Cannot Read 'SET HIGH Bounary' Response"});
}

CommandResult ProbeCommands::SetLowBoundary(int device, int product, int length) const {
  return SendPattern(*this, device, 0x21, LowPatternOf(product), length,
                     {"Cannot Write 'SET LOW Boundary' Command", "Cannot Read 'SET LOW Bounary' Response",
                      "Cannot Read 'SET LOW Bounary' Response"});
}

CommandResult ProbeCommands::ApplyHighBoundary(int device) const {
  return SendApply(*this, device, 0x22);
}

CommandResult ProbeCommands::ApplyLowBoundary(int device) const {
  return SendApply(*this, device, 0x23);
}

}  // namespace zolt
