// SPDX-License-Identifier: MIT
// The program's message boxes: modal, one OK button, no icon; the caption is the application
// name, or "Error" for the box of a failed library bind. Each is wide enough for its caption.
//
// Threads: ShowMessageBox may be called from any thread and blocks the calling thread until the
// operator has pressed OK. On the GUI thread it runs the box modally (a nested event loop). From
// another thread it opens the box on the GUI thread without nesting and waits on its own, so the
// boxes of several worker threads can be open together and be answered in any order.
#pragma once

#include <QString>
#include <QWidget>

class QMessageBox;

namespace zolt::ui {

// Makes `box` wide enough that a window manager's title bar shows its whole caption beside its
// buttons (QMessageBox leaves 50 px for them; title bars need about three times that).
void FitCaption(QMessageBox* box);
// The width FitCaption gives a box at least.
int CaptionWidth(const QMessageBox* box);

// `parent` is the window the box is modal to; it must live on the GUI thread and outlive the call.
void ShowMessageBox(QWidget* parent, const QString& caption, const QString& text);

}  // namespace zolt::ui
