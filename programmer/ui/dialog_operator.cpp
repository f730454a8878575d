// SPDX-License-Identifier: MIT
#include "ui/dialog_operator.h"

#include <QComboBox>
#include <QFile>
#include <QLabel>
#include <QPushButton>

#include "ui/gui_thread.h"
#include "ui/log_view.h"
#include "ui/message_box.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/firmware_version_page.h"
#include "ui/pages/multi_device_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/pages/pin_toggle_page.h"
#include "ui/percent_progress_bar.h"
#include "ui/programmer_dialog.h"

namespace zolt::ui {
namespace {

QString ToQString(std::string_view text) {
  return QString::fromUtf8(text.data(), qsizetype(text.size()));
}

}  // namespace

// Queued lambdas capture the dialog (their context), never this object: a call still queued when
// the dialog goes is dropped with it.

void DialogOperator::Append(std::string_view text) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, t = ToQString(text)] { d->Log()->Append(t); });
}

void DialogOperator::ShowMessage(std::string_view text) {
  ShowMessageBox(&dialog_, QString::fromUtf8(kApplicationName), ToQString(text));
}

void DialogOperator::ShowErrorMessage(std::string_view text) {
  ShowMessageBox(&dialog_, QStringLiteral("Error"), ToQString(text));
}

void DialogOperator::RefreshDialogControls() {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d] { d->UpdateData(false); });
}

void DialogOperator::ShowRunState(RunState state) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, state] { d->ShowRunState(state); });
}

void DialogOperator::EnableRunSettingControls(bool enabled) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, enabled] { d->EnableRunSettingControls(enabled); });
}

void DialogOperator::SetProgressRange(int lower, int upper) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, lower, upper] { d->ProgressBar()->SetRange(lower, upper); });
}

void DialogOperator::SetProgressPos(int pos) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, pos] { d->ProgressBar()->SetPos(pos); });
}

void DialogOperator::SetProgressStep(int step) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, step] { d->ProgressBar()->SetStep(step); });
}

void DialogOperator::SetElapsedTimeText(std::string_view text) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, t = ToQString(text)] { d->ElapsedTimeLabel()->setText(t); });
}

void DialogOperator::ShowDeviceStates(const std::array<uint8_t, 16>& slots) {
  ProgrammerDialog* d = &dialog_;
  CallOnGui(d, [d, slots] { d->MultiDevice()->ShowDeviceStates(slots); });
}

void DialogOperator::UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) {
  dialog_.MultiDevice()->StoreFileProgress(device, file, sentBytes, fileSize);
}

uint64_t DialogOperator::TotalSentBytes() {
  return dialog_.MultiDevice()->TotalSentBytes();
}

void DialogOperator::SetFirmwareVersion(std::string_view text) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, t = ToQString(text)] { d->FirmwareVersion()->SetFirmwareVersion(t); });
}

void DialogOperator::SetBootloaderVersion(std::string_view text) {
  ProgrammerDialog* d = &dialog_;
  PostToGui(d, [d, t = ToQString(text)] { d->FirmwareVersion()->SetBootloaderVersion(t); });
}

}  // namespace zolt::ui
