// The program's message boxes: modal, one OK button, no icon; the caption is the application
// name, or "Error" for the box of a failed library bind.
//
// Threads: ShowMessageBox may be called from any thread and blocks the calling thread until the
// operator has pressed OK. On the GUI thread it runs the box modally (a nested event loop). From
// another thread it opens the box on the GUI thread without nesting and waits on its own, so the
// boxes of several worker threads can be open together and be answered in any order.
#pragma once

#include <QString>
#include <QWidget>

namespace zolt::ui {

// `parent` is the window the box is modal to; it must live on the GUI thread and outlive the call.
void ShowMessageBox(QWidget* parent, const QString& caption, const QString& text);

}  // namespace zolt::ui
