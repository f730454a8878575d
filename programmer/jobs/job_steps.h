// SPDX-License-Identifier: MIT
// Small steps shared by the download and pin-toggle jobs. Any thread.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>

#include "core/clock.h"
#include "probe/probe_link.h"

namespace zolt {

// Claims the lowest device index whose slot holds 1 and sets that slot to 0, atomically with
// respect to other claimers (one exchange per entry, so two jobs never get the same index).
// Returns the index, or -1 when no slot holds 1. Never blocks.
int ClaimDeviceSlot(std::array<std::atomic<uint8_t>, kMaxProbes>& slots);

// A probe's version text as a number: the character at index 2 (the separator) is dropped and
// what is left is read as an unsigned decimal number, skipping leading white space and stopping
// at the first non-digit; no digits give 0. " 2.12" and "02.12" both give 212.
uint32_t VersionNumber(const char* text);

// Spins on `clock` until more than `ms` ticks have passed (at once for a negative `ms`). Keeps
// the calling thread busy for the whole wait (it only yields between polls).
void DelayMs(const TickClock& clock, int ms);

// The part of `path` after its last '/', or the whole path.
const char* DisplayName(const char* path);

}  // namespace zolt
