// zolt-ui-screenshot: writes PNG pictures of the main dialog with each of its five tabs shown and
// of the about box, into the folder given as the only argument. Used by scripts/screenshot.
#include <QApplication>
#include <QDir>
#include <QPixmap>
#include <cstdio>

#include "ui/about_dialog.h"
#include "ui/dialog_application.h"
#include "ui/tab_control.h"

namespace {

bool Save(QWidget& widget, const QString& path) {
  const QPixmap picture = widget.grab();
  if (!picture.save(path, "PNG")) {
    std::fprintf(stderr, "zolt-ui-screenshot: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

}  // namespace

int main(int argc, char** argv) {
  zolt::ui::PreferClassicStyle(argc, argv);
  QApplication app(argc, argv);
  if (argc != 2 || QString::fromLocal8Bit(argv[1]).startsWith(QLatin1Char('-'))) {
    std::fprintf(stderr,
                 "usage: zolt-ui-screenshot OUTPUT_DIR\n"
                 "Writes main-<tab>.png for each of the five tabs and about.png into OUTPUT_DIR.\n");
    return 2;
  }
  const QDir out(QString::fromLocal8Bit(argv[1]));
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "zolt-ui-screenshot: cannot create %s\n", argv[1]);
    return 1;
  }
  zolt::ui::DialogApplication program;
  zolt::ui::ProgrammerDialog& dialog = program.Dialog();
  dialog.show();
  const char* names[] = {"file-selection", "nor-options", "pin-toggle", "multi-usb-jtag", "read-firmware-version"};
  bool ok = true;
  for (int tab = 0; tab < zolt::ui::ProgrammerDialog::kPageCount; ++tab) {
    dialog.PageTabs()->SetCurrentIndex(tab);
    QApplication::processEvents();
    ok &= Save(dialog, out.filePath(QStringLiteral("main-%1.png").arg(QString::fromLatin1(names[tab]))));
  }
  zolt::ui::AboutDialog about(&dialog);
  about.show();
  QApplication::processEvents();
  ok &= Save(about, out.filePath(QStringLiteral("about.png")));
  return ok ? 0 : 1;
}
