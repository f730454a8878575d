// SPDX-License-Identifier: MIT
// zolt-usb-jtag: the dialog program. It takes no command-line options and keeps no settings.
#include <QApplication>

#include "ui/dialog_application.h"

int main(int argc, char** argv) {
  zolt::ui::PreferClassicStyle(argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ZOLT_USB_JTAG"));
  // Lets the desktop match the window to the installed zolt-usb-jtag.desktop and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("zolt-usb-jtag"));
  zolt::ui::DialogApplication program;
  program.Exec();
  // The program ends when the dialog closes, whatever its result.
  return 0;
}
