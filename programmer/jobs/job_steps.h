// SPDX-License-Identifier: MIT
// Small steps shared by the download and pin-toggle jobs. Any thread; the probe steps block as
// their commands do (and while a box they show is open).
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <string>
#include <utility>

#include "core/clock.h"
#include "core/run_view.h"
#include "jobs/job_context.h"
#include "probe/probe_commands.h"
#include "probe/probe_link.h"
#include "probe/records.h"

namespace zolt {

// Claims the lowest device index whose slot holds 1 and sets that slot to 0, atomically with
// respect to other claimers (one exchange per entry, so two jobs never get the same index).
// Returns the index, or -1 when no slot holds 1. Never blocks.
int ClaimDeviceSlot(std::array<std::atomic<uint8_t>, kMaxProbes>& slots);

// A probe's version text as a number: the character at index 2 (the separator) is dropped and
// what is left is read as an unsigned decimal number, skipping leading white space and stopping
// at the first non-digit; no digits give 0. " 2.12" and "02.12" both give 212.
uint32_t VersionNumber(const char* text);

// The oldest probe firmware the jobs work with, as a VersionNumber.
inline constexpr uint32_t kMinimumFirmware = 212;

// How a step of several probe commands ended: ok, or the text that reported its failure (a box
// or a log line already shown; "" where nothing was).
struct StepResult {
  bool ok = true;
  std::string text;
  static StepResult Failed(std::string text) { return StepResult{false, std::move(text)}; }
};

// Reads the open probe's firmware version and shows it; refuses a firmware below
// kMinimumFirmware with the box "DEVICE #%d: Sorry, upgrate firmware of USB JTAG". Then reads the
// bootloader version and shows it, or "Unknown" when it cannot be read (not a failure).
// `*bootloaderNumber` receives the bootloader's VersionNumber, 0 when unknown.
StepResult CheckProbeVersions(const ProbeCommands& probe, RunView& op, int device,
                              uint32_t* bootloaderNumber);

// Builds the boundary pin map and image for the run's flash type, `product`, bus width and NOR
// offset (`map` and `image` zero beforehand), then SetExtest and InitBoundaryData. A failure logs
// "DEVICE #%d: Cannot SET EXTEST" or "Cannot INIT BOUNDARY Data" (no line end: the job's closing
// blank line ends it).
StepResult LoadBoundaryData(const ProbeCommands& probe, RunView& op, int device, const RunSettings& settings,
                            int product, BoundaryPinMap& map, BoundaryImage& image, int* imageLength);

// The log text of a failed SetExtest or SetExtestDebug.
std::string ExtestFailedText(int device);

// Spins on `clock` until more than `ms` ticks have passed (at once for a negative `ms`). Keeps
// the calling thread busy for the whole wait (it only yields between polls).
void DelayMs(const TickClock& clock, int ms);

// The part of `path` after its last '/', or the whole path.
const char* DisplayName(const char* path);

// The lines a download run's log begins with: the flash type and, for NOR on every product but
// TARVIS, the NOR setting block. Caller's thread; never blocks.
void AppendFlashTypeHeader(RunView& op, const RunRequest& request, const RunSettings& settings);

}  // namespace zolt
