// Binding the link library and identifying probes (run at each RUN, on the caller's thread).
#pragma once

#include <cstdint>
#include <string>

#include "core/operator.h"
#include "probe/probe_commands.h"
#include "probe/probe_link.h"

namespace zolt {

// The link library's file name.
inline constexpr const char* kLinkLibraryName = "libVorlink.so";

// Loads `libraryName` (first from the directory of the running executable, then from the
// dynamic loader's path) and binds the four exports into `link`, in the order OpenDevice, Write,
// Read, Close. On a failed load shows "%s, failed with error %d: %s" (caption "Error") and
// returns 0. A missing export leaves null in its entry, later entries as they were, returns 0.
// The library is never unloaded.
int BindProbeLink(ProbeLink& link, Operator& op, const std::string& libraryName = kLinkLibraryName);

// Quiet firmware check: 0 when a probe of this system answered, -1 otherwise; shows nothing.
int CheckProbeFirmware(const ProbeLink& link, int device, char* version);

// Clear `slots`, then walk device indices 0..count-1: open, check firmware, JTAG reset, test
// logic reset, read the JTAG ID, close. First: marks the first match and returns 1 (else 0);
// All: marks every match and returns how many.
int IdentifyFirstProbe(const ProbeCommands& probe, uint8_t* slots, int count, const uint8_t param[4],
                       uint32_t expectedJtagId);
int IdentifyAllProbes(const ProbeCommands& probe, uint8_t* slots, int count, const uint8_t param[4],
                      uint32_t expectedJtagId);

}  // namespace zolt
