// SPDX-License-Identifier: MIT
// zolt-ui-xvfb-click: the real dialog in a real X server with a window manager, driven by xdotool
// as an operator would: a mouse click on each tab must show that tab's page; with VORLINK_BENCH
// naming a KELDA bench and an image given, a double click on RUN must program the boards (no
// "Download stop is OK."), and Space afterwards must start the next run with Verify still ticked.
// A second argument names a PNG file for a picture of the screen after the runs.
// Exits 0 when every check holds. Run by scripts/xvfb-click-test (needs DISPLAY, xdotool).
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTabBar>
#include <chrono>
#include <cstdio>

#include "testing/qt_wait.h"
#include "ui/control_ids.h"
#include "ui/dialog_application.h"
#include "ui/log_view.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/run_driver.h"
#include "ui/tab_control.h"
#include "ui/template_page.h"

namespace {

using namespace std::chrono_literals;
using zolt::testing::ServeUntil;
using zolt::testing::VisibleBox;
using zolt::testing::XdoTool;
using zolt::ui::ProgrammerDialog;

int failures = 0;

void Check(bool ok, const char* what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
  if (!ok) ++failures;
}

bool ClickAt(const QPoint& global, int clicks = 1) {
  return XdoTool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                  QStringLiteral("click"), QStringLiteral("--repeat"), QString::number(clicks),
                  QStringLiteral("--delay"), QStringLiteral("80"), QStringLiteral("1")});
}

void ClickEveryTab(ProgrammerDialog& d) {
  QTabBar* bar = d.PageTabs()->tabBar();
  for (int tab : {4, 3, 2, 1, 0}) {
    const QPoint centre = bar->mapToGlobal(bar->tabRect(tab).center());
    ClickAt(centre);
    const bool switched = ServeUntil([&] { return d.PageTabs()->CurrentIndex() == tab; }, 5s);
    bool onlyItsPage = true;
    for (int i = 0; i < ProgrammerDialog::kPageCount; ++i)
      onlyItsPage &= d.PageOfTab(i)->isVisible() == (i == tab);
    const QString what = QStringLiteral("a click on tab \"%1\" shows its page").arg(bar->tabText(tab));
    Check(switched && onlyItsPage, qPrintable(what));
  }
}

// Answers the run's boxes with the mouse until the run has ended; returns their texts.
QStringList ServeRun(zolt::ui::DialogApplication& program) {
  QStringList boxes;
  ServeUntil(
      [&] {
        if (QMessageBox* box = VisibleBox()) {
          boxes << box->text();
          QAbstractButton* ok = box->buttons().first();
          ClickAt(ok->mapToGlobal(ok->rect().center()));
        }
        ProgrammerDialog& d = program.Dialog();
        return !program.Driver()->IsRunning() && d.RunButton()->isEnabled() &&
               d.RunButton()->text() == QStringLiteral("RUN");
      },
      120s);
  return boxes;
}

void DoubleClickRunThenSpace(zolt::ui::DialogApplication& program, const QString& image) {
  ProgrammerDialog& d = program.Dialog();
  d.ProductList()->setCurrentIndex(1);
  Q_EMIT d.ProductList()->activated(1);
  d.NorButton()->click();
  d.NorOptions()->NorTypeList()->setCurrentIndex(1);
  Q_EMIT d.NorOptions()->NorTypeList()->activated(1);
  d.FileSelection()->SetFileChooser([image] { return image; });
  d.FileSelection()->OnOpenImage(0);

  QPushButton* run = d.RunButton();
  ClickAt(run->mapToGlobal(run->rect().center()), 2);
  const QStringList boxes = ServeRun(program);
  const QString log = d.Log()->toPlainText();
  Check(boxes.contains(QStringLiteral("Download Complete !")), "a double click on RUN programs the boards");
  Check(!log.contains(QStringLiteral("Download stop is OK.")), "the second click does not stop the run");

  auto* verify = d.Controls().Get<QCheckBox>(zolt::ui::kIdVerifyBox);
  Check(d.focusWidget() == run, "after the run the focus is on RUN");
  const int before = log.count(QStringLiteral("[Download to NOR FLASH]"));
  XdoTool({QStringLiteral("key"), QStringLiteral("space")});
  ServeUntil([&] { return d.Log()->toPlainText().count(QStringLiteral("[Download to NOR FLASH]")) > before; },
             5s);
  ServeRun(program);
  Check(d.Log()->toPlainText().count(QStringLiteral("[Download to NOR FLASH]")) == before + 1,
        "Space after the run starts the next run");
  Check(verify->isChecked() && d.Fields().verifyEnabled, "Space after the run leaves Verify ticked");
}

}  // namespace

int main(int argc, char** argv) {
  zolt::ui::PreferClassicStyle(argc, argv);
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments().mid(1);
  zolt::ui::DialogApplication program;
  ProgrammerDialog& d = program.Dialog();
  d.show();
  d.raise();
  d.activateWindow();
  ServeUntil([&] { return d.isActiveWindow(); }, 10s);
  std::printf("dialog %dx%d at %d,%d: %s\n", d.width(), d.height(), d.x(), d.y(),
              qPrintable(d.windowTitle()));

  ClickEveryTab(d);
  if (!args.isEmpty()) {
    if (program.Driver()) {
      DoubleClickRunThenSpace(program, args[0]);
    } else {
      Check(false, "built with the programming jobs");
    }
  }
  // The whole screen, window manager frame included, after the runs: for a person to look at.
  if (args.size() > 1 && !d.screen()->grabWindow(0).save(args[1]))
    std::printf("FAILED: cannot save the screenshot %s\n", qPrintable(args[1]));
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
