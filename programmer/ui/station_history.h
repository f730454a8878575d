// SPDX-License-Identifier: MIT
// How the dialog's station opens the history file the operator chose: a HistoryFile (JSON lines,
// appended; a FIFO, a device or a folder is refused, and the open never blocks on one).
//
// Threads: the opener is called on the GUI thread at Start; it blocks for the open only.
#pragma once

#include "ui/station_window.h"

namespace zolt::ui {

HistoryOpener DefaultHistoryOpener();

}  // namespace zolt::ui
