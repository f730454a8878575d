// SPDX-License-Identifier: MIT
#include "testing/qt_wait.h"

#include <QApplication>
#include <QMessageBox>

namespace zolt::testing {

bool ServeUntil(const std::function<bool()>& done, std::chrono::milliseconds guard) {
  const auto deadline = std::chrono::steady_clock::now() + guard;
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

QMessageBox* VisibleBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
  }
  return nullptr;
}

}  // namespace zolt::testing
