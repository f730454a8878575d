// SPDX-License-Identifier: MIT
// StationWindow: the dialog's station. Boards are programmed as they are put on the fixtures, by
// the same Station as zolt-flash --station. From top to bottom: the settings every board
// receives (taken from the main dialog at Start, read-only here), the counters and the history
// file, 16 fixture tiles (4 x 4, one per device index), Start and Stop, and the recent boards.
//
// Start takes the settings as RUN would (one RunRequest and the Verify box), opens the history
// file when one is chosen (a file that cannot be opened is a box, and nothing starts), and starts
// a new Station. Stop: the first press stops accepting boards (boards in progress finish); a
// second press asks, then stops the boards in progress with the stop marker. Closing the window
// while the station runs asks, stops the boards and closes once the station has ended.
//
// A job's box never blocks the other fixtures: it becomes its tile's text. Only station-wide
// problems (the history file) are modal boxes. The jobs' log lines go to the RunView given (the
// main dialog's log).
//
// Threads: GUI thread only. The station's threads call only the window's StationInbox; a timer
// takes its mail at most about 30 times a second. The GUI thread waits for no probe: Start binds
// the link library (fast), and the station's threads are joined only once it has ended.
#pragma once

#include <QTimer>
#include <QWidget>
#include <array>
#include <deque>
#include <functional>
#include <memory>
#include <string>

#include "core/run_request.h"
#include "core/run_view.h"
#include "jobs/board_record.h"
#include "jobs/station.h"
#include "ui/station_inbox.h"

class QLabel;
class QMessageBox;
class QPushButton;
class QTableWidget;

namespace zolt::ui {

class StationTile;

// What the station window needs of the main dialog.
class StationHost {
 public:
  virtual ~StationHost() = default;
  // The settings as RUN would take them now, and the Verify box.
  virtual RunRequest StationRequest() = 0;
  virtual bool StationVerify() = 0;
  // A normal run is in progress (the station cannot start meanwhile).
  virtual bool NormalRunInProgress() = 0;
  // The station started (true) or ended (false): RUN is locked meanwhile.
  virtual void StationRunning(bool running) = 0;
};

// Opens the history file at `path` for appending; null with the cause in `error` when it cannot.
using HistoryOpener =
    std::function<std::unique_ptr<BoardHistory>(const std::string& path, std::string* error)>;

class StationWindow : public QWidget {
  Q_OBJECT
 public:
  static constexpr int kRecentRows = 200;  // the table keeps the newest boards only
  static constexpr int kRefreshMs = 34;    // at most about 30 repaints a second

  // `options.history` is ignored: the window opens its own. `log` and `host` must outlive it.
  StationWindow(RunView& log, StationHost& host, HistoryOpener openHistory, StationOptions options,
                QWidget* parent = nullptr);
  // Stops the boards and joins the station's threads if it still runs.
  ~StationWindow() override;

  // Replaces the history file dialog (tests): returns the chosen path, "" for none.
  void SetHistoryChooser(std::function<QString()> choose) { chooseHistory_ = std::move(choose); }
  // Sets the history file without the dialog ("" for none). Not while the station runs.
  void SetHistoryPath(const QString& path);
  QString HistoryPath() const { return historyPath_; }

  void OnStart();
  void OnStop();
  void OnChooseHistory();
  // Closes the window like its close box, then calls `then` once it has closed (not when the
  // operator chose to keep the station running).
  void CloseThen(std::function<void()> then);

  bool Running() const { return station_ != nullptr; }
  // The station in progress, or null.
  const Station* CurrentStation() const { return station_.get(); }
  // The open Stop or close question, or null.
  QMessageBox* Question() const { return question_; }

  StationTile* Tile(int device) const { return tiles_[static_cast<size_t>(device)]; }
  QLabel* Header() const { return header_; }
  QLabel* OkCount() const { return okCount_; }
  QLabel* FailedCount() const { return failedCount_; }
  QLabel* RateText() const { return rate_; }
  QLabel* ElapsedText() const { return elapsed_; }
  QLabel* HistoryText() const { return historyText_; }
  QLabel* NoteText() const { return note_; }
  QPushButton* StartButton() const { return start_; }
  QPushButton* StopButton() const { return stop_; }
  QPushButton* HistoryButton() const { return historyButton_; }
  QTableWidget* RecentBoards() const { return recent_; }
  // The record of the recent-boards row `row` (0: the newest), or null.
  const BoardRecord* RecentRecord(int row) const;
  // Shows the full text of row `row` in a box (what a double click does).
  void ShowRecord(int row);

 protected:
  void closeEvent(QCloseEvent* event) override;
  void showEvent(QShowEvent* event) override;

 private:
  void Refresh();
  void Deliver(StationMail mail);
  void ShowCounts(const StationCounts& counts);
  void ShowHeader(const RunRequest& request, bool verify);
  void ShowHistoryPath();
  void AddRecent(const BoardRecord& record);
  void Finish();
  void ShowNextNote();
  void AskStopBoards();
  void AskClose();

  RunView& log_;
  StationHost& host_;
  HistoryOpener openHistory_;
  StationOptions options_;
  std::function<QString()> chooseHistory_;
  QString historyPath_;

  QLabel* header_ = nullptr;
  QLabel* okCount_ = nullptr;
  QLabel* failedCount_ = nullptr;
  QLabel* rate_ = nullptr;
  QLabel* elapsed_ = nullptr;
  QLabel* historyText_ = nullptr;
  QLabel* note_ = nullptr;
  QPushButton* historyButton_ = nullptr;
  QPushButton* start_ = nullptr;
  QPushButton* stop_ = nullptr;
  QTableWidget* recent_ = nullptr;
  std::array<StationTile*, kMaxProbes> tiles_{};
  std::deque<BoardRecord> records_;  // the table's rows, newest first

  QTimer refreshTimer_;
  int stopPresses_ = 0;
  bool closePending_ = false;
  std::function<void()> afterClose_;
  QMessageBox* question_ = nullptr;
  std::deque<QString> boxes_;  // station-wide problems waiting for their modal box
  bool boxOpen_ = false;

  // Declared in the order of life: the inbox and the history outlive the station that calls them.
  StationInbox inbox_;
  std::unique_ptr<BoardHistory> history_;
  std::unique_ptr<Station> station_;
};

}  // namespace zolt::ui
