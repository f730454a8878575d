// SPDX-License-Identifier: MIT
#include "ui/dialog_application.h"

#include <unistd.h>

#include <QApplication>
#include <climits>
#include <cstdlib>
#include <string_view>

#include "jobs/run_control.h"
#include "ui/station_history.h"
#include "ui/transfers_in_flight.h"

namespace zolt::ui {
namespace {

class RunControlDriver final : public RunDriver {
 public:
  RunControlDriver(zolt::RunView& op, const std::string& libraryName) : control_(op, Options(libraryName)) {}
  void OnRun(const RunRequest& request) override { control_.OnRun(request); }
  void SetVerify(bool enabled) override { control_.SetVerify(enabled); }
  bool IsRunning() const override { return control_.IsRunning(); }
  void RequestStop() override { control_.RequestStop(); }

 private:
  static RunControlOptions Options(const std::string& libraryName) {
    RunControlOptions options;
    if (!libraryName.empty()) options.libraryName = libraryName;
    options.transfersInFlight = TransfersInFlightAsked();
    return options;
  }
  RunControl control_;
};

// The main dialog as the station window sees it.
class DialogStationHost final : public StationHost {
 public:
  explicit DialogStationHost(ProgrammerDialog& dialog) : dialog_(dialog) {}
  RunRequest StationRequest() override { return dialog_.BuildRunRequest(); }
  bool StationVerify() override {
    dialog_.UpdateData(true);
    return dialog_.Fields().verifyEnabled;
  }
  bool NormalRunInProgress() override { return dialog_.RunInProgress(); }
  void StationRunning(bool running) override { dialog_.SetStationRunning(running); }

 private:
  ProgrammerDialog& dialog_;
};

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace

void PreferClassicStyle(int argc, char** argv) {
  if (!qEnvironmentVariableIsEmpty("QT_STYLE_OVERRIDE")) return;
  for (int i = 1; i < argc; ++i) {
    const std::string_view arg = argv[i];
    if (arg == "-style" || arg == "--style" || arg.starts_with("-style=") || arg.starts_with("--style="))
      return;
  }
  QApplication::setStyle(QStringLiteral("Windows"));
}

DialogApplication::DialogApplication(const std::string& libraryName, HistoryOpener openHistory)
    : dialog_(std::make_unique<ProgrammerDialog>()),
      operator_(std::make_unique<DialogOperator>(*dialog_)),
      libraryName_(libraryName),
      openHistory_(std::move(openHistory)) {
  driver_ = std::make_unique<RunControlDriver>(*operator_, libraryName);
  dialog_->SetRunDriver(driver_.get());
  if (!openHistory_) openHistory_ = DefaultHistoryOpener();
  dialog_->SetStationOpener([this] { OpenStation(); });
  dialog_->SetStationCloser([this](int result) {
    ProgrammerDialog* dialog = dialog_.get();
    OpenStation().CloseThen([dialog, result] { dialog->done(result); });
  });
}

StationWindow& DialogApplication::OpenStation() {
  if (!station_) {
    stationHost_ = std::make_unique<DialogStationHost>(*dialog_);
    StationOptions options;
    if (!libraryName_.empty()) options.libraryName = libraryName_;
    options.version = ZOLT_VERSION;
    options.host = HostName();
    // A child window of the dialog: the dialog runs modally, and only its own windows take input.
    station_ =
        std::make_unique<StationWindow>(*operator_, *stationHost_, openHistory_, options, dialog_.get());
  }
  station_->show();
  station_->raise();
  station_->activateWindow();
  return *station_;
}

DialogApplication::~DialogApplication() {
  // Joins the station's and the run's threads while the RunView and the dialog still exist.
  dialog_->SetStationOpener(nullptr);
  dialog_->SetStationCloser(nullptr);
  station_.reset();
  dialog_->SetRunDriver(nullptr);
  driver_.reset();
  operator_.reset();
  dialog_.reset();
}

int DialogApplication::Exec() {
  return dialog_->exec();
}

}  // namespace zolt::ui
