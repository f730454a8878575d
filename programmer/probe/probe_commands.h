// The probe command protocol: one Write of a command and one Read of its response per command,
// 500 ms each, on one device index. Every function returns 0 on success and -1 on failure
// (ReadJtagId returns the ID, 0 on failure), keeps no state, and shows its failure texts (where
// it has any) as a modal message box on the calling thread before it returns.
//
// Threads: any; calls for one device index must not overlap. A ProbeCommands object holds only
// references, so jobs construct or share one freely.
#pragma once

#include <array>
#include <cstdint>
#include <optional>
#include <span>

#include "core/clock.h"
#include "core/operator.h"
#include "probe/probe_link.h"
#include "probe/records.h"

namespace zolt {

class ProbeCommands {
 public:
  ProbeCommands(const ProbeLink& link, Operator& op) : link_(link), op_(op) {}

  // ---- Basic probe commands --------------------------------------------------------------
  int JtagReset(int device) const;
  int JtagTestLogicReset(int device) const;
  // `version` receives at most 5 characters plus terminator; left unchanged on failure.
  int GetFirmwareVersion(int device, char* version) const;
  int GetBootloaderVersion(int device, char* version) const;
  uint32_t ReadJtagId(int device, const uint8_t param[4]) const;
  int SetJtagType(int device, uint8_t jtagType) const;

  // ---- Target debug and flash set-up -----------------------------------------------------
  int SetJtagDr(int device, const uint8_t* bits, int bitCount) const;
  int DebugBusReadWord(int device, uint32_t address, uint32_t* data) const;
  int DebugBusWriteWord(int device, uint32_t address, uint32_t data) const;
  int ConfigDebugMode(int device, int product) const;
  int SetFlashInfo(int device, const FlashInfo& info, uint8_t flashTypeCode) const;
  int SetFlashCfi(int device, const FlashCfi& cfi, uint8_t flashTypeCode) const;

  // ---- Boundary scan ------------------------------------------------------------------------
  int SetExtest(int device) const;
  int SetExtestDebug(int device) const;
  int InitBoundaryData(int device, const uint8_t* image, int length) const;
  int SetConfigBoundary(int device, const BoundaryPinMap& map) const;
  int SetHighBoundary(int device, int product, int length) const;
  int SetLowBoundary(int device, int product, int length) const;
  int ApplyHighBoundary(int device) const;
  int ApplyLowBoundary(int device) const;

  const ProbeLink& link() const { return link_; }
  Operator& op() const { return op_; }

 private:
  const ProbeLink& link_;
  Operator& op_;
};

// Busy-waits on the process's millisecond tick count until more than `ms` ticks have passed, so
// it returns after at least ms + 1 ms (at once for a negative `ms`). Keeps the calling thread busy
// for the whole wait, on purpose: no sleep granularity is added. Any thread; never fails.
void DelayMs(int ms);
// The same on another tick source (tests).
void DelayMs(int ms, const TickClock& clock);

}  // namespace zolt
