// SPDX-License-Identifier: MIT
// ProgrammerDialog (template 102, "ZOLT USB JTAG Programmer (Ver 2.0.00)"): the program's only main
// window. Products list, NAND/NOR buttons, RUN/STOP, the tabbed option pages, the log, the Verify
// box, the elapsed time and the percentage progress bar.
//
// Rules kept by its handlers: rows 0 (TARVIS) and 4 (SOLANT) select NOR, rows 1..3 NAND; SOLANT
// refuses NAND; the NOR options can be edited only while NOR is selected and the product is not
// TARVIS.
//
// Closing: Enter (outside push buttons), Esc and the close box end the dialog while no run is in
// progress. During a run the operator is asked whether to stop it; on yes the run is asked to
// stop and the dialog closes once the run has ended (a timer polls; the GUI thread keeps serving
// the jobs' message boxes meanwhile). When the run ends while the question is open, the question
// closes itself and the dialog closes as asked once the run's last box has been answered.
//
// Buttons: no button of the dialog is the default or an auto-default one; Enter on a focused
// push button presses it. When RUN is disabled while it has the focus, the focus goes to the
// dialog itself (where Space changes nothing, unlike the Verify box Qt would pick) and comes back
// to RUN when RUN is enabled again. A STOP press within the double-click interval of the press
// that started the run is the second click of a double click on RUN and is ignored.
//
// The station (station_window.h, opened by the "Station..." entry of the context menu): while it
// runs, RUN is disabled and does nothing, and closing the dialog asks about the station first.
//
// With the virtual bench serving the probes (VORLINK_BENCH set), the caption ends in
// " [virtual bench]".
//
// Threads: GUI thread only; the RunView implementation (dialog_operator.h) carries worker calls
// here. Handlers never block, except OnRun through the RunDriver and the modal boxes.
#pragma once

#include <QDialog>
#include <QTimer>
#include <array>
#include <cstdint>
#include <functional>

#include "core/run_request.h"
#include "core/run_state.h"
#include "ui/dialog_builder.h"

class QAction;
class QComboBox;
class QLabel;
class QPushButton;
class QMenu;
class QMessageBox;

namespace zolt::ui {

class FileSelectionPage;
class FirmwareVersionPage;
class LogView;
class MultiDevicePage;
class NorOptionsPage;
class PercentProgressBar;
class PinTogglePage;
class RunDriver;
class TabControl;
class TemplatePage;

// The dialog's own fields ("taken in" from its controls by UpdateData(true)).
struct DialogFields {
  int productIndex = 0;  // row of the Products list: 0 TARVIS, 1 KELDA, 2 VTN3300, 3 OKO, 4 SOLANT
  bool nandSelected = false;
  bool norSelected = true;
  bool verifyEnabled = true;
};

class ProgrammerDialog : public QDialog {
  Q_OBJECT
 public:
  static constexpr int kPageCount = 5;

  explicit ProgrammerDialog(QWidget* parent = nullptr);
  ~ProgrammerDialog() override;

  // The RUN/STOP handler and the run state closing asks about; null: RUN does nothing.
  void SetRunDriver(RunDriver* driver) { driver_ = driver; }
  // Replaces the "stop the run and close?" question (tests); returns the operator's answer.
  void SetStopQuestion(std::function<bool()> ask) { askStop_ = std::move(ask); }
  // Milliseconds of a steady clock, for telling a double click from a later STOP (tests).
  void SetClock(std::function<int64_t()> nowMs) { nowMs_ = std::move(nowMs); }
  // What the "Station..." entry opens; without one the entry is disabled.
  void SetStationOpener(std::function<void()> open);
  // Closing while the station runs calls `close` with the dialog's result instead (it asks about
  // the station and ends the dialog once the station has ended).
  void SetStationCloser(std::function<void(int result)> close) { closeStation_ = std::move(close); }
  // While the station runs, RUN is disabled and does nothing.
  void SetStationRunning(bool running);
  bool StationRunning() const { return stationRunning_; }
  // A normal run is in progress, or RUN's handler is still starting one.
  bool RunInProgress() const;

  // Data exchange: true takes the NAND, NOR and Verify states in, false pushes them back.
  void UpdateData(bool takeIn);
  DialogFields Fields() const;
  // Takes the dialog's fields and every page in and returns them as run control takes them when
  // RUN is pressed.
  RunRequest BuildRunRequest();

  // Handlers.
  void OnProductListChanged();
  void OnNandClicked();
  void OnNorClicked();
  void OnVerifyClicked();
  void OnPageTabChanged(int index);
  void OnRunClicked();
  void ShowAboutBox();

  // Enables or disables controls 1029, 1027, 1030, 1005 and 1006, in that order.
  void EnableRunSettingControls(bool enabled);
  // Shows the run's state on RUN/STOP (text and enabling) and notes when the run ends.
  void ShowRunState(RunState state);
  // Enables or disables RUN/STOP, keeping the focus off the other controls meanwhile.
  void EnableRunButton(bool enabled);

  // True while closing waits for a stopped run to end.
  bool ClosePending() const { return closePending_; }
  // The open "stop the run and close?" question, or null.
  QMessageBox* StopQuestion() const { return question_; }
  // Closes the dialog when closing waits and the run has ended; the close timer calls it.
  void PollRunEnd();
  void DeliverRunOutputs();

  const ControlMap& Controls() const { return built_.controls; }
  BaseUnits Units() const { return built_.units; }
  LogView* Log() const;
  PercentProgressBar* ProgressBar() const;
  QLabel* ElapsedTimeLabel() const;
  QPushButton* RunButton() const;
  QPushButton* NandButton() const;
  QPushButton* NorButton() const;
  QComboBox* ProductList() const;
  TabControl* PageTabs() const;
  NorOptionsPage* NorOptions() const { return norOptionsPage_; }
  FileSelectionPage* FileSelection() const { return fileSelectionPage_; }
  PinTogglePage* PinToggle() const { return pinTogglePage_; }
  MultiDevicePage* MultiDevice() const { return multiDevicePage_; }
  FirmwareVersionPage* FirmwareVersion() const { return firmwareVersionPage_; }
  // The page of tab `index` (0..4), or null.
  TemplatePage* PageOfTab(int index) const;
  // The about entry ("ZOLT_USB_JTAG 정보(&A)...") of the dialog's context menu.
  QAction* AboutAction() const { return aboutAction_; }
  // The "Station..." entry beside it.
  QAction* StationAction() const { return stationAction_; }

  void done(int result) override;

 protected:
  void keyPressEvent(QKeyEvent* event) override;
  void contextMenuEvent(QContextMenuEvent* event) override;

 private:
  void CheckRadio(QPushButton* clicked);
  void AskStopRun(int result);
  void OnStopAnswer(bool stop, int result);
  void CloseWhenRunEnds(int result, bool stop);

  BuiltDialog built_;
  int productIndex_ = 0;
  bool nandSelected_ = false;
  bool norSelected_ = true;
  bool verifyEnabled_ = true;

  NorOptionsPage* norOptionsPage_ = nullptr;
  FileSelectionPage* fileSelectionPage_ = nullptr;
  PinTogglePage* pinTogglePage_ = nullptr;
  MultiDevicePage* multiDevicePage_ = nullptr;
  FirmwareVersionPage* firmwareVersionPage_ = nullptr;

  QMenu* systemMenu_ = nullptr;
  QAction* aboutAction_ = nullptr;
  QAction* stationAction_ = nullptr;
  std::function<void()> openStation_;
  std::function<void(int)> closeStation_;
  bool stationRunning_ = false;
  bool inRunPress_ = false;  // OnRun is on the stack (it may be serving a box)
  RunDriver* driver_ = nullptr;
  std::function<bool()> askStop_;
  std::function<int64_t()> nowMs_;
  int64_t runPressMs_ = 0;
  bool runPressed_ = false;   // a press of RUN started the run now in progress
  bool focusParked_ = false;  // the focus left RUN for the dialog when RUN was disabled
  bool runEnding_ = false;    // the run's jobs have all ended; its end report may be open
  QMessageBox* question_ = nullptr;
  bool closePending_ = false;
  int pendingResult_ = 0;
  QTimer closeTimer_;
};

}  // namespace zolt::ui
