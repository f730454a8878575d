// SPDX-License-Identifier: MIT
// zolt-flash --station: boards programmed as they arrive, until stopped. The log goes to stdout
// byte for byte as in a normal run (the header once, then each board's job lines); station events
// go to stderr as "station: DEVICE #3 usb:1-2.4: board 17 ok in 12.4 s" lines, and on a terminal
// a status line shows every fixture.
//
// Signals: the first SIGINT, SIGTERM or SIGHUP stops accepting boards (boards in progress
// finish); the second stops those boards with the stop marker; the third ends the process at
// once with status 130.
//
// RunStation blocks the calling thread until the station has ended. It must be called on the
// main thread before any other thread was started (it installs the SignalWatcher).
#pragma once

#include "cli/options.h"
#include "jobs/board_record.h"

namespace zolt::cli {

// `history`: the opened --history file, or null. Returns 0 when every board ended ok, 1 when
// any failed or was stopped, when the station could not start, or when the history could not be
// written.
int RunStation(const FlashOptions& options, BoardHistory* history);

// The stderr line of a board's event, without "station: " and the line end:
// "DEVICE #3 usb:1-2.4: board 17 found", "... ok in 12.4 s", "... failed in 3.1 s: TEXT",
// "... stopped in 2.0 s", "... removed".
std::string BoardEventLine(const BoardRecord& record, const char* event);

}  // namespace zolt::cli
