// SPDX-License-Identifier: MIT
#include "testing/qt_wait.h"

#include <QApplication>
#include <QMessageBox>
#include <QProcess>
#include <QStringList>

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

bool XdoTool(const QStringList& args) {
  QProcess xdo;
  xdo.start(QStringLiteral("xdotool"), args);
  if (!ServeUntil([&] { return xdo.state() == QProcess::NotRunning; }, std::chrono::seconds(20)))
    return false;
  QApplication::processEvents();
  return xdo.exitCode() == 0;
}

}  // namespace zolt::testing
