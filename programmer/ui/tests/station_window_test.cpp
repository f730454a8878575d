// SPDX-License-Identifier: MIT
// The dialog's station window: its tiles' looks, the boxes that keep it from starting, and the
// station end to end on virtual benches through the real libVorlink.so (each test in a process
// of its own: the link library reads its bench once).
#include "ui/station_window.h"

#include <gtest/gtest.h>
#include <sys/stat.h>

#include <QAction>
#include <QApplication>
#include <QComboBox>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <fstream>
#include <mutex>

#include "testing/bench_control.h"
#include "testing/bench_files.h"
#include "testing/qt_wait.h"
#include "testing/recording_operator.h"
#include "testing/scratch_dir.h"
#include "ui/colour_contrast.h"
#include "ui/dialog_application.h"
#include "ui/log_view.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/station_tile.h"

namespace zolt::ui {
namespace {

using zolt::testing::ServeUntil;
using zolt::testing::VisibleBox;

QPalette LightPalette() {
  QPalette p(QColor(240, 240, 240), QColor(255, 255, 255));
  p.setColor(QPalette::WindowText, Qt::black);
  p.setColor(QPalette::Mid, QColor(160, 160, 160));
  return p;
}

QPalette DarkPalette() {
  QPalette p;
  p.setColor(QPalette::Window, QColor(53, 53, 53));
  p.setColor(QPalette::WindowText, Qt::white);
  p.setColor(QPalette::Base, QColor(25, 25, 25));
  p.setColor(QPalette::Text, Qt::white);
  p.setColor(QPalette::Mid, QColor(44, 44, 44));
  return p;
}

// Keeps every line; every Append fails once `failing` is set.
class MemoryHistory final : public BoardHistory {
 public:
  bool Append(const BoardRecord& record, bool ended, std::string* error) override {
    std::lock_guard lock(mu);
    if (failing) {
      *error = "history.jsonl: No space left on device";
      return false;
    }
    lines.emplace_back(record.sequence, ended);
    return true;
  }
  size_t Lines() {
    std::lock_guard lock(mu);
    return lines.size();
  }
  std::mutex mu;
  bool failing = false;
  std::vector<std::pair<uint64_t, bool>> lines;
};

class FakeHost final : public StationHost {
 public:
  RunRequest StationRequest() override { return op.Request(); }
  bool StationVerify() override { return op.fields.verifyEnabled; }
  bool NormalRunInProgress() override { return runInProgress; }
  void StationRunning(bool running) override { shown.push_back(running); }
  zolt::testing::RecordingOperator op;
  bool runInProgress = false;
  std::vector<bool> shown;  // every StationRunning call
};

// Presses OK on each box as it shows and keeps its text (the boxes of Start are modal).
class BoxAnswerer {
 public:
  explicit BoxAnswerer(QMessageBox::StandardButton button = QMessageBox::Ok) {
    QObject::connect(&timer_, &QTimer::timeout, [this, button] {
      if (QMessageBox* box = VisibleBox()) {
        texts.push_back(box->text());
        if (QAbstractButton* b = box->button(button)) b->click();
      }
    });
    timer_.start(5);
  }
  QStringList texts;

 private:
  QTimer timer_;
};

TEST(StationTileLook, EachStateHasItsWordAndAReadableColourInLightAndDarkPalettes) {
  struct Case {
    FixtureState state;
    const char* word;
    int hueLow, hueHigh;  // the fill's hue range; -1: a grey (no hue)
  } cases[] = {
      {FixtureState::kNoProbe, "NO PROBE", -1, -1},
      {FixtureState::kWaiting, "WAITING", -2, 360},
      {FixtureState::kProgramming, "PROGRAMMING", 200, 230},
      {FixtureState::kOk, "OK", 110, 150},
      {FixtureState::kFailed, "FAILED", 0, 15},
      {FixtureState::kStopping, "STOPPING", 35, 50},
  };
  for (const QPalette& palette : {LightPalette(), DarkPalette()}) {
    for (const Case& c : cases) {
      SCOPED_TRACE(std::string(c.word) +
                   (palette.color(QPalette::Window).lightness() < 128 ? " dark" : " light"));
      const TileLook look = LookOf(c.state, palette);
      EXPECT_EQ(look.word, QString::fromLatin1(c.word));
      EXPECT_GE(ContrastRatio(look.text, look.fill), kReadableContrast);
      EXPECT_GE(ContrastRatio(look.barDone, look.barTrack), kControlContrast);
      if (c.hueLow == -1) {
        EXPECT_EQ(look.fill.hslHue(), -1);
      }
      if (c.hueLow >= 0) {
        EXPECT_GE(look.fill.hslHue(), c.hueLow);
        EXPECT_LE(look.fill.hslHue(), c.hueHigh);
      }

      // What is drawn: the fill, and ink readable on it (the word and the lines).
      StationTile tile(3);
      tile.setPalette(palette);
      FixtureStatus status;
      status.device = 3;
      status.state = c.state;
      status.boards = 4;
      status.lastBoardSeconds = 2.5;
      status.failureText = "Cannot Read 'Read Flash ID' Response";
      tile.SetStatus(status);
      tile.SetPercent(40);
      tile.resize(tile.sizeHint());
      const QImage image = tile.grab().toImage();
      EXPECT_EQ(image.pixelColor(3, image.height() / 2), look.fill);
      int ink = 0;
      for (int y = 1; y < image.height() - 1; ++y)
        for (int x = 1; x < image.width() - 1; ++x)
          ink += ContrastRatio(image.pixelColor(x, y), look.fill) >= 4.5;
      EXPECT_GT(ink, 100);
    }
  }
}

TEST(StationTileLook, TextsOfATile) {
  StationTile tile(7);
  FixtureStatus status;
  status.device = 7;
  status.location = "usb:1-2.4";
  status.state = FixtureState::kFailed;
  status.boards = 1;
  status.sequence = 5;
  status.lastBoardSeconds = 14.26;
  status.failureText = "Cannot Read 'Read Flash ID' Response";
  tile.SetStatus(status);
  EXPECT_EQ(tile.LocationText(), QStringLiteral("#7  usb:1-2.4"));
  EXPECT_EQ(tile.BoardsText(), QStringLiteral("1 board"));
  EXPECT_EQ(tile.LastTimeText(), QStringLiteral("last 14.3 s"));
  EXPECT_EQ(tile.DetailText(), QStringLiteral("Cannot Read 'Read Flash ID' Response"));
  // A box shown while the next board runs is its text; the board after it starts clean.
  status.state = FixtureState::kProgramming;
  status.sequence = 6;
  tile.SetStatus(status);
  tile.SetMessage(QStringLiteral("Verify Error"));
  EXPECT_EQ(tile.DetailText(), QStringLiteral("Verify Error"));
  status.sequence = 7;
  tile.SetStatus(status);
  EXPECT_EQ(tile.DetailText(), QString());
  status.state = FixtureState::kOk;
  tile.SetStatus(status);
  EXPECT_EQ(tile.DetailText(), QStringLiteral("remove board"));
}

// A box instead of a start: a normal run in progress, a history file that cannot be opened, no
// image file (the station's own check, as RUN's).
TEST(StationWindowRefusal, StartShowsWhyAndStartsNothing) {
  struct Case {
    bool runInProgress;
    const char* history;  // the chosen history file, "" for none
    bool image;
    const char* box;         // the window's modal box, or null
    const char* logMessage;  // the box the station showed through the log's RunView, or null
  } cases[] = {
      {true, "", true, "A run is in progress. The station can start once it has ended.", nullptr},
      {false, "/nonexistent/h.jsonl", true,
       "Cannot open the history file: /nonexistent/h.jsonl: No such file or directory. The station does not "
       "start.",
       nullptr},
      {false, "", false, nullptr, "Cannot open image files"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.box != nullptr ? c.box : c.logMessage);
    FakeHost host;
    host.runInProgress = c.runInProgress;
    host.op.fields.productIndex = 1;
    host.op.norType = 1;
    if (c.image) host.op.imagePath = {"/nonexistent/app.bin", "", ""};
    zolt::testing::RecordingOperator log;
    int opened = 0;
    StationOptions options;
    options.libraryName = VORLINK_PATH;
    StationWindow window(
        log, host,
        [&](const std::string& path, std::string* error) -> std::unique_ptr<BoardHistory> {
          ++opened;
          *error = path + ": No such file or directory";
          return nullptr;
        },
        options);
    window.show();
    // No history chosen: said in a warning colour, still readable.
    const QColor warning = window.HistoryText()->palette().color(QPalette::WindowText);
    EXPECT_NE(warning, window.palette().color(QPalette::WindowText));
    EXPECT_GE(ContrastRatio(warning, window.palette().color(QPalette::Window)), kReadableContrast);
    if (*c.history != '\0') {
      window.SetHistoryChooser([&] { return QString::fromLatin1(c.history); });
      window.HistoryButton()->click();
      EXPECT_EQ(window.HistoryText()->text(), QString::fromLatin1(c.history));
      EXPECT_EQ(window.HistoryText()->palette().color(QPalette::WindowText),
                window.palette().color(QPalette::WindowText));
    }

    BoxAnswerer answerer;
    window.StartButton()->click();
    EXPECT_EQ(answerer.texts, c.box != nullptr ? QStringList{QString::fromLatin1(c.box)} : QStringList{});
    EXPECT_EQ(log.Messages(),
              c.logMessage != nullptr ? std::vector<std::string>{c.logMessage} : std::vector<std::string>{});
    EXPECT_FALSE(window.Running());
    EXPECT_TRUE(window.StartButton()->isEnabled());
    EXPECT_FALSE(window.StopButton()->isEnabled());
    // RUN was not locked, or locked only while the station's Start checked the settings.
    EXPECT_EQ(host.shown, c.logMessage != nullptr ? (std::vector<bool>{true, false}) : std::vector<bool>{});
    EXPECT_EQ(opened, *c.history != '\0' ? 1 : 0);
    EXPECT_EQ(log.Log(), "");
  }
}

// The bench files of the tests below.
using zolt::testing::BenchProbe;
using zolt::testing::BenchToml;
using zolt::testing::EmptyFixtures;
using zolt::testing::RealisticTiming;

class StationWindowBench : public ::testing::Test {
 protected:
  void UseBench(const std::string& toml, unsigned with = 0) { files.Use(toml, with); }
  // KELDA, NOR EN29LV040A, image #1 of `size` bytes at block 1.
  void KeldaNor(size_t size) {
    std::string bytes(size, '\0');
    for (size_t i = 0; i < size; ++i) bytes[i] = static_cast<char>((i * 7 + 3) & 0xFF);
    zolt::testing::SelectKeldaNor(host.op, dir.Write("app.bin", bytes));
  }
  StationOptions Options() const {
    StationOptions options;
    options.libraryName = VORLINK_PATH;
    options.pollMs = 5;
    options.version = "2.0.0";
    options.host = "test-host";
    return options;
  }
  std::unique_ptr<StationWindow> Window() {
    auto window = std::make_unique<StationWindow>(
        log, host,
        [this](const std::string& path, std::string*) -> std::unique_ptr<BoardHistory> {
          openedPaths.push_back(path);
          auto history = std::make_unique<MemoryHistory>();
          history->failing = historiesFail;
          histories.push_back(history.get());
          return history;
        },
        Options());
    window->show();
    return window;
  }
  // Chooses KELDA, NOR EN29LV040A and `image` as image #1 in the dialog as an operator does, and
  // shows it.
  static void ChooseKeldaNor(ProgrammerDialog& d, const std::string& image) {
    d.ProductList()->setCurrentIndex(1);
    Q_EMIT d.ProductList()->activated(1);
    d.NorButton()->click();
    d.NorOptions()->NorTypeList()->setCurrentIndex(1);
    Q_EMIT d.NorOptions()->NorTypeList()->activated(1);
    d.FileSelection()->SetFileChooser([path = QString::fromStdString(image)] { return path; });
    d.FileSelection()->OnOpenImage(0);
    d.show();
  }
  void StartOnOneSlowBoard(std::unique_ptr<StationWindow>& window);
  static int RowsWithResult(const StationWindow& window, const char* result) {
    int n = 0;
    for (int row = 0; row < window.RecentBoards()->rowCount(); ++row)
      n += window.RecentBoards()->item(row, 2)->text() == QString::fromLatin1(result);
    return n;
  }

  zolt::testing::ScratchDir dir{"zolt-ui-station"};
  zolt::testing::BenchFiles files{dir};
  zolt::testing::RecordingOperator log;
  FakeHost host;
  std::vector<std::string> openedPaths;
  std::vector<MemoryHistory*> histories;  // owned by the window while its station runs
  bool historiesFail = false;             // the histories opened fail every line
};

const std::string kTwoGoodOneFaulty =
    BenchToml({BenchProbe(), BenchProbe().Fault("no_answer = [0x14]"), BenchProbe()});

TEST_F(StationWindowBench, BoardsEndOnTheirTilesInTheCountersAndTheRecentBoardsAndStartWorksAgain) {
  UseBench(kTwoGoodOneFaulty);
  KeldaNor(3000);
  auto window = Window();
  window->SetHistoryPath(dir.File("history.jsonl").c_str());
  EXPECT_TRUE(window->Header()->text().contains(
      QStringLiteral("Product: KELDA\nFlash: NOR\nNOR: EN29LV040A, width 8, interleave 1, offset 0x00000000\n"
                     "Image #1: app.bin, block 1\nVerify: on")))
      << window->Header()->text().toStdString();

  for (int round = 1; round <= 2; ++round) {
    SCOPED_TRACE(round);
    window->StartButton()->click();
    ASSERT_TRUE(window->Running());
    EXPECT_EQ(host.shown.back(), true);  // RUN is locked
    EXPECT_FALSE(window->StartButton()->isEnabled());
    EXPECT_FALSE(window->HistoryButton()->isEnabled());
    ASSERT_TRUE(ServeUntil([&] { return window->RecentBoards()->rowCount() == 3; }));
    ASSERT_TRUE(ServeUntil([&] {
      return window->Tile(0)->Word() == QStringLiteral("OK") &&
             window->Tile(2)->Word() == QStringLiteral("OK") &&
             window->Tile(1)->Word() == QStringLiteral("FAILED");
    }));
    // The failing board's box is its tile's text, never a modal box: the others went on.
    EXPECT_EQ(window->Tile(1)->DetailText(), QStringLiteral("Cannot Read 'Read Flash ID' Response"));
    EXPECT_EQ(window->Tile(0)->DetailText(), QStringLiteral("remove board"));
    EXPECT_EQ(log.Messages(), std::vector<std::string>{});
    EXPECT_EQ(VisibleBox(), nullptr);
    for (int device = 0; device < 3; ++device) {
      EXPECT_EQ(window->Tile(device)->Status().boards, 1u) << device;
      EXPECT_TRUE(window->Tile(device)->LocationText().startsWith(QStringLiteral("#%1  ").arg(device)))
          << device;
    }
    for (int device = 3; device < 16; ++device)
      EXPECT_EQ(window->Tile(device)->Word(), QStringLiteral("NO PROBE"));
    ASSERT_TRUE(ServeUntil([&] { return window->OkCount()->text() == QStringLiteral("Boards OK: 2"); }));
    EXPECT_EQ(window->FailedCount()->text(), QStringLiteral("Failed: 1"));
    EXPECT_TRUE(window->ElapsedText()->text().startsWith(QStringLiteral("Elapsed: 00:")));

    // Newest first, one row per board, the failure text in its row.
    EXPECT_EQ(RowsWithResult(*window, "ok"), 2);
    EXPECT_EQ(RowsWithResult(*window, "failed"), 1);
    for (int row = 0; row < 3; ++row) {
      const BoardRecord* record = window->RecentRecord(row);
      ASSERT_NE(record, nullptr);
      if (row > 0) {
        EXPECT_GE(window->RecentRecord(row - 1)->endedUtc, record->endedUtc);
      }
      EXPECT_EQ(window->RecentBoards()->item(row, 1)->text(),
                QStringLiteral("#%1 %2").arg(record->device).arg(QString::fromStdString(record->location)));
      EXPECT_EQ(window->RecentBoards()->item(row, 4)->text(),
                record->device == 1 ? QStringLiteral("Cannot Read 'Read Flash ID' Response") : QString());
    }

    // A double click shows the record in full.
    int failedRow = 0;
    while (window->RecentRecord(failedRow)->device != 1) ++failedRow;
    Q_EMIT window->RecentBoards()->cellDoubleClicked(failedRow, 0);
    QMessageBox* box = nullptr;
    ASSERT_TRUE(ServeUntil([&] { return (box = window->findChild<QMessageBox*>()) != nullptr; }));
    for (const char* line :
         {"Fixture: DEVICE #1", "Product: KELDA", "JTAG ID: 0x00AECADD", "Result: failed",
          "Failure: Cannot Read 'Read Flash ID' Response", "Host: test-host", "Version: 2.0.0"}) {
      EXPECT_TRUE(box->text().contains(QString::fromLatin1(line))) << line << "\n"
                                                                   << box->text().toStdString();
    }
    EXPECT_TRUE(window->Running());  // the box holds nothing
    box->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(ServeUntil([&] { return window->findChild<QMessageBox*>() == nullptr; }));

    // No board in progress: the first Stop ends the station.
    window->StopButton()->click();
    ASSERT_TRUE(ServeUntil([&] { return !window->Running(); }));
    EXPECT_EQ(host.shown.back(), false);
    EXPECT_TRUE(window->StartButton()->isEnabled());
    EXPECT_FALSE(window->StopButton()->isEnabled());
    EXPECT_EQ(window->Tile(1)->Word(), QStringLiteral("FAILED"));  // the tiles keep the last state
    ASSERT_EQ(histories.size(), size_t(round));
    EXPECT_EQ(openedPaths.back(), dir.File("history.jsonl"));
  }
  // Each station wrote a started and an ended line for each of its boards. The boards still on
  // the fixtures count as new boards for the second station.
  EXPECT_EQ(host.shown, (std::vector<bool>{true, false, true, false}));
  const std::string lines = log.Log();
  EXPECT_NE(lines.find("  DEVICE #0: Downloading done."), std::string::npos);
}

// The station started on one slow board of 256 KiB, once the board is being programmed.
void StationWindowBench::StartOnOneSlowBoard(std::unique_ptr<StationWindow>& window) {
  UseBench(BenchToml({BenchProbe()}, RealisticTiming(200)));
  KeldaNor(256 * 1024);
  window = Window();
  window->StartButton()->click();
  ASSERT_TRUE(ServeUntil([&] { return window->Tile(0)->Percent() > 0; }));
}

TEST_F(StationWindowBench, StopTwiceAsksAndThenStopsTheBoardInProgress) {
  std::unique_ptr<StationWindow> window;
  ASSERT_NO_FATAL_FAILURE(StartOnOneSlowBoard(window));
  EXPECT_EQ(window->Tile(0)->Word(), QStringLiteral("PROGRAMMING"));

  window->StopButton()->click();  // no new boards; this one finishes
  EXPECT_TRUE(window->NoteText()->text().startsWith(QStringLiteral("Stopping: no new boards")));
  window->StopButton()->click();
  ASSERT_NE(window->Question(), nullptr);
  window->Question()->button(QMessageBox::No)->click();
  ASSERT_TRUE(ServeUntil([&] { return window->Question() == nullptr; }));
  EXPECT_EQ(window->CurrentStation()->Fixture(0).state, FixtureState::kProgramming);

  window->StopButton()->click();
  ASSERT_NE(window->Question(), nullptr);
  EXPECT_TRUE(window->Question()->text().startsWith(QStringLiteral("Stop the boards in progress?")));
  window->Question()->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(ServeUntil(
      [&] { return window->Tile(0)->Word() == QStringLiteral("STOPPING") || !window->Running(); }));
  EXPECT_FALSE(window->StopButton()->isEnabled());
  ASSERT_TRUE(ServeUntil([&] { return !window->Running(); }));
  EXPECT_EQ(window->Tile(0)->Word(), QStringLiteral("FAILED"));
  ASSERT_EQ(window->RecentBoards()->rowCount(), 1);
  EXPECT_EQ(window->RecentBoards()->item(0, 2)->text(), QStringLiteral("stopped"));
  EXPECT_EQ(window->FailedCount()->text(), QStringLiteral("Failed: 1"));
  EXPECT_NE(log.Log().find("  DEVICE #0: Download stopping, Please wait ... \r\n"), std::string::npos);
}

TEST_F(StationWindowBench, ClosingWhileRunningAsksStopsTheBoardsAndClosesOnceEnded) {
  std::unique_ptr<StationWindow> window;
  ASSERT_NO_FATAL_FAILURE(StartOnOneSlowBoard(window));
  bool closed = false;
  window->CloseThen([&] { closed = true; });
  ASSERT_NE(window->Question(), nullptr);
  window->Question()->button(QMessageBox::No)->click();  // keep it running
  ASSERT_TRUE(ServeUntil([&] { return window->Question() == nullptr; }));
  EXPECT_TRUE(window->isVisible());
  EXPECT_TRUE(window->Running());

  window->CloseThen([&] { closed = true; });
  window->Question()->button(QMessageBox::Yes)->click();
  EXPECT_TRUE(window->isVisible());  // until the board has stopped
  ASSERT_TRUE(ServeUntil([&] { return !window->isVisible(); }));
  EXPECT_FALSE(window->Running());
  EXPECT_TRUE(closed);
  EXPECT_EQ(window->RecentRecord(0)->result, "stopped");
  EXPECT_EQ(host.shown, (std::vector<bool>{true, false}));
}

TEST_F(StationWindowBench, AHistoryThatCannotBeWrittenIsOneModalBoxAndEndsTheStation) {
  UseBench(kTwoGoodOneFaulty);
  KeldaNor(500);
  historiesFail = true;  // the disk is full from the first line on
  auto window = Window();
  window->SetHistoryPath(QStringLiteral("history.jsonl"));
  BoxAnswerer answerer;
  window->StartButton()->click();
  ASSERT_EQ(histories.size(), 1u);
  ASSERT_TRUE(ServeUntil([&] { return !window->Running() && !answerer.texts.isEmpty(); }));
  EXPECT_EQ(answerer.texts,
            QStringList{QStringLiteral("The history file cannot be written (history.jsonl: No space "
                                       "left on device). The station takes no more boards.")});
  EXPECT_EQ(window->RecentBoards()->rowCount(), 0);  // no board without its started line
  EXPECT_EQ(log.Messages(), std::vector<std::string>{});
}

TEST_F(StationWindowBench, ABoardPutOnLaterIsProgrammedAndTheNextOneAfterItWasTakenOff) {
  UseBench(BenchToml(EmptyFixtures(1)), zolt::testing::kWithControl);
  const std::string control = files.ControlPath();
  KeldaNor(2000);
  auto window = Window();
  window->StartButton()->click();
  zolt::testing::BenchControl bench(control);
  StationTile& tile = *window->Tile(0);
  ASSERT_TRUE(ServeUntil([&] { return tile.Word() == QStringLiteral("WAITING"); }));
  EXPECT_EQ(tile.LocationText(), QStringLiteral("#0  bench:f0"));
  EXPECT_EQ(window->RecentBoards()->rowCount(), 0);

  for (uint64_t board = 1; board <= 2; ++board) {
    SCOPED_TRACE(board);
    ASSERT_EQ(bench.Send("attach f0"), "ok");
    ASSERT_TRUE(
        ServeUntil([&] { return tile.Word() == QStringLiteral("OK") && tile.Status().boards == board; }));
    EXPECT_EQ(tile.BoardsText(), board == 1 ? QStringLiteral("1 board") : QStringLiteral("2 boards"));
    EXPECT_FALSE(tile.LastTimeText().isEmpty());
    ASSERT_TRUE(ServeUntil([&] { return window->RecentBoards()->rowCount() == int(board); }));
    EXPECT_EQ(window->RecentRecord(0)->sequence, board);
    EXPECT_EQ(window->RecentRecord(0)->location, "bench:f0");
    ASSERT_EQ(bench.Send("detach f0"), "ok");
    ASSERT_TRUE(ServeUntil([&] { return tile.Word() == QStringLiteral("WAITING"); }));
  }
  ASSERT_TRUE(ServeUntil([&] { return window->OkCount()->text() == QStringLiteral("Boards OK: 2"); }));
  window->StopButton()->click();
  ASSERT_TRUE(ServeUntil([&] { return !window->Running(); }));
}

// The dialog's side: the entry that opens the window, the settings it takes, RUN locked meanwhile,
// and closing the dialog while the station runs.
TEST_F(StationWindowBench, TheDialogOpensTheWindowLendsItsSettingsAndLocksRun) {
  UseBench(kTwoGoodOneFaulty);
  std::vector<MemoryHistory*> dialogHistories;
  DialogApplication app("", [&](const std::string&, std::string*) -> std::unique_ptr<BoardHistory> {
    auto history = std::make_unique<MemoryHistory>();
    dialogHistories.push_back(history.get());
    return history;
  });
  ProgrammerDialog& d = app.Dialog();
  ChooseKeldaNor(d, dir.Write("image.bin", std::string(2000, 'x')));

  ASSERT_NE(d.StationAction(), nullptr);
  EXPECT_TRUE(d.StationAction()->isEnabled());
  EXPECT_EQ(app.Station(), nullptr);
  d.StationAction()->trigger();
  ASSERT_NE(app.Station(), nullptr);
  StationWindow& window = *app.Station();
  EXPECT_TRUE(window.isVisible());
  EXPECT_TRUE(window.Header()->text().contains(QStringLiteral("Image #1: image.bin, block 0")))
      << window.Header()->text().toStdString();

  window.SetHistoryPath(dir.File("h.jsonl").c_str());
  window.StartButton()->click();
  ASSERT_TRUE(window.Running());
  EXPECT_FALSE(d.RunButton()->isEnabled());
  d.OnRunClicked();  // a press that comes anyway does nothing
  EXPECT_FALSE(app.Driver()->IsRunning());
  ASSERT_TRUE(ServeUntil([&] { return window.RecentBoards()->rowCount() == 3; }));
  ASSERT_TRUE(ServeUntil(
      [&] { return d.Log()->toPlainText().contains(QStringLiteral("DEVICE #2: Downloading done.")); }));
  EXPECT_TRUE(d.Log()->toPlainText().startsWith(QStringLiteral("[Download to NOR FLASH]\n")));
  ASSERT_EQ(dialogHistories.size(), 1u);
  EXPECT_EQ(dialogHistories[0]->Lines(), 6u);

  // RUN comes back when the station has ended, and goes again with the next station.
  window.StopButton()->click();
  ASSERT_TRUE(ServeUntil([&] { return !window.Running(); }));
  EXPECT_TRUE(d.RunButton()->isEnabled());
  EXPECT_FALSE(d.StationRunning());
  window.StartButton()->click();
  ASSERT_TRUE(window.Running());
  EXPECT_FALSE(d.RunButton()->isEnabled());

  // Closing the dialog asks about the station; it closes once the station has ended.
  d.reject();
  ASSERT_TRUE(ServeUntil([&] { return window.Question() != nullptr; }));
  window.Question()->button(QMessageBox::Yes)->click();
  ASSERT_TRUE(ServeUntil([&] { return !d.isVisible(); }));
  EXPECT_FALSE(window.Running());
  EXPECT_FALSE(window.isVisible());
}

}  // namespace
}  // namespace zolt::ui

namespace zolt::ui {
namespace {

std::vector<QMessageBox*> OpenBoxes() {
  std::vector<QMessageBox*> boxes;
  for (QWidget* widget : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(widget); box != nullptr && box->isVisible())
      boxes.push_back(box);
  }
  return boxes;
}

// RUN's handler may serve a box (a probe that fails during identification) and then start the run
// on the other probes: the station must not start meanwhile, or both would drive the same probes.
TEST_F(StationWindowBench, TheStationDoesNotStartWhileRunServesABoxBeforeItsThreadsExist) {
  UseBench(BenchToml({BenchProbe().Fault("no_answer = [0x01]"), BenchProbe()}));
  DialogApplication app;
  ProgrammerDialog& d = app.Dialog();
  ChooseKeldaNor(d, dir.Write("image.bin", std::string(1000, 'x')));
  StationWindow& window = app.OpenStation();

  const QString refusal = QStringLiteral("A run is in progress. The station can start once it has ended.");
  QStringList seen;
  QMessageBox* identifyBox = nullptr;
  bool refused = false;
  QTimer operatorHand;
  QObject::connect(&operatorHand, &QTimer::timeout, [&] {
    const std::vector<QMessageBox*> boxes = OpenBoxes();
    if (identifyBox == nullptr && boxes.size() == 1) {
      identifyBox = boxes[0];
      seen << identifyBox->text();
      // The operator turns to the station while RUN's box waits.
      QTimer::singleShot(0, window.StartButton(), &QPushButton::click);
      return;
    }
    for (QMessageBox* box : boxes) {
      if (box->text() == refusal && !refused) {
        refused = true;
        seen << box->text();
        EXPECT_FALSE(window.Running());
        box->button(QMessageBox::Ok)->click();
        return;
      }
    }
    if (!refused && window.Running() && identifyBox != nullptr) {
      seen << QStringLiteral("the station started");
      window.StopButton()->click();
      identifyBox->button(QMessageBox::Ok)->click();
      operatorHand.stop();
      return;
    }
    if (refused && boxes.size() == 1 && boxes[0] == identifyBox) {
      identifyBox->button(QMessageBox::Ok)->click();
      operatorHand.stop();
    }
  });
  operatorHand.start(5);
  d.RunButton()->click();
  ASSERT_TRUE(refused);
  ASSERT_EQ(seen.size(), 2);
  EXPECT_EQ(seen[1], refusal);
  ASSERT_TRUE(ServeUntil([] { return VisibleBox() != nullptr; }));
  EXPECT_EQ(VisibleBox()->text(),
            QStringLiteral("Download Complete !"));  // the run went on without the probe
  VisibleBox()->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(ServeUntil([&] { return !app.Driver()->IsRunning() && d.RunButton()->isEnabled(); }));
  EXPECT_FALSE(window.Running());
}

}  // namespace
}  // namespace zolt::ui

namespace zolt::ui {
namespace {

// The program's own history: the file the operator chose gets a started and an ended JSON line per
// board; a FIFO is refused at Start with its reason, and nothing starts.
TEST_F(StationWindowBench, TheProgramsHistoryFileTakesEveryBoardAndAFifoIsRefused) {
  UseBench(kTwoGoodOneFaulty);
  KeldaNor(1000);
  DialogApplication app;
  ProgrammerDialog& d = app.Dialog();
  ChooseKeldaNor(d, host.op.imagePath[0]);
  StationWindow& window = app.OpenStation();

  const std::string fifo = dir.File("history.fifo");
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  window.SetHistoryPath(QString::fromStdString(fifo));
  {
    BoxAnswerer answerer;
    window.StartButton()->click();
    ASSERT_EQ(answerer.texts.size(), 1);
    EXPECT_TRUE(answerer.texts[0].startsWith(QStringLiteral("Cannot open the history file: ") +
                                             QString::fromStdString(fifo) + QStringLiteral(": ")))
        << answerer.texts[0].toStdString();
    EXPECT_TRUE(answerer.texts[0].endsWith(QStringLiteral(". The station does not start.")));
  }
  EXPECT_FALSE(window.Running());
  EXPECT_TRUE(d.RunButton()->isEnabled());

  const std::string history = dir.File("history.jsonl");
  window.SetHistoryPath(QString::fromStdString(history));
  window.StartButton()->click();
  ASSERT_TRUE(window.Running());
  ASSERT_TRUE(ServeUntil([&] { return window.RecentBoards()->rowCount() == 3; }));
  window.StopButton()->click();
  ASSERT_TRUE(ServeUntil([&] { return !window.Running(); }));
  const std::string text = zolt::testing::ReadFileBytes(history);
  size_t lines = 0, started = 0, ended = 0, failed = 0;
  for (size_t at = 0; at < text.size();) {
    const size_t end = text.find('\n', at);
    ASSERT_NE(end, std::string::npos) << "a line without its end";
    const std::string line = text.substr(at, end - at);
    ++lines;
    started += line.find("\"event\":\"started\"") != std::string::npos;
    ended += line.find("\"event\":\"ended\"") != std::string::npos;
    failed += line.find("Cannot Read 'Read Flash ID' Response") != std::string::npos;
    at = end + 1;
  }
  EXPECT_EQ(lines, 6u);
  EXPECT_EQ(started, 3u);
  EXPECT_EQ(ended, 3u);
  EXPECT_EQ(failed, 1u);
}

}  // namespace
}  // namespace zolt::ui
