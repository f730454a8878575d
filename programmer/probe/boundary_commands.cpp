// SPDX-License-Identifier: MIT
// The boundary-scan commands: EXTEST mode, loading the boundary image and the pin map, loading
// and driving the high and low pin patterns; and the busy-wait between two patterns.
#include <cstring>

#include "probe/boundary_tables.h"
#include "probe/exchange.h"
#include "probe/probe_commands.h"

namespace zolt {
namespace {

// Longest boundary image the probe takes in one InitBoundaryData.
constexpr int kMaxInitBoundaryLength = 645;

int SendExtest(const ProbeCommands& probe, int device, const uint8_t param[4]) {
  uint8_t buffer[5] = {0x04, param[0], param[1], param[2], param[3]};
  return RunExchange(probe.link(), probe.op(), device, buffer, 5, 5, false, {});
}

// A length-prefixed command carrying the first `length` bytes of `pattern`.
int SendPattern(const ProbeCommands& probe, int device, uint8_t code, std::span<const uint8_t> pattern,
                int length, const CommandTexts& texts) {
  // Only what the product's pattern holds may be sent.
  if (pattern.empty() || length < 0 || length > static_cast<int>(pattern.size())) return -1;
  uint8_t buffer[3 + kMaxBoundaryCells] = {code};
  PutLe16(buffer + 1, static_cast<uint32_t>(length));
  std::memcpy(buffer + 3, pattern.data(), length);
  return RunExchange(probe.link(), probe.op(), device, buffer, 3 + length, 5, true, texts);
}

// The probe's texts for both pattern drives name the low pattern.
constexpr CommandTexts kApplyTexts{"Cannot Write 'SET LOW Boundary' Command",
                                   "Cannot Read 'SET LOW Bounary' Response",
                                   "Cannot Read 'SET LOW Bounary' Response"};

int SendApply(const ProbeCommands& probe, int device, uint8_t code) {
  uint8_t buffer[5] = {code};
  return RunExchange(probe.link(), probe.op(), device, buffer, 1, 5, true, kApplyTexts);
}

}  // namespace

int ProbeCommands::SetExtest(int device) const {
  static constexpr uint8_t kParam[4] = {0x00, 0x00, 0x00, 0x00};
  return SendExtest(*this, device, kParam);
}

int ProbeCommands::SetExtestDebug(int device) const {
  static constexpr uint8_t kParam[4] = {0x01, 0x00, 0x00, 0x01};
  return SendExtest(*this, device, kParam);
}

int ProbeCommands::InitBoundaryData(int device, const uint8_t* image, int length) const {
  if (length < 0 || length > kMaxInitBoundaryLength || (image == nullptr && length > 0)) return -1;
  uint8_t buffer[3 + kMaxInitBoundaryLength] = {0x12};
  PutLe16(buffer + 1, static_cast<uint32_t>(length));
  if (length > 0) std::memcpy(buffer + 3, image, length);
  return RunExchange(link_, op_, device, buffer, 3 + length, 5, true, {});
}

int ProbeCommands::SetConfigBoundary(int device, const BoundaryPinMap& map) const {
  uint8_t buffer[3 + sizeof(BoundaryPinMap)] = {0x13};
  PutLe16(buffer + 1, sizeof(BoundaryPinMap));
  std::memcpy(buffer + 3, map.data(), map.size());
  return RunExchange(link_, op_, device, buffer, sizeof buffer, 5, true, {});
}

int ProbeCommands::SetHighBoundary(int device, int product, int length) const {
  return SendPattern(*this, device, 0x20, HighPatternOf(product), length,
                     {"Cannot Write 'SET HIGH Boundary' Command", "Cannot Read 'SET HIGH Bounary' Response",
                      "Cannot Read 'SET HIGH Bounary' Response"});
}

int ProbeCommands::SetLowBoundary(int device, int product, int length) const {
  return SendPattern(*this, device, 0x21, LowPatternOf(product), length,
                     {"Cannot Write 'SET LOW Boundary' Command", "Cannot Read 'SET LOW Bounary' Response",
                      "Cannot Read 'SET LOW Bounary' Response"});
}

int ProbeCommands::ApplyHighBoundary(int device) const {
  return SendApply(*this, device, 0x22);
}

int ProbeCommands::ApplyLowBoundary(int device) const {
  return SendApply(*this, device, 0x23);
}

void DelayMs(int ms, const TickClock& clock) {
  // Polled, not slept: the pin toggle's interval must not stretch by a scheduler tick. The signed
  // difference keeps the wait right across the tick count's wrap.
  const uint32_t start = clock.NowMs();
  while (static_cast<int32_t>(clock.NowMs() - start) <= ms) {
  }
}

void DelayMs(int ms) {
  DelayMs(ms, SystemTickClock());
}

}  // namespace zolt
