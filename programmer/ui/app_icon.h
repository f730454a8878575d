// SPDX-License-Identifier: MIT
// The application icon (resource 128): our own drawing, rendered at 16, 24, 32 and 48 pixels.
// Set as the window icon, the desktop shows it in the task switcher and for a minimised window.
//
// Threads: GUI thread only (pixmaps). Never fails: an unreadable resource gives an empty icon.
#pragma once

#include <QIcon>

namespace zolt::ui {

QIcon AppIcon();

}  // namespace zolt::ui
