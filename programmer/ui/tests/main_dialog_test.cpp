// SPDX-License-Identifier: MIT
// The main dialog: start-up defaults, the product and flash-type rules, tabs, the log, closing.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QPushButton>
#include <QScrollBar>
#include <QTest>
#include <QTimer>
#include <array>
#include <string>
#include <vector>

#include "ui/about_dialog.h"
#include "ui/control_ids.h"
#include "ui/log_view.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/multi_device_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/percent_progress_bar.h"
#include "ui/programmer_dialog.h"
#include "ui/run_driver.h"
#include "ui/tab_control.h"

namespace zolt::ui {
namespace {

void ChooseProduct(ProgrammerDialog& d, int row) {
  d.ProductList()->setCurrentIndex(row);
  Q_EMIT d.ProductList()->activated(row);
}

TEST(MainDialog, StartsWithTheDefaults) {
  ProgrammerDialog d;
  EXPECT_EQ(d.ProductList()->currentText(), QStringLiteral("TARVIS"));
  EXPECT_EQ(d.ProductList()->count(), 5);
  EXPECT_TRUE(d.NorButton()->isChecked());
  EXPECT_FALSE(d.NandButton()->isChecked());
  EXPECT_EQ(d.NorOptions()->NorTypeList()->currentText(), QStringLiteral("AutoDetect"));
  EXPECT_FALSE(d.NorOptions()->NorTypeList()->isEnabled());
  EXPECT_FALSE(d.NorOptions()->OffsetBox()->isEnabled());
  EXPECT_TRUE(d.Controls().Get<QCheckBox>(kIdVerifyBox)->isChecked());
  EXPECT_EQ(d.PageTabs()->CurrentIndex(), 0);
  EXPECT_EQ(d.PageTabs()->tabBar()->tabText(4), QStringLiteral("Read Firmware Version"));
  EXPECT_FALSE(d.FileSelection()->isHidden());
  for (int tab = 1; tab < 5; ++tab) EXPECT_TRUE(d.PageOfTab(tab)->isHidden()) << tab;
  EXPECT_EQ(d.RunButton()->text(), QStringLiteral("RUN"));
  EXPECT_EQ(d.ElapsedTimeLabel()->text(), QStringLiteral("00 : 00"));
  EXPECT_EQ(d.ProgressBar()->BackgroundColour(), QColor(255, 255, 255));
  EXPECT_TRUE(d.ProgressBar()->ShowText());
  EXPECT_EQ(d.ProgressBar()->Step(), 0);
  const DialogFields f = d.Fields();
  EXPECT_EQ(f.productIndex, 0);
  EXPECT_TRUE(f.norSelected && !f.nandSelected && f.verifyEnabled);
  EXPECT_EQ(d.AboutAction()->text(), QStringLiteral("ZOLT_USB_JTAG 정보(&A)..."));
}

// One step of the operator's: 'P' chooses product row `arg`, 'A' presses NAND, 'O' presses NOR.
struct Step {
  char what;
  int arg = 0;
};

struct RuleCase {
  const char* name;
  std::vector<Step> steps;
  bool nand;  // NAND selected afterwards (else NOR)
  bool norOptionsEnabled;
  const char* norTypeText;
};

TEST(MainDialog, ProductAndFlashTypeRules) {
  const RuleCase cases[] = {
      {"TARVIS at start", {}, false, false, "AutoDetect"},
      {"KELDA selects NAND", {{'P', 1}}, true, false, "EN29LV010A"},
      {"VTN3300 selects NAND", {{'P', 2}}, true, false, "EN29LV010A"},
      {"OKO selects NAND", {{'P', 3}}, true, false, "EN29LV010A"},
      {"SOLANT selects NOR, options on", {{'P', 4}}, false, true, "EN29LV010A"},
      {"KELDA then NOR enables", {{'P', 1}, {'O'}}, false, true, "EN29LV010A"},
      {"KELDA, NOR, NAND disables", {{'P', 1}, {'O'}, {'A'}}, true, false, "EN29LV010A"},
      {"SOLANT refuses NAND", {{'P', 4}, {'A'}}, false, true, "EN29LV010A"},
      {"TARVIS NOR stays disabled", {{'P', 1}, {'P', 0}, {'O'}}, false, false, "AutoDetect"},
      {"TARVIS may select NAND", {{'A'}}, true, false, "AutoDetect"},
      {"TARVIS NAND then NOR", {{'A'}, {'O'}}, false, false, "AutoDetect"},
      {"OKO NOR then SOLANT", {{'P', 3}, {'O'}, {'P', 4}}, false, true, "EN29LV010A"},
      {"SOLANT then KELDA back to NAND", {{'P', 4}, {'P', 1}}, true, false, "EN29LV010A"},
  };
  for (const RuleCase& c : cases) {
    ProgrammerDialog d;
    for (const Step& s : c.steps) {
      if (s.what == 'P') ChooseProduct(d, s.arg);
      if (s.what == 'A') d.NandButton()->click();
      if (s.what == 'O') d.NorButton()->click();
    }
    d.UpdateData(true);
    const DialogFields f = d.Fields();
    EXPECT_EQ(f.nandSelected, c.nand) << c.name;
    EXPECT_EQ(f.norSelected, !c.nand) << c.name;  // exactly one of the two, always
    EXPECT_EQ(d.NandButton()->isChecked(), c.nand) << c.name;
    EXPECT_EQ(d.NorButton()->isChecked(), !c.nand) << c.name;
    for (QWidget* w :
         std::initializer_list<QWidget*>{d.NorOptions()->OffsetBox(), d.NorOptions()->NorTypeList(),
                                         d.NorOptions()->WidthList(), d.NorOptions()->InterleaveList()}) {
      EXPECT_EQ(w->isEnabled(), c.norOptionsEnabled) << c.name << " " << w->objectName().toStdString();
    }
    EXPECT_EQ(d.NorOptions()->NorTypeList()->currentText().toStdString(), c.norTypeText) << c.name;
  }
}

TEST(MainDialog, AboutEntryOpensTheAboutBox) {
  ProgrammerDialog d;
  d.show();
  QString seen;
  QTimer::singleShot(0, [&] {
    for (QWidget* w : QApplication::topLevelWidgets()) {
      auto* about = qobject_cast<AboutDialog*>(w);
      if (about && about->isVisible()) {
        seen = about->windowTitle();
        about->accept();
      }
    }
  });
  d.AboutAction()->trigger();  // returns when the box is closed
  EXPECT_EQ(seen, QStringLiteral("ZOLT_USB_JTAG 정보"));
}

TEST(MainDialog, VerifyBoxIsTakenInAtOnce) {
  ProgrammerDialog d;
  d.Controls().Get<QCheckBox>(kIdVerifyBox)->click();
  EXPECT_FALSE(d.Fields().verifyEnabled);
}

TEST(MainDialog, ATabShowsOnlyItsPage) {
  ProgrammerDialog d;
  d.PageTabs()->SetCurrentIndex(3);
  for (int tab = 0; tab < 5; ++tab) EXPECT_EQ(d.PageOfTab(tab)->isHidden(), tab != 3) << tab;
  d.OnPageTabChanged(7);  // out of range: nothing changes
  EXPECT_FALSE(d.MultiDevice()->isHidden());
}

TEST(MainDialog, RunSettingControlsAreLockedTogether) {
  ProgrammerDialog d;
  d.EnableRunSettingControls(false);
  for (int id : {kIdProductsFrame, kIdProductList, kIdFlashTypeFrame, kIdNandButton, kIdNorButton}) {
    EXPECT_FALSE(d.Controls().Find(id)->isEnabled()) << id;
  }
  // The tabs, pages, Verify box and log stay usable during a run.
  EXPECT_TRUE(d.Controls().Find(kIdVerifyBox)->isEnabled());
  EXPECT_TRUE(d.Controls().Find(kIdPageTabs)->isEnabled());
  d.EnableRunSettingControls(true);
  EXPECT_TRUE(d.ProductList()->isEnabled());
}

TEST(MainDialog, TheDeviceListShowsTheLastCountsWhenTheRunEnds) {
  ProgrammerDialog d;
  std::array<uint8_t, 16> slots{};
  slots[3] = 1;
  d.MultiDevice()->ShowDeviceStates(slots);
  d.ShowRunState(RunState::kRunning);
  // A job's last report, stored from its thread after the last refresh of the list.
  d.MultiDevice()->StoreFileProgress(3, 0, 4096, 4096);
  EXPECT_EQ(d.MultiDevice()->StateCell(3), QStringLiteral("YES"));
  d.ShowRunState(RunState::kEnding);
  EXPECT_EQ(d.MultiDevice()->StateCell(3), QStringLiteral("100%"));
}

TEST(LogView, AppendsAtTheEndAndKeepsTheLastLineInView) {
  ProgrammerDialog d;
  d.show();
  LogView* log = d.Log();
  log->Append("[Download to NOR FLASH]\r\n");
  EXPECT_EQ(log->toPlainText(), QStringLiteral("[Download to NOR FLASH]\n"));
  // The operator's caret elsewhere does not move where appends land.
  QTextCursor start = log->textCursor();
  start.movePosition(QTextCursor::Start);
  log->setTextCursor(start);
  for (int i = 0; i < 200; ++i) log->Append(QStringLiteral("  line %1\r\n").arg(i));
  QApplication::processEvents();
  EXPECT_TRUE(log->toPlainText().endsWith(QStringLiteral("  line 199\n")));
  EXPECT_TRUE(log->toPlainText().startsWith(QStringLiteral("[Download to NOR FLASH]\n  line 0\n")));
  EXPECT_GT(log->verticalScrollBar()->maximum(), 0);
  EXPECT_EQ(log->verticalScrollBar()->value(), log->verticalScrollBar()->maximum());
  EXPECT_FALSE(log->isReadOnly());
}

class FakeDriver : public RunDriver {
 public:
  void OnRun(const RunRequest&) override { ++runs; }
  void SetVerify(bool) override {}
  bool IsRunning() const override { return running; }
  void RequestStop() override { ++stops; }
  int runs = 0, stops = 0;
  bool running = false;
};

TEST(MainDialogClosing, EscEnterAndCloseEndTheDialogWhileIdle) {
  // Enter outside a push button is the dialog's OK, in edit boxes, the product list and the log alike.
  for (int how = 0; how < 5; ++how) {
    ProgrammerDialog d;
    FakeDriver driver;
    d.SetRunDriver(&driver);
    d.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
    if (how == 0) QTest::keyClick(&d, Qt::Key_Escape);
    if (how == 1) QTest::keyClick(d.FileSelection()->Controls().Find(kIdImageBlock1), Qt::Key_Return);
    if (how == 2) QTest::keyClick(d.ProductList()->lineEdit(), Qt::Key_Return);
    if (how == 3) QTest::keyClick(d.Log(), Qt::Key_Return);
    if (how == 4) d.close();
    EXPECT_FALSE(d.isVisible()) << how;
    EXPECT_EQ(driver.stops, 0);
    EXPECT_EQ(driver.runs, 0);
  }
}

TEST(MainDialogClosing, EnterOnRunPressesRunInsteadOfClosing) {
  ProgrammerDialog d;
  FakeDriver driver;
  d.SetRunDriver(&driver);
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));
  d.RunButton()->setFocus();
  QTest::keyClick(d.RunButton(), Qt::Key_Return);
  EXPECT_EQ(driver.runs, 1);
  EXPECT_TRUE(d.isVisible());
}

TEST(MainDialogClosing, DuringARunAsksThenWaitsForTheRunToEnd) {
  ProgrammerDialog d;
  FakeDriver driver;
  driver.running = true;
  d.SetRunDriver(&driver);
  bool answer = false;
  int asked = 0;
  d.SetStopQuestion([&] {
    ++asked;
    return answer;
  });
  d.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&d));

  d.reject();  // the operator declines: the run goes on, the dialog stays
  EXPECT_EQ(asked, 1);
  EXPECT_EQ(driver.stops, 0);
  EXPECT_TRUE(d.isVisible());

  answer = true;
  d.close();
  EXPECT_EQ(driver.stops, 1);
  EXPECT_TRUE(d.ClosePending());
  QTest::qWait(200);
  EXPECT_TRUE(d.isVisible());  // jobs still running: the dialog waits
  d.RunButton()->click();      // no new run while closing waits
  EXPECT_EQ(driver.runs, 0);
  d.reject();  // a second close does not ask again
  EXPECT_EQ(asked, 2);

  driver.running = false;
  EXPECT_TRUE(QTest::qWaitFor([&] { return !d.isVisible(); }, 10000));
}

}  // namespace
}  // namespace zolt::ui
