// SPDX-License-Identifier: MIT
// FuzzLink: a ProbeLink whose probes answer with the fuzzer's bytes, so arbitrary probe responses
// reach the real command, job and streaming code.
//
// Input format, read front to back as the programmer reads from its probes: every Read takes one
// control byte c. c = 0xFF fails the Read (a probe that does not answer); c = 0xFE sets the run's
// stop request (as STOP would) and the next byte is taken as c; any other c answers with the next
// min(c, length asked) bytes, leaving the rest of the buffer as it was. An input that runs out fails
// every further Read. Writes and OpenDevice always succeed. Nothing blocks and no time passes.
//
// Threads: one input at a time (the fuzzer's thread); the harnesses run every job on that thread.
#pragma once

#include <atomic>
#include <cstddef>
#include <cstdint>

#include "probe/probe_link.h"

namespace zolt::fuzz {

// Makes `data` the answers of the next reads; `stop` (may be null) is set by control byte 0xFE.
void FeedLink(const uint8_t* data, size_t size, std::atomic<int>* stop);
// The four entries, answering from the fed input.
ProbeLink FuzzProbeLink();
// Bytes of the input still unread.
size_t LinkBytesLeft();

// A small image file (5000 bytes: two full 2048-byte blocks and a short one) made once per process
// in the temp folder and removed at exit; returns its path.
const char* FuzzImagePath();

}  // namespace zolt::fuzz
