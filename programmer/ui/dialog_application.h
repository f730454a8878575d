// SPDX-License-Identifier: MIT
// DialogApplication: the program's objects in their order of life. The dialog is built first,
// then its RunView, then run control (when the jobs are built in), then the station window when
// it is first opened; they go in reverse, so the station and run control join every worker
// thread before the RunView and the dialog are gone.
//
// Threads: GUI thread only. Exec blocks in the dialog's event loop until the dialog closes.
#pragma once

#include <memory>

#include "ui/dialog_operator.h"
#include "ui/programmer_dialog.h"
#include "ui/run_driver.h"
#include "ui/station_window.h"

namespace zolt::ui {

// Chooses Qt's "Windows" style, whose frames, group boxes and buttons look like the native
// dialogs the templates were drawn for, unless the user asked for a style (-style, QT_STYLE_OVERRIDE).
// Call before QApplication is constructed, with main's arguments.
void PreferClassicStyle(int argc, char** argv);

class DialogApplication {
 public:
  // `libraryName`: the link library run control loads at each RUN and the station at each Start
  // ("" for the default). `openHistory`: how the station opens its history file (null: the
  // history file of programmer/jobs).
  explicit DialogApplication(const std::string& libraryName = "", HistoryOpener openHistory = nullptr);
  ~DialogApplication();
  DialogApplication(const DialogApplication&) = delete;
  DialogApplication& operator=(const DialogApplication&) = delete;

  ProgrammerDialog& Dialog() { return *dialog_; }
  DialogOperator& View() { return *operator_; }
  // Null when the program was built without the jobs.
  RunDriver* Driver() { return driver_.get(); }
  // Shows the station window (built at the first call) and returns it.
  StationWindow& OpenStation();
  // The station window, or null before it was first opened.
  StationWindow* Station() { return station_.get(); }

  // Shows the dialog modally; returns when it has closed.
  int Exec();

 private:
  std::unique_ptr<ProgrammerDialog> dialog_;
  std::unique_ptr<DialogOperator> operator_;
  std::unique_ptr<RunDriver> driver_;
  std::string libraryName_;
  HistoryOpener openHistory_;
  std::unique_ptr<StationHost> stationHost_;
  std::unique_ptr<StationWindow> station_;
};

}  // namespace zolt::ui
