// SPDX-License-Identifier: MIT
// zolt-ui-screenshot: writes PNG pictures of the main dialog with each of its five tabs shown and
// of the about box into OUTPUT_DIR. With --run IMAGE it instead programs IMAGE into every KELDA
// board of the bench that VORLINK_BENCH names (NOR, EN29LV040A, multi device), answers
// "Download Complete !" and pictures the finished run on the Multi USB JTAG tab. With --dark
// (before OUTPUT_DIR) the dialog is drawn in the Fusion style with a dark palette and the run's
// picture is run-finished-4-probes-dark.png. With --station IMAGE it starts the station window
// with IMAGE on the bench's KELDA boards and pictures it once fixtures 0-2 are OK, 3 has failed
// and 4 is past 60% (station.png, station-dark.png). Used by scripts/screenshot.
#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QMessageBox>
#include <QPalette>
#include <QPixmap>
#include <QPushButton>
#include <cstdio>

#include "testing/qt_wait.h"
#include "ui/about_dialog.h"
#include "ui/dialog_application.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/station_tile.h"
#include "ui/station_window.h"
#include "ui/tab_control.h"

namespace {

using zolt::testing::ServeUntil;  // a minute at most
using zolt::testing::VisibleBox;
using zolt::ui::ProgrammerDialog;

bool Save(QWidget& widget, const QString& path) {
  const QPixmap picture = widget.grab();
  if (!picture.save(path, "PNG")) {
    std::fprintf(stderr, "zolt-ui-screenshot: cannot write %s\n", qPrintable(path));
    return false;
  }
  std::printf("%s\n", qPrintable(path));
  return true;
}

bool PictureTabs(ProgrammerDialog& dialog, const QDir& out) {
  const char* names[] = {"file-selection", "nor-options", "pin-toggle", "multi-usb-jtag",
                         "read-firmware-version"};
  bool ok = true;
  for (int tab = 0; tab < ProgrammerDialog::kPageCount; ++tab) {
    dialog.PageTabs()->SetCurrentIndex(tab);
    QApplication::processEvents();
    ok &= Save(dialog, out.filePath(QStringLiteral("main-%1.png").arg(QString::fromLatin1(names[tab]))));
  }
  zolt::ui::AboutDialog about(&dialog);
  about.show();
  QApplication::processEvents();
  ok &= Save(about, out.filePath(QStringLiteral("about.png")));
  return ok;
}

QPalette DarkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(53, 53, 53));
  p.setColor(QPalette::WindowText, Qt::white);
  p.setColor(QPalette::Base, QColor(25, 25, 25));
  p.setColor(QPalette::AlternateBase, QColor(53, 53, 53));
  p.setColor(QPalette::Text, Qt::white);
  p.setColor(QPalette::Button, QColor(53, 53, 53));
  p.setColor(QPalette::ButtonText, Qt::white);
  p.setColor(QPalette::Highlight, QColor(42, 130, 218));
  p.setColor(QPalette::HighlightedText, QColor(25, 25, 25));
  p.setColor(QPalette::Disabled, QPalette::Text, QColor(127, 127, 127));
  p.setColor(QPalette::Disabled, QPalette::WindowText, QColor(127, 127, 127));
  p.setColor(QPalette::Disabled, QPalette::ButtonText, QColor(127, 127, 127));
  return p;
}

// KELDA, NOR, EN29LV040A, IMAGE as image #1.
void SetUpKeldaNor(ProgrammerDialog& dialog, const QString& image) {
  dialog.ProductList()->setCurrentIndex(1);
  Q_EMIT dialog.ProductList()->activated(1);
  dialog.NorButton()->click();
  dialog.NorOptions()->NorTypeList()->setCurrentIndex(1);
  Q_EMIT dialog.NorOptions()->NorTypeList()->activated(1);
  dialog.FileSelection()->SetFileChooser([image] { return image; });
  dialog.FileSelection()->OnOpenImage(0);
}

bool PictureFinishedRun(zolt::ui::DialogApplication& program, const QString& image, const QDir& out,
                        const QString& name) {
  ProgrammerDialog& dialog = program.Dialog();
  if (!program.Driver()) {
    std::fprintf(stderr, "zolt-ui-screenshot: built without the programming jobs\n");
    return false;
  }
  SetUpKeldaNor(dialog, image);
  dialog.PageTabs()->SetCurrentIndex(3);
  dialog.RunButton()->click();
  if (!ServeUntil([] { return VisibleBox() != nullptr; })) {
    std::fprintf(stderr, "zolt-ui-screenshot: the run did not end\n");
    return false;
  }
  QMessageBox* box = VisibleBox();
  const bool complete = box->text() == QStringLiteral("Download Complete !");
  if (!complete) std::fprintf(stderr, "zolt-ui-screenshot: the run reported: %s\n", qPrintable(box->text()));
  box->button(QMessageBox::Ok)->click();
  ServeUntil([&] { return !program.Driver()->IsRunning() && dialog.RunButton()->isEnabled(); });
  QApplication::processEvents();
  return Save(dialog, out.filePath(name)) && complete;
}

// Takes the lines and keeps nothing: the picture needs a chosen history file, not its contents.
class DiscardingHistory final : public zolt::BoardHistory {
 public:
  bool Append(const zolt::BoardRecord&, bool, std::string*) override { return true; }
};

bool PictureStation(zolt::ui::DialogApplication& program, const QString& image, const QDir& out,
                    const QString& name) {
  SetUpKeldaNor(program.Dialog(), image);
  zolt::ui::StationWindow& window = program.OpenStation();
  window.SetHistoryPath(QStringLiteral("/var/lib/zolt/line-1-history.jsonl"));
  window.resize(window.sizeHint());
  window.StartButton()->click();
  if (!window.Running()) {
    std::fprintf(stderr, "zolt-ui-screenshot: the station did not start\n");
    return false;
  }
  const auto word = [&](int device) { return window.Tile(device)->Word(); };
  const bool mixed = ServeUntil([&] {
    return word(0) == QStringLiteral("OK") && word(1) == QStringLiteral("OK") &&
           word(2) == QStringLiteral("OK") && word(3) == QStringLiteral("FAILED") &&
           word(4) == QStringLiteral("PROGRAMMING") && window.Tile(4)->Percent() >= 60;
  });
  if (!mixed) {
    std::fprintf(stderr, "zolt-ui-screenshot: the station never reached the mixed state\n");
    return false;
  }
  QApplication::processEvents();
  return Save(window, out.filePath(name));
}

}  // namespace

int main(int argc, char** argv) {
  zolt::ui::PreferClassicStyle(argc, argv);
  QApplication app(argc, argv);
  QStringList args = QApplication::arguments().mid(1);
  const bool dark = !args.isEmpty() && args[0] == QStringLiteral("--dark");
  if (dark) {
    args.removeFirst();
    QApplication::setStyle(QStringLiteral("Fusion"));
    QApplication::setPalette(DarkPalette());
  }
  const bool run = args.size() == 3 && args[1] == QStringLiteral("--run");
  const bool station = args.size() == 3 && args[1] == QStringLiteral("--station");
  if (!(args.size() == 1 || run || station) || args[0].startsWith(QLatin1Char('-'))) {
    std::fprintf(
        stderr,
        "usage: zolt-ui-screenshot [--dark] OUTPUT_DIR [--run IMAGE | --station IMAGE]\n"
        "Writes main-<tab>.png for each of the five tabs and about.png into OUTPUT_DIR; with --run,\n"
        "programs IMAGE into the KELDA boards of the bench VORLINK_BENCH names and writes\n"
        "run-finished-4-probes.png instead; with --station, pictures the station window programming\n"
        "IMAGE on that bench (station.png).\n");
    return 2;
  }
  const QDir out(args[0]);
  if (!QDir().mkpath(out.path())) {
    std::fprintf(stderr, "zolt-ui-screenshot: cannot create %s\n", qPrintable(args[0]));
    return 1;
  }
  zolt::ui::DialogApplication program(
      "", [](const std::string&, std::string*) { return std::make_unique<DiscardingHistory>(); });
  program.Dialog().show();
  bool ok = false;
  if (station) {
    ok = PictureStation(program, QDir().absoluteFilePath(args[2]), out,
                        dark ? QStringLiteral("station-dark.png") : QStringLiteral("station.png"));
  } else if (run) {
    ok = PictureFinishedRun(program, QDir().absoluteFilePath(args[2]), out,
                            dark ? QStringLiteral("run-finished-4-probes-dark.png")
                                 : QStringLiteral("run-finished-4-probes.png"));
  } else {
    ok = PictureTabs(program.Dialog(), out);
  }
  return ok ? 0 : 1;
}
