// SPDX-License-Identifier: MIT
// Binding the link library and identifying probes, as each RUN does on the thread that pressed
// it (the GUI thread in the dialog). None of these may run while a job uses a probe.
#pragma once

#include <cstdint>
#include <string>

#include "core/run_view.h"
#include "probe/probe_commands.h"
#include "probe/probe_link.h"

namespace zolt {

// The link library's file name.
inline constexpr const char* kLinkLibraryName = "libVorlink.so";

// Loads `libraryName` and binds its four exports into `link`, in the order OpenDevice, Write,
// Read, Close, and then the optional DeviceLocation and WriteChunks exports when the library has
// them (null and no message when it has not). A bare name is loaded from the directory of the running
// executable when a file of that name is there, else through the dynamic loader's search path; a name with a
// slash is loaded as that path. The library is never unloaded; binding again finds the same entries.
//  - Returns 1 when the library is loaded and all four names are bound.
//  - On a failed load: shows "%s, failed with error %d: %s" with the name, an errno code for the
//    cause and dlerror()'s text through RunView::ShowErrorMessage (blocking until acknowledged),
//    leaves `link` unchanged and returns 0. dlopen sets no errno: the code is the one whose text
//    ends the loader's reason (ENOENT, EACCES, ... for the library or a dependency it names),
//    else the candidate file's own (ENOENT, EISDIR, EACCES), else ENOEXEC (there, but no library).
//  - A missing export: null in its entry, the later entries as they were, returns 0, and shows the
//    same box with ENOSYS and "<path>: undefined symbol: <name>" naming the first missing one of
//    OpenDevice, Write, Read, Close.
// Blocks for the load (the library's load-time initialisation included). Callable from any
// thread, but must not race with calls through `link`.
int BindProbeLink(ProbeLink& link, RunView& op, const std::string& libraryName = kLinkLibraryName);

// Quiet firmware check of an open probe: the firmware version exchange (up to 2 x 500 ms), 0 when
// a probe of this system answered ("ZOLT USB JTAG"), with its version text (at most 5 characters
// plus terminator) in `version` (may be null); -1 otherwise. Shows nothing. Any thread.
int CheckProbeFirmware(const ProbeLink& link, int device, char* version);

// Clears the `count` entries of `slots`, then walks device indices 0..count-1: opens the probe
// (product ID 0x16), checks its firmware, sends JTAG Reset and Test Logic Reset, reads the JTAG ID
// with `param`, and closes it again; a step that fails closes the probe and moves on. A probe
// whose target reports `expectedJtagId` gets 1 in its slot (a failed read, which gives 0, never
// matches). First: stops at the first match and returns 1, or 0 when none matched. All: marks
// every match and returns how many.
// Blocks: up to four exchanges of 2 x 500 ms per device index, plus any boxes the reset and ID
// commands show for a probe that opens but does not answer. Calling thread only; no probe may be
// in use by a job meanwhile.
int IdentifyFirstProbe(const ProbeCommands& probe, uint8_t* slots, int count, const uint8_t param[4],
                       uint32_t expectedJtagId);
int IdentifyAllProbes(const ProbeCommands& probe, uint8_t* slots, int count, const uint8_t param[4],
                      uint32_t expectedJtagId);

}  // namespace zolt
