// SPDX-License-Identifier: MIT
// zolt-usb-jtag: the dialog program. It keeps no settings. Its one option, --station, opens the
// station window at start-up beside the dialog (the dialog's "Station..." entry opens it too).
#include <QApplication>
#include <cstdio>

#include "ui/dialog_application.h"

int main(int argc, char** argv) {
  zolt::ui::PreferClassicStyle(argc, argv);
  QApplication app(argc, argv);
  QApplication::setApplicationName(QStringLiteral("ZOLT_USB_JTAG"));
  // Lets the desktop match the window to the installed zolt-usb-jtag.desktop and its icon.
  QGuiApplication::setDesktopFileName(QStringLiteral("zolt-usb-jtag"));
  // Qt has taken its own options (-style, -platform, ...) out of the arguments by now.
  bool station = false;
  const QStringList args = QApplication::arguments();
  for (qsizetype i = 1; i < args.size(); ++i) {
    if (args[i] == QStringLiteral("--station")) {
      station = true;
    } else if (args[i] == QStringLiteral("--help") || args[i] == QStringLiteral("-h")) {
      std::printf("usage: zolt-usb-jtag [--station]\n  --station  open the station window at start-up\n");
      return 0;
    } else {
      std::fprintf(stderr, "zolt-usb-jtag: unknown argument '%s'\nusage: zolt-usb-jtag [--station]\n",
                   qPrintable(args[i]));
      return 2;
    }
  }
  zolt::ui::DialogApplication program;
  if (station) program.OpenStation();
  program.Exec();
  // The program ends when the dialog closes, whatever its result.
  return 0;
}
