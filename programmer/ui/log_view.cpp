// SPDX-License-Identifier: MIT
#include "ui/log_view.h"

#include <QKeyEvent>
#include <QScrollBar>
#include <QTextCursor>

namespace zolt::ui {

LogView::LogView(QWidget* parent) : QPlainTextEdit(parent) {
  // Log insertions cannot be undone; an undo stack would only grow with every line.
  setUndoRedoEnabled(false);
  setTabChangesFocus(true);
}

void LogView::Append(const QString& text) {
  QString lines = text;
  lines.replace(QStringLiteral("\r\n"), QStringLiteral("\n"));
  lines.replace(QLatin1Char('\r'), QLatin1Char('\n'));
  QTextCursor cursor = textCursor();
  cursor.movePosition(QTextCursor::End);
  setTextCursor(cursor);
  ensureCursorVisible();
  cursor.insertText(lines);
  setTextCursor(cursor);
  verticalScrollBar()->setValue(verticalScrollBar()->maximum());
}

void LogView::keyPressEvent(QKeyEvent* event) {
  const bool enter = event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter;
  if (enter && !(event->modifiers() & Qt::ControlModifier)) {
    event->ignore();
    return;
  }
  if (enter) {
    insertPlainText(QStringLiteral("\n"));
    return;
  }
  // Tab without Ctrl never gets here: the widget moves the focus on (tabChangesFocus).
  if (event->key() == Qt::Key_Tab && (event->modifiers() & Qt::ControlModifier)) {
    insertPlainText(QStringLiteral("\t"));
    return;
  }
  QPlainTextEdit::keyPressEvent(event);
}

}  // namespace zolt::ui
