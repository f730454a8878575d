// SPDX-License-Identifier: MIT
// The main dialog as an operator's habits meet it: Enter and Space on buttons, double clicks on
// RUN, Tab in the log, closing while a run ends, message box captions, the bench's caption.
#include <gtest/gtest.h>

#include <QApplication>
#include <QCheckBox>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTest>
#include <QTimer>
#include <functional>

#include "ui/control_ids.h"
#include "ui/log_view.h"
#include "ui/message_box.h"
#include "ui/pages/file_selection_page.h"
#include "ui/programmer_dialog.h"
#include "ui/run_driver.h"

namespace zolt::ui {
namespace {

// Stands in for run control: each press runs `onPress` (which plays what the jobs would do to
// the dialog) and is counted as RUN or STOP by the button's text at the time.
class ScriptedDriver : public RunDriver {
 public:
  explicit ScriptedDriver(ProgrammerDialog& d) : d_(d) {}
  void SetVerify(bool) override {}
  void OnRun(const RunRequest&) override {
    if (d_.RunButton()->text() == QStringLiteral("RUN")) {
      ++runs;
    } else {
      ++stops;
    }
    if (onPress) onPress();
  }
  bool IsRunning() const override { return running; }
  void RequestStop() override { ++stopRequests; }

  std::function<void()> onPress;
  int runs = 0, stops = 0, stopRequests = 0;
  bool running = false;

 private:
  ProgrammerDialog& d_;
};

QMessageBox* VisibleBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
  }
  return nullptr;
}

// Presses the first button of the next box that opens, once it is open.
void AnswerNextBox() {
  QTimer::singleShot(0, [] {
    if (QMessageBox* box = VisibleBox()) box->buttons().first()->click();
  });
}

// A key as the operator types it: to whatever control has the dialog's focus.
void Type(ProgrammerDialog& d, Qt::Key key, Qt::KeyboardModifiers modifiers = Qt::NoModifier) {
  QWidget* target = d.focusWidget() ? d.focusWidget() : &d;
  QTest::keyClick(target, key, modifiers);
}

struct Shown {
  ProgrammerDialog d;
  ScriptedDriver driver{d};
  Shown() {
    d.SetRunDriver(&driver);
    d.show();
    EXPECT_TRUE(QTest::qWaitForWindowExposed(&d));
    d.activateWindow();
    EXPECT_TRUE(QTest::qWaitForWindowActive(&d));
  }
  ~Shown() { d.SetRunDriver(nullptr); }
  QCheckBox* Verify() const { return d.Controls().Get<QCheckBox>(kIdVerifyBox); }
};

TEST(OperatorHabits, NoButtonIsTheDefaultAndEnterPressesTheFocusedOne) {
  Shown s;
  for (QPushButton* button : s.d.findChildren<QPushButton*>()) {
    EXPECT_FALSE(button->isDefault()) << button->text().toStdString();
    EXPECT_FALSE(button->autoDefault()) << button->text().toStdString();
  }
  // Enter on a page's push button presses it (the dialog stays); on RUN likewise.
  int chosen = 0;
  s.d.FileSelection()->SetFileChooser([&] {
    ++chosen;
    return QString();
  });
  s.d.FileSelection()->Controls().Find(kIdImageOpen1)->setFocus();
  Type(s.d, Qt::Key_Return);
  EXPECT_EQ(chosen, 1);
  s.d.RunButton()->setFocus();
  Type(s.d, Qt::Key_Return);
  EXPECT_EQ(s.driver.runs, 1);
  EXPECT_TRUE(s.d.isVisible());
}

TEST(OperatorHabits, SpaceAfterARunPressesRunAgainAndNeverTouchesVerify) {
  struct Case {
    const char* name;
    std::function<void(ProgrammerDialog&)> run;  // what a RUN press sets going, played whole
  } cases[] = {
      {"a complete download run",
       [](ProgrammerDialog& d) {
         d.ShowRunState(RunState::kStarting);  // OnRun
         d.ShowRunState(RunState::kRunning);   // the monitor starts
         d.ShowRunState(RunState::kEnding);    // every job has ended
         AnswerNextBox();
         ShowMessageBox(&d, QStringLiteral("ZOLT_USB_JTAG"), QStringLiteral("Download Complete !"));
         d.ShowRunState(RunState::kIdle);
       }},
      {"an error box at the start",
       [](ProgrammerDialog& d) {
         d.ShowRunState(RunState::kStarting);
         AnswerNextBox();
         ShowMessageBox(&d, QStringLiteral("ZOLT_USB_JTAG"),
                        QStringLiteral("Cannot Found Valid Device or JTAG ID"));
         d.ShowRunState(RunState::kIdle);
       }},
  };
  for (const Case& c : cases) {
    Shown s;
    bool sawFocusOnVerify = false;
    s.driver.onPress = [&] {
      if (s.driver.runs > 1) return;
      c.run(s.d);
    };
    // Watch where the focus goes while RUN is disabled.
    QObject::connect(qApp, &QApplication::focusChanged, &s.d, [&](QWidget*, QWidget* now) {
      if (now == s.Verify()) sawFocusOnVerify = true;
    });
    s.d.RunButton()->setFocus();
    Type(s.d, Qt::Key_Space);
    EXPECT_EQ(s.driver.runs, 1) << c.name;
    EXPECT_FALSE(sawFocusOnVerify) << c.name;
    EXPECT_EQ(s.d.focusWidget(), s.d.RunButton()) << c.name;
    Type(s.d, Qt::Key_Space);  // the operator's habit: the next run
    EXPECT_EQ(s.driver.runs, 2) << c.name;
    EXPECT_TRUE(s.Verify()->isChecked()) << c.name;
    EXPECT_TRUE(s.d.Fields().verifyEnabled) << c.name;
  }
}

TEST(OperatorHabits, WhileRunIsDisabledSpaceChangesNothing) {
  Shown s;
  s.d.RunButton()->setFocus();
  s.d.ShowRunState(RunState::kStarting);
  EXPECT_NE(s.d.focusWidget(), s.Verify());
  Type(s.d, Qt::Key_Space);
  EXPECT_TRUE(s.Verify()->isChecked());
  EXPECT_EQ(s.driver.runs, 0);
  // The operator moved on meanwhile: enabling RUN does not take the focus back.
  s.d.Log()->setFocus();
  s.d.ShowRunState(RunState::kIdle);
  EXPECT_EQ(s.d.focusWidget(), s.d.Log());
}

TEST(OperatorHabits, AStopWithinTheDoubleClickIntervalOfRunIsIgnored) {
  Shown s;
  int64_t now = 1000;
  s.d.SetClock([&] { return now; });
  s.driver.onPress = [&] { s.d.ShowRunState(RunState::kRunning); };
  const int interval = QApplication::doubleClickInterval();
  ASSERT_GT(interval, 1);

  // A double click: both clicks at one instant of the clock.
  QTest::mouseClick(s.d.RunButton(), Qt::LeftButton);
  QTest::mouseClick(s.d.RunButton(), Qt::LeftButton);
  EXPECT_EQ(s.driver.runs, 1);
  EXPECT_EQ(s.driver.stops, 0);
  now += interval - 1;
  s.d.RunButton()->click();
  EXPECT_EQ(s.driver.stops, 0);
  now += 1;  // from the interval on, STOP stops
  s.d.RunButton()->click();
  EXPECT_EQ(s.driver.stops, 1);

  // The next run's own RUN press counts from its time, and RUN itself is never ignored.
  s.driver.onPress = nullptr;
  s.d.ShowRunState(RunState::kIdle);
  s.d.RunButton()->click();
  EXPECT_EQ(s.driver.runs, 2);
  s.d.ShowRunState(RunState::kRunning);
  s.d.RunButton()->click();
  EXPECT_EQ(s.driver.stops, 1);
}

TEST(OperatorHabits, TabAndShiftTabLeaveTheLogAndCtrlTabTypesATab) {
  Shown s;
  LogView* log = s.d.Log();
  log->Append("line\r\n");
  for (Qt::Key key : {Qt::Key_Tab, Qt::Key_Backtab}) {
    log->setFocus();
    Type(s.d, key);
    EXPECT_NE(s.d.focusWidget(), log) << key;
    EXPECT_EQ(log->toPlainText(), QStringLiteral("line\n")) << key;
  }
  log->setFocus();
  Type(s.d, Qt::Key_Tab, Qt::ControlModifier);
  EXPECT_EQ(s.d.focusWidget(), log);
  EXPECT_EQ(log->toPlainText(), QStringLiteral("line\n\t"));
}

TEST(OperatorHabits, TheCloseQuestionGoesWhenTheRunEndsAndTheDialogClosesAfterTheEndReport) {
  Shown s;
  s.driver.running = true;
  s.d.ShowRunState(RunState::kRunning);
  s.d.close();
  QPointer<QMessageBox> question = s.d.StopQuestion();
  ASSERT_NE(question, nullptr);
  EXPECT_TRUE(question->isVisible());
  EXPECT_EQ(question->text(), QStringLiteral("A run is in progress. Stop it and close the program?"));

  s.d.ShowRunState(RunState::kEnding);  // the monitor: every job has ended, the end report follows
  EXPECT_EQ(s.d.StopQuestion(), nullptr);
  QApplication::processEvents();
  EXPECT_TRUE(!question || !question->isVisible());
  EXPECT_TRUE(s.d.ClosePending());
  EXPECT_EQ(s.driver.stopRequests, 0);  // nothing left to stop
  s.d.PollRunEnd();
  EXPECT_TRUE(s.d.isVisible());  // "Download Complete !" is still to be acknowledged

  s.driver.running = false;  // acknowledged: the monitor has ended
  s.d.PollRunEnd();
  EXPECT_FALSE(s.d.isVisible());
}

TEST(OperatorHabits, TheCloseQuestionAnsweredOrOutlivedByTheRun) {
  struct Case {
    const char* name;
    std::function<void(Shown&)> meanwhile;
    bool closes;
    int stopRequests;
  } cases[] = {
      {"No", [](Shown& s) { s.d.StopQuestion()->button(QMessageBox::No)->click(); }, false, 0},
      {"Yes",
       [](Shown& s) {
         s.d.StopQuestion()->button(QMessageBox::Yes)->click();
         s.d.PollRunEnd();
         EXPECT_TRUE(s.d.isVisible());  // the stopped run's jobs are still ending
         s.driver.running = false;
       },
       true, 1},
      {"the run ends without a report", [](Shown& s) { s.driver.running = false; }, true, 0},
      {"STOP pressed before closing: the question waits for its answer",
       [](Shown& s) {
         s.d.PollRunEnd();
         EXPECT_NE(s.d.StopQuestion(), nullptr);
         s.d.StopQuestion()->button(QMessageBox::No)->click();
       },
       false, 0},
  };
  for (const Case& c : cases) {
    Shown s;
    s.driver.running = true;
    s.d.ShowRunState(RunState::kRunning);
    if (std::string(c.name).starts_with("STOP")) {
      s.driver.onPress = [&] { s.d.ShowRunState(RunState::kStopping); };  // run control's STOP
      s.d.RunButton()->click();
    }
    s.d.close();
    ASSERT_NE(s.d.StopQuestion(), nullptr) << c.name;
    c.meanwhile(s);
    s.d.PollRunEnd();
    EXPECT_EQ(s.d.StopQuestion(), nullptr) << c.name;
    EXPECT_EQ(!s.d.isVisible(), c.closes) << c.name;
    EXPECT_EQ(s.driver.stopRequests, c.stopRequests) << c.name;
  }
}

TEST(OperatorHabits, MessageBoxesAreWideEnoughForTheirCaption) {
  for (const char* caption : {"ZOLT_USB_JTAG", "Error"}) {
    QMessageBox box(QMessageBox::NoIcon, QString::fromLatin1(caption), QStringLiteral("OK"), QMessageBox::Ok);
    FitCaption(&box);
    box.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&box));
    QFont bold = box.font();
    bold.setBold(true);
    EXPECT_GE(CaptionWidth(&box), QFontMetrics(bold).horizontalAdvance(box.windowTitle()) + 150);
    EXPECT_GE(box.width(), CaptionWidth(&box)) << caption;
  }
}

TEST(OperatorHabits, TheCaptionTellsTheVirtualBench) {
  const QByteArray saved = qgetenv("VORLINK_BENCH");
  const bool had = qEnvironmentVariableIsSet("VORLINK_BENCH");
  const QString plain = QStringLiteral("ZOLT USB JTAG Programmer (Ver 2.0.00)");
  struct Case {
    const char* value;  // null: unset
    QString caption;
  } cases[] = {
      {nullptr, plain}, {"", plain}, {"/tmp/bench.toml", plain + QStringLiteral(" [virtual bench]")}};
  for (const Case& c : cases) {
    if (c.value) {
      qputenv("VORLINK_BENCH", c.value);
    } else {
      qunsetenv("VORLINK_BENCH");
    }
    ProgrammerDialog d;
    EXPECT_EQ(d.windowTitle(), c.caption) << (c.value ? c.value : "(unset)");
  }
  if (had) {
    qputenv("VORLINK_BENCH", saved);
  } else {
    qunsetenv("VORLINK_BENCH");
  }
}

}  // namespace
}  // namespace zolt::ui
