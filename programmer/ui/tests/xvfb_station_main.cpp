// SPDX-License-Identifier: MIT
// zolt-ui-xvfb-station: the station window in a real X server with a window manager, driven by
// xdotool as an operator would. A right click on the dialog opens its menu and a click on
// "Station..." opens the window; the dialog gets KELDA, NOR (clicked), EN29LV040A, block 2 (typed)
// and the image in slot 1; "History File..." is clicked and the path typed into the file dialog;
// Start is clicked. Boards then come and go through PROBESIM_CONTROL: f0, f1 while f0 programs,
// f0 taken off once OK and a new board placed, f2 once f1 is OK. Once the tiles show OK, Stop is
// clicked, and the tiles, the counters, the recent boards and the history file must agree: four
// boards, each programmed once, all ok.
//
//   zolt-ui-xvfb-station IMAGE HISTORY SCREENSHOT.png
//
// Needs DISPLAY, xdotool, VORLINK_BENCH naming examples/benches/station-4.toml and PROBESIM_CONTROL.
// Prints "ok: ..." / "FAILED: ..." lines and "flash f<n> <serial> <offset>" for each board placed,
// for scripts/xvfb-station-test to compare the flash files once the bench has written them back.
// Exits 0 when every check holds.
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QFile>
#include <QFileDialog>
#include <QFileInfo>
#include <QJsonArray>
#include <QJsonDocument>
#include <QJsonObject>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QMessageBox>
#include <QPixmap>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <map>

#include "testing/bench_control.h"
#include "testing/qt_wait.h"
#include "ui/control_ids.h"
#include "ui/dialog_application.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/station_tile.h"
#include "ui/station_window.h"

namespace {

using namespace std::chrono_literals;
using zolt::FixtureState;
using zolt::testing::ServeUntil;
using zolt::testing::XdoTool;
using zolt::ui::ProgrammerDialog;
using zolt::ui::StationWindow;

constexpr int kImageBlock = 2;

int failures = 0;

bool Check(bool ok, const QString& what) {
  std::printf("%s: %s\n", ok ? "ok" : "FAILED", qPrintable(what));
  std::fflush(stdout);
  if (!ok) ++failures;
  return ok;
}

bool ClickAt(const QPoint& global, int button = 1) {
  return XdoTool({QStringLiteral("mousemove"), QString::number(global.x()), QString::number(global.y()),
                  QStringLiteral("click"), QString::number(button)});
}

bool ClickOn(QWidget* w, int button = 1) {
  return ClickAt(w->mapToGlobal(w->rect().center()), button);
}

// Runs `act` once `ready` holds, from a timer: a menu's exec() and a modal file dialog run event
// loops of their own, in which only timers (not the caller's wait) still run.
void WhenReady(std::function<bool()> ready, std::function<void()> act) {
  auto* timer = new QTimer;
  QObject::connect(timer, &QTimer::timeout, [timer, ready = std::move(ready), act = std::move(act)] {
    if (!ready()) return;
    timer->stop();
    timer->deleteLater();
    act();
  });
  timer->start(50);
}

template <class T>
T* VisibleTopLevel() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* t = qobject_cast<T*>(w); t && t->isVisible()) return t;
  }
  return nullptr;
}

bool OpenStationFromMenu(zolt::ui::DialogApplication& program) {
  ProgrammerDialog& d = program.Dialog();
  WhenReady([] { return VisibleTopLevel<QMenu>() != nullptr; },
            [] {
              QMenu* menu = VisibleTopLevel<QMenu>();
              for (QAction* action : menu->actions()) {
                if (action->text() == QStringLiteral("Station..."))
                  ClickAt(menu->mapToGlobal(menu->actionGeometry(action).center()));
              }
            });
  // An empty spot of the dialog: left of the log, below the title.
  ClickAt(d.mapToGlobal(QPoint(4, 4)), 3);
  return ServeUntil([&] { return program.Station() && program.Station()->isVisible(); }, 10s);
}

void SetSettings(ProgrammerDialog& d, const QString& image) {
  // The operator goes back to the dialog (the station window may cover part of it).
  d.raise();
  d.activateWindow();
  ServeUntil([&] { return d.isActiveWindow(); }, 10s);
  const int kelda = d.ProductList()->findText(QStringLiteral("KELDA"));
  d.ProductList()->setCurrentIndex(kelda);
  Q_EMIT d.ProductList()->activated(kelda);
  ClickOn(d.NorButton());
  Check(ServeUntil([&] { return d.NorButton()->isChecked(); }, 5s), "a click on NOR selects NOR");
  QComboBox* types = d.NorOptions()->NorTypeList();
  const int part = types->findText(QStringLiteral("EN29LV040A"), Qt::MatchContains);
  Check(part >= 0, "the NOR types hold EN29LV040A");
  types->setCurrentIndex(part);
  Q_EMIT types->activated(part);
  d.FileSelection()->SetFileChooser([image] { return image; });
  d.FileSelection()->OnOpenImage(0);
  // The block is typed into slot 1's block box.
  auto* block = d.FileSelection()->Controls().Get<QLineEdit>(zolt::ui::kIdImageBlock1);
  if (!Check(block != nullptr, "slot 1 has a block box")) return;
  ClickOn(block);
  XdoTool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("type"),
           QString::number(kImageBlock)});
  Check(block->text() == QString::number(kImageBlock),
        QStringLiteral("block %1 typed into slot 1").arg(kImageBlock));
}

bool ChooseHistory(StationWindow& w, const QString& path) {
  WhenReady(
      [] {
        auto* dialog = VisibleTopLevel<QFileDialog>();
        return dialog && dialog->isActiveWindow();
      },
      [path] {
        XdoTool({QStringLiteral("key"), QStringLiteral("ctrl+a"), QStringLiteral("type"),
                 QStringLiteral("--delay"), QStringLiteral("10"), path});
        XdoTool({QStringLiteral("key"), QStringLiteral("Return")});
      });
  ClickOn(w.HistoryButton());
  return ServeUntil([&] { return w.HistoryPath() == path && !VisibleTopLevel<QFileDialog>(); }, 20s);
}

class Fixtures {
 public:
  Fixtures(StationWindow& w, const char* control) : w_(w), bench_(control) {}

  FixtureState State(int n) const { return w_.Tile(n)->Status().state; }
  bool WaitState(int n, FixtureState state, const char* what) {
    const bool reached = ServeUntil([&] { return State(n) == state; }, 60s);
    return Check(reached, QStringLiteral("f%1 %2").arg(n).arg(QString::fromLatin1(what)));
  }
  void Send(const std::string& command, int n) {
    Check(bench_.Send(command) == "ok", QString::fromStdString(command));
    if (command.starts_with("attach")) {
      ++placed_[n];
      // The flash file of the board just placed; its serial counts per probe.
      std::printf("flash f%d %d %d\n", n, placed_[n], kImageBlock * 64 * 1024);
    }
  }
  int Placed(int n) const { return placed_.contains(n) ? placed_.at(n) : 0; }

 private:
  StationWindow& w_;
  zolt::testing::BenchControl bench_;
  std::map<int, int> placed_;
};

QList<QJsonObject> ReadHistory(const QString& path) {
  QList<QJsonObject> lines;
  QFile file(path);
  if (!file.open(QIODevice::ReadOnly)) return lines;
  for (const QByteArray& line : file.readAll().split('\n')) {
    if (line.isEmpty()) continue;
    QJsonParseError error{};
    const QJsonDocument doc = QJsonDocument::fromJson(line, &error);
    Check(error.error == QJsonParseError::NoError && doc.isObject(), "a history line is one JSON object");
    lines << doc.object();
  }
  return lines;
}

void CheckAgreement(StationWindow& w, const Fixtures& fixtures, const QString& historyPath,
                    qint64 imageSize) {
  int placed = 0;
  for (int n = 0; n < 4; ++n) {
    placed += fixtures.Placed(n);
    const uint64_t boards = w.Tile(n)->Status().boards;
    Check(boards == uint64_t(fixtures.Placed(n)),
          QStringLiteral("tile f%1 counts %2 boards (\"%3\"), as placed")
              .arg(n)
              .arg(boards)
              .arg(w.Tile(n)->BoardsText()));
  }
  Check(w.OkCount()->text() == QStringLiteral("Boards OK: %1").arg(placed),
        QStringLiteral("counter \"%1\"").arg(w.OkCount()->text()));
  Check(w.FailedCount()->text() == QStringLiteral("Failed: 0"),
        QStringLiteral("counter \"%1\"").arg(w.FailedCount()->text()));
  Check(w.RecentBoards()->rowCount() == placed,
        QStringLiteral("%1 rows of recent boards").arg(w.RecentBoards()->rowCount()));

  const QList<QJsonObject> history = ReadHistory(historyPath);
  std::map<qint64, int> started, ended;  // by sequence
  std::map<int, int> okByDevice;
  for (const QJsonObject& line : history) {
    const qint64 sequence = line[QStringLiteral("sequence")].toInteger();
    if (line[QStringLiteral("event")].toString() == QStringLiteral("started")) {
      ++started[sequence];
      continue;
    }
    ++ended[sequence];
    const QJsonObject image = line[QStringLiteral("images")].toArray().first().toObject();
    const bool ok =
        line[QStringLiteral("result")].toString() == QStringLiteral("ok") &&
        image[QStringLiteral("ok")].toBool() && image[QStringLiteral("sentBytes")].toInteger() == imageSize &&
        image[QStringLiteral("place")].toString().startsWith(QStringLiteral("block %1,").arg(kImageBlock));
    Check(ok, QStringLiteral("history: board %1 on fixture %2 ended ok with the whole image at block %3")
                  .arg(sequence)
                  .arg(line[QStringLiteral("device")].toInt())
                  .arg(kImageBlock));
    if (ok) ++okByDevice[line[QStringLiteral("device")].toInt()];
    // The recent boards' row of the same board.
    bool inTable = false;
    for (int row = 0; row < w.RecentBoards()->rowCount(); ++row) {
      const zolt::BoardRecord* record = w.RecentRecord(row);
      inTable |= record && qint64(record->sequence) == sequence && record->result == "ok" &&
                 record->device == line[QStringLiteral("device")].toInt();
    }
    Check(inTable, QStringLiteral("history: board %1 is in the recent boards as ok").arg(sequence));
  }
  Check(int(started.size()) == placed && int(ended.size()) == placed,
        QStringLiteral("history: %1 boards started, %2 ended, %3 placed")
            .arg(started.size())
            .arg(ended.size())
            .arg(placed));
  bool once = true;
  for (const auto& [sequence, count] : started) once &= count == 1 && ended[sequence] == 1;
  Check(once, "history: every board has exactly one started and one ended line");
  for (int n = 0; n < 4; ++n) {
    Check(okByDevice[n] == fixtures.Placed(n),
          QStringLiteral("history: fixture f%1 has %2 ok boards, the tile %3")
              .arg(n)
              .arg(okByDevice[n])
              .arg(w.Tile(n)->Status().boards));
  }
}

}  // namespace

int main(int argc, char** argv) {
  zolt::ui::PreferClassicStyle(argc, argv);
  // Qt's own file dialog, whatever the desktop: its file name box takes the typed path.
  QApplication::setAttribute(Qt::AA_DontUseNativeDialogs);
  QApplication app(argc, argv);
  const QStringList args = QApplication::arguments().mid(1);
  const char* control = std::getenv("PROBESIM_CONTROL");
  if (args.size() != 3 || control == nullptr) {
    std::fprintf(stderr,
                 "usage: PROBESIM_CONTROL=SOCKET zolt-ui-xvfb-station IMAGE HISTORY SCREENSHOT.png\n");
    return 2;
  }
  const QString image = args[0], historyPath = args[1], screenshot = args[2];
  zolt::ui::DialogApplication program;
  ProgrammerDialog& d = program.Dialog();
  d.show();
  d.raise();
  d.activateWindow();
  ServeUntil([&] { return d.isActiveWindow(); }, 10s);

  if (!Check(OpenStationFromMenu(program), "the menu's \"Station...\" entry opens the station window"))
    return 1;
  StationWindow& w = *program.Station();
  // Side by side where the screen is wide enough; the dialog is raised when it is set.
  w.move(std::max(0, w.screen()->geometry().width() - w.frameGeometry().width()), 0);
  SetSettings(d, image);
  w.raise();
  w.activateWindow();
  ServeUntil([&] { return w.isActiveWindow(); }, 10s);
  if (!Check(ChooseHistory(w, historyPath), "the history file is chosen in the file dialog")) return 1;

  ClickOn(w.StartButton());
  if (!Check(ServeUntil([&] { return w.Running(); }, 10s), "a click on Start starts the station")) return 1;
  Check(
      w.Header()->text().contains(QStringLiteral("EN29LV040A")),
      QStringLiteral("the window shows the settings taken: %1").arg(w.Header()->text().replace('\n', " | ")));

  Fixtures f(w, control);
  f.Send("attach f0", 0);
  f.WaitState(0, FixtureState::kProgramming, "programs its board");
  f.Send("attach f1", 1);
  f.WaitState(0, FixtureState::kOk, "shows OK");
  f.Send("detach f0", 0);
  f.WaitState(0, FixtureState::kWaiting, "waits once its board is off");
  f.Send("attach f0", 0);
  f.WaitState(1, FixtureState::kOk, "shows OK");
  f.Send("attach f2", 2);
  const bool allOk = ServeUntil(
      [&] {
        return f.State(0) == FixtureState::kOk && f.State(1) == FixtureState::kOk &&
               f.State(2) == FixtureState::kOk && w.Tile(0)->Status().boards == 2;
      },
      60s);
  Check(allOk, "f0, f1, f2 show OK");
  Check(f.State(3) == FixtureState::kWaiting, "f3, never given a board, waits");
  // A few polls more: a board shown OK must not be started again.
  ServeUntil([] { return false; }, 1500ms);

  // Before Stop: the window as an operator sees it.
  QApplication::processEvents();
  const QRect frame = w.frameGeometry();
  if (!w.screen()->grabWindow(0, frame.x(), frame.y(), frame.width(), frame.height()).save(screenshot))
    Check(false, QStringLiteral("cannot save the screenshot %1").arg(screenshot));

  ClickOn(w.StopButton());
  Check(ServeUntil([&] { return !w.Running(); }, 30s),
        "a click on Stop ends the station (no board in progress)");
  Check(w.NoteText()->text() == QStringLiteral("The station has ended."),
        QStringLiteral("the note says \"%1\"").arg(w.NoteText()->text()));
  Check(d.RunButton()->isEnabled(), "RUN is enabled again");
  CheckAgreement(w, f, historyPath, QFileInfo(image).size());
  std::printf("%d failed\n", failures);
  return failures == 0 ? 0 : 1;
}
