// SPDX-License-Identifier: MIT
#include "ui/programmer_dialog.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QFile>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>
#include <chrono>

#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/control_ids.h"
#include "ui/log_view.h"
#include "ui/message_box.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/firmware_version_page.h"
#include "ui/pages/multi_device_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/pages/pin_toggle_page.h"
#include "ui/percent_progress_bar.h"
#include "ui/run_driver.h"
#include "ui/tab_control.h"

namespace zolt::ui {
namespace {

constexpr const char* kTabTexts[ProgrammerDialog::kPageCount] = {
    "File Selection", "Nor Options", "Pin Toggle", "Multi USB JTAG", "Read Firmware Version"};
constexpr int kClosePollMs = 50;

}  // namespace

ProgrammerDialog::ProgrammerDialog(QWidget* parent) : QDialog(parent) {
  const DialogTemplate& t = TemplateById(kMainTemplate);
  built_ = BuildDialog(this, t);
  QString caption = QString::fromUtf8(t.caption);
  // The operator sees at a glance that no real probe is being programmed.
  if (!qEnvironmentVariableIsEmpty("VORLINK_BENCH")) caption += QStringLiteral(" [virtual bench]");
  setWindowTitle(caption);
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());

  UpdateData(false);
  ProductList()->setCurrentIndex(0);
  productIndex_ = 0;

  systemMenu_ = new QMenu(this);
  aboutAction_ = systemMenu_->addAction(QString::fromUtf8(kAboutMenuText));
  connect(aboutAction_, &QAction::triggered, this, &ProgrammerDialog::ShowAboutBox);
  stationAction_ = systemMenu_->addAction(QStringLiteral("Station..."));
  stationAction_->setEnabled(false);
  connect(stationAction_, &QAction::triggered, this, [this] {
    if (openStation_) openStation_();
  });

  ProgressBar()->SetBackgroundColour(QColor(255, 255, 255));
  ProgressBar()->SetShowText(true);
  ProgressBar()->SetRange(0, 100);
  ProgressBar()->SetStep(0);

  norOptionsPage_ = new NorOptionsPage(this);
  fileSelectionPage_ = new FileSelectionPage(this);
  pinTogglePage_ = new PinTogglePage(this);
  multiDevicePage_ = new MultiDevicePage(this);
  firmwareVersionPage_ = new FirmwareVersionPage(this);
  fileSelectionPage_->show();
  norOptionsPage_->hide();
  pinTogglePage_->hide();
  multiDevicePage_->hide();
  firmwareVersionPage_->hide();
  for (int i = 0; i < kPageCount; ++i) PageTabs()->InsertTab(i, QString::fromLatin1(kTabTexts[i]));
  PageTabs()->SetCurrentIndex(0);
  // Each page fills the tab control's page area, below the tab row: the template's place (4, 59)
  // would be on the tab row with fonts taller than the layout's, and the page's own units make
  // it taller than the area.
  const QRect area = PageTabs()->PageArea().translated(PageTabs()->pos());
  for (int i = 0; i < kPageCount; ++i) PageOfTab(i)->PlaceIn(area);

  connect(PageTabs()->tabBar(), &QTabBar::currentChanged, this, &ProgrammerDialog::OnPageTabChanged);
  connect(ProductList(), &QComboBox::activated, this, &ProgrammerDialog::OnProductListChanged);
  connect(NandButton(), &QPushButton::clicked, this, [this] {
    CheckRadio(NandButton());
    OnNandClicked();
  });
  connect(NorButton(), &QPushButton::clicked, this, [this] {
    CheckRadio(NorButton());
    OnNorClicked();
  });
  connect(Controls().Get<QCheckBox>(kIdVerifyBox), &QCheckBox::clicked, this,
          &ProgrammerDialog::OnVerifyClicked);
  connect(RunButton(), &QPushButton::clicked, this, &ProgrammerDialog::OnRunClicked);
  connect(&closeTimer_, &QTimer::timeout, this, &ProgrammerDialog::PollRunEnd);

  OnProductListChanged();
  nowMs_ = [] {
    return std::chrono::duration_cast<std::chrono::milliseconds>(
               std::chrono::steady_clock::now().time_since_epoch())
        .count();
  };
}

ProgrammerDialog::~ProgrammerDialog() = default;

LogView* ProgrammerDialog::Log() const {
  return Controls().Get<LogView>(kIdLogView);
}
PercentProgressBar* ProgrammerDialog::ProgressBar() const {
  return Controls().Get<PercentProgressBar>(kIdProgressBar);
}
QLabel* ProgrammerDialog::ElapsedTimeLabel() const {
  return Controls().Get<QLabel>(kIdElapsedTime);
}
QPushButton* ProgrammerDialog::RunButton() const {
  return Controls().Get<QPushButton>(kIdRunButton);
}
QPushButton* ProgrammerDialog::NandButton() const {
  return Controls().Get<QPushButton>(kIdNandButton);
}
QPushButton* ProgrammerDialog::NorButton() const {
  return Controls().Get<QPushButton>(kIdNorButton);
}
QComboBox* ProgrammerDialog::ProductList() const {
  return Controls().Get<QComboBox>(kIdProductList);
}
TabControl* ProgrammerDialog::PageTabs() const {
  return Controls().Get<TabControl>(kIdPageTabs);
}

TemplatePage* ProgrammerDialog::PageOfTab(int index) const {
  switch (index) {
    case 0:
      return fileSelectionPage_;
    case 1:
      return norOptionsPage_;
    case 2:
      return pinTogglePage_;
    case 3:
      return multiDevicePage_;
    case 4:
      return firmwareVersionPage_;
    default:
      return nullptr;
  }
}

void ProgrammerDialog::UpdateData(bool takeIn) {
  auto* verify = Controls().Get<QCheckBox>(kIdVerifyBox);
  if (takeIn) {
    nandSelected_ = NandButton()->isChecked();
    norSelected_ = NorButton()->isChecked();
    verifyEnabled_ = verify->isChecked();
  } else {
    NandButton()->setChecked(nandSelected_);
    NorButton()->setChecked(norSelected_);
    verify->setChecked(verifyEnabled_);
  }
}

DialogFields ProgrammerDialog::Fields() const {
  DialogFields f;
  f.productIndex = productIndex_;
  f.nandSelected = nandSelected_;
  f.norSelected = norSelected_;
  f.verifyEnabled = verifyEnabled_;
  return f;
}

RunRequest ProgrammerDialog::BuildRunRequest() {
  UpdateData(true);
  RunRequest r;
  r.productIndex = productIndex_;
  r.flashType = nandSelected_ ? FlashType::kNand : norSelected_ ? FlashType::kNor : FlashType::kNone;
  norOptionsPage_->TakeIn();
  r.norType = norOptionsPage_->GetNorType();
  r.width = norOptionsPage_->GetWidth();
  r.interleave = norOptionsPage_->GetInterleave();
  r.offsetText = norOptionsPage_->OffsetText().toUtf8().toStdString();
  for (int s = 0; s < 3; ++s) {
    ImageSlot& slot = r.images[static_cast<size_t>(s)];
    slot.enabled = fileSelectionPage_->IsImageEnabled(s);
    // File names in the local 8-bit encoding, as the file functions take them.
    slot.path = QFile::encodeName(fileSelectionPage_->GetImagePath(s)).toStdString();
    slot.blockText = fileSelectionPage_->BlockText(s).toUtf8().toStdString();
  }
  r.multiDevice = multiDevicePage_->IsMultiDeviceEnabled();
  r.pinToggle = pinTogglePage_->IsPinToggleEnabled();
  r.intervalMs = pinTogglePage_->GetInterval();
  return r;
}

void ProgrammerDialog::CheckRadio(QPushButton* clicked) {
  // An automatic radio button: the clicked one is checked, the other of its group cleared.
  NandButton()->setChecked(clicked == NandButton());
  NorButton()->setChecked(clicked == NorButton());
}

void ProgrammerDialog::OnProductListChanged() {
  UpdateData(true);
  productIndex_ = ProductList()->currentIndex();
  norOptionsPage_->OnProductChanged(productIndex_);
  if (productIndex_ == 0 || productIndex_ == 4) {
    nandSelected_ = false;
    norSelected_ = true;
  } else if (productIndex_ >= 1 && productIndex_ <= 3) {
    nandSelected_ = true;
    norSelected_ = false;
    norOptionsPage_->DisableNorControls();
  }
  UpdateData(false);
}

void ProgrammerDialog::OnNandClicked() {
  if (productIndex_ == 4) {
    nandSelected_ = false;
    norSelected_ = true;
  } else {
    nandSelected_ = true;
    norSelected_ = false;
    norOptionsPage_->DisableNorControls();
  }
  UpdateData(false);
}

void ProgrammerDialog::OnNorClicked() {
  nandSelected_ = false;
  norSelected_ = true;
  if (productIndex_ != 0) norOptionsPage_->EnableNorControls();
  UpdateData(false);
}

void ProgrammerDialog::OnVerifyClicked() {
  UpdateData(true);
  // The jobs read the box live, when each file is announced.
  if (driver_) driver_->SetVerify(verifyEnabled_);
}

void ProgrammerDialog::OnPageTabChanged(int index) {
  if (index < 0 || index >= kPageCount) return;
  for (int i = 0; i < kPageCount; ++i) PageOfTab(i)->setVisible(i == index);
}

void ProgrammerDialog::SetStationOpener(std::function<void()> open) {
  openStation_ = std::move(open);
  stationAction_->setEnabled(bool(openStation_));
}

void ProgrammerDialog::SetStationRunning(bool running) {
  stationRunning_ = running;
  EnableRunButton(!running && !RunInProgress());
}

bool ProgrammerDialog::RunInProgress() const {
  // OnRun may be inside a message box's event loop before any of the run's threads exists.
  return inRunPress_ || (driver_ != nullptr && driver_->IsRunning());
}

void ProgrammerDialog::OnRunClicked() {
  // While closing waits for a stopped run, no new run may start; nor while the station runs.
  if (closePending_ || !driver_ || stationRunning_) return;
  const int64_t now = nowMs_();
  // What the operator pressed is what the button showed: the one place that reads its text.
  if (RunButton()->text() != QStringLiteral("STOP")) {
    runPressed_ = true;
    runPressMs_ = now;
    runEnding_ = false;
  } else if (runPressed_ && now - runPressMs_ < QApplication::doubleClickInterval()) {
    return;  // the second click of a double click on RUN, landing on STOP
  }
  const RunRequest request = BuildRunRequest();
  driver_->SetVerify(verifyEnabled_);
  inRunPress_ = true;
  driver_->OnRun(request);
  inRunPress_ = false;
}

void ProgrammerDialog::ShowRunState(RunState state) {
  const RunButtonFace face = FaceOf(state);
  RunButton()->setText(QString::fromLatin1(face.text.data(), qsizetype(face.text.size())));
  if (state == RunState::kEnding) {
    // Every job has ended and the run reports its end: a close waiting for it needs no stop.
    runEnding_ = true;
    // The device list shows every job's last count with the end report ("Download Complete !"),
    // not up to one refresh later: a short run can end between two refreshes.
    MultiDevice()->FlushProgress();
    if (question_) OnStopAnswer(true, pendingResult_);
  } else if (state == RunState::kIdle) {
    runEnding_ = false;
  }
  EnableRunButton(face.enabled && !stationRunning_);
}

void ProgrammerDialog::EnableRunButton(bool enabled) {
  QPushButton* run = RunButton();
  if (!enabled) {
    // Qt would hand the focus of a disabled button to the next control, the Verify box, where
    // the operator's next Space would clear it.
    if (focusWidget() == run) {
      focusParked_ = true;
      setFocus(Qt::OtherFocusReason);
    }
    run->setEnabled(false);
    return;
  }
  run->setEnabled(true);
  if (focusParked_) {
    focusParked_ = false;
    // Unless the operator has put the focus elsewhere meanwhile.
    if (focusWidget() == this || focusWidget() == nullptr) run->setFocus(Qt::OtherFocusReason);
  }
}

void ProgrammerDialog::EnableRunSettingControls(bool enabled) {
  for (int id : {kIdProductsFrame, kIdProductList, kIdFlashTypeFrame, kIdNandButton, kIdNorButton}) {
    Controls().Find(id)->setEnabled(enabled);
  }
}

void ProgrammerDialog::ShowAboutBox() {
  AboutDialog about(this);
  about.exec();
}

void ProgrammerDialog::contextMenuEvent(QContextMenuEvent* event) {
  systemMenu_->exec(event->globalPos());
}

void ProgrammerDialog::keyPressEvent(QKeyEvent* event) {
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    // A focused push button takes Enter, as a native one does; no button is the default, so
    // Enter anywhere else is the dialog's OK.
    auto* button = qobject_cast<QPushButton*>(focusWidget());
    if (button && !button->isCheckable()) {
      if (button->isEnabled()) button->click();
      return;
    }
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

void ProgrammerDialog::AskStopRun(int result) {
  if (askStop_) {
    OnStopAnswer(askStop_(), result);
    return;
  }
  pendingResult_ = result;
  question_ = new QMessageBox(QMessageBox::NoIcon, QString::fromUtf8(kApplicationName),
                              QStringLiteral("A run is in progress. Stop it and close the program?"),
                              QMessageBox::Yes | QMessageBox::No, this);
  question_->setAttribute(Qt::WA_DeleteOnClose);
  question_->setDefaultButton(QMessageBox::No);
  FitCaption(question_);
  connect(question_, &QMessageBox::finished, this, [this, box = question_](int answer) {
    if (question_ != box) return;  // answered for the operator already
    question_ = nullptr;
    OnStopAnswer(answer == QMessageBox::Yes, pendingResult_);
  });
  question_->open();
  // Watches for the run's end while the question is open.
  closeTimer_.start(kClosePollMs);
}

void ProgrammerDialog::OnStopAnswer(bool stop, int result) {
  if (QMessageBox* box = question_) {
    // The run ended while the operator was asked: close as asked, without the question.
    question_ = nullptr;
    box->close();
  }
  if (!stop) {
    closeTimer_.stop();
    return;
  }
  CloseWhenRunEnds(result, !runEnding_);
}

void ProgrammerDialog::CloseWhenRunEnds(int result, bool stop) {
  if (!driver_ || !driver_->IsRunning()) {
    closeTimer_.stop();
    DeliverRunOutputs();
    QDialog::done(result);
    return;
  }
  // An ending run needs no stop: its jobs are done, and a stop request would outlive it.
  if (stop) driver_->RequestStop();
  closePending_ = true;
  pendingResult_ = result;
  closeTimer_.start(kClosePollMs);
}

void ProgrammerDialog::done(int result) {
  if (closePending_ || question_) return;
  if (stationRunning_ && closeStation_) {
    closeStation_(result);
    return;
  }
  if (driver_ && driver_->IsRunning()) {
    AskStopRun(result);
    return;
  }
  QDialog::done(result);
}

void ProgrammerDialog::DeliverRunOutputs() {
  // The run's last outputs (its closing log lines, RUN) were queued before its threads ended; a
  // poll that sees the run over can come first. Deliver them so the dialog ends showing them all.
  QCoreApplication::sendPostedEvents(this, QEvent::MetaCall);
}

void ProgrammerDialog::PollRunEnd() {
  if (question_) {
    if (driver_ && driver_->IsRunning() && !runEnding_) return;
    OnStopAnswer(true, pendingResult_);
    return;
  }
  if (!closePending_) return;
  if (driver_ && driver_->IsRunning()) return;
  closeTimer_.stop();
  closePending_ = false;
  DeliverRunOutputs();
  QDialog::done(pendingResult_);
}

}  // namespace zolt::ui
