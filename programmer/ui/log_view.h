// SPDX-License-Identifier: MIT
// LogView: the main dialog's multi-line log (control 1000). Not read-only: the operator may type
// into it. The log is never cleared while the program runs.
//
// Threads: GUI thread only. Other threads reach Append through the dialog's RunView, which
// hands each text to the GUI thread whole, so texts of concurrent callers never interleave.
#pragma once

#include <QPlainTextEdit>
#include <QString>

namespace zolt::ui {

class LogView : public QPlainTextEdit {
  Q_OBJECT
 public:
  explicit LogView(QWidget* parent = nullptr);

  // Puts the caret at the end, inserts `text` there (its CR LF line ends become line breaks; the
  // insertion is not undoable) and scrolls so that the last line is in view. Never blocks.
  void Append(const QString& text);
  void Append(const char* text) { Append(QString::fromUtf8(text)); }

 protected:
  // Enter without Ctrl is the dialog's (it closes the dialog, as a multi-line edit without
  // "want return" leaves it); Ctrl+Enter starts a new line. Tab and Shift+Tab move the focus on,
  // as in any dialog; Ctrl+Tab inserts a tab.
  void keyPressEvent(QKeyEvent* event) override;
};

}  // namespace zolt::ui
