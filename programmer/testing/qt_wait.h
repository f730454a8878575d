// SPDX-License-Identifier: MIT
// Qt-side test support for the dialog's tests and tools: serving the GUI thread's events until a
// state is reached, finding the message box the program shows, and running xdotool. Needs a
// QApplication.
#pragma once

#include <QStringList>
#include <chrono>
#include <functional>

class QMessageBox;

namespace zolt::testing {

// Serves the calling (GUI) thread's events until `done` holds; false when `guard` passed first.
// The guard stops a hang only: it is never what a test waits for.
bool ServeUntil(const std::function<bool()>& done,
                std::chrono::milliseconds guard = std::chrono::seconds(60));

// The top-level message box on screen, or nullptr when there is none.
QMessageBox* VisibleBox();

// Runs xdotool with `args` (the Xvfb tools drive the real X server with it), serving events while
// it runs so that its input arrives; true when it ran and exited 0.
bool XdoTool(const QStringList& args);

}  // namespace zolt::testing
