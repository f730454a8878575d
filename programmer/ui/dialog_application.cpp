// SPDX-License-Identifier: MIT
#include "ui/dialog_application.h"

#include <QApplication>
#include <string_view>

#include "jobs/run_control.h"

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
    return options;
  }
  RunControl control_;
};

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

DialogApplication::DialogApplication(const std::string& libraryName)
    : dialog_(std::make_unique<ProgrammerDialog>()), operator_(std::make_unique<DialogOperator>(*dialog_)) {
  driver_ = std::make_unique<RunControlDriver>(*operator_, libraryName);
  dialog_->SetRunDriver(driver_.get());
}

DialogApplication::~DialogApplication() {
  // Joins the run's threads while the RunView and the dialog still exist.
  dialog_->SetRunDriver(nullptr);
  driver_.reset();
  operator_.reset();
  dialog_.reset();
}

int DialogApplication::Exec() {
  return dialog_->exec();
}

}  // namespace zolt::ui
