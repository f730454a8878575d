#include "ui/programmer_dialog.h"

#include <QAction>
#include <QCheckBox>
#include <QComboBox>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLabel>
#include <QMenu>
#include <QMessageBox>
#include <QPushButton>

#include "ui/about_dialog.h"
#include "ui/app_icon.h"
#include "ui/control_ids.h"
#include "ui/log_view.h"
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
  setWindowTitle(QString::fromUtf8(t.caption));
  setWindowFlags(Qt::Window | Qt::WindowTitleHint | Qt::WindowSystemMenuHint | Qt::WindowMinimizeButtonHint |
                 Qt::WindowCloseButtonHint);
  setWindowIcon(AppIcon());

  UpdateData(false);
  ProductList()->setCurrentIndex(0);
  productIndex_ = 0;

  systemMenu_ = new QMenu(this);
  aboutAction_ = systemMenu_->addAction(QString::fromUtf8(kAboutMenuText));
  connect(aboutAction_, &QAction::triggered, this, &ProgrammerDialog::ShowAboutBox);

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
  // The pages' templates are taller, at their font, than the tab panel they lie on at the main
  // dialog's font: cut them at the panel's bottom edge, so that the edge closes their last frame
  // and nothing reaches into the log below.
  const int panelBottom = PageTabs()->geometry().bottom() - 1;
  for (int i = 0; i < kPageCount; ++i) {
    TemplatePage* page = PageOfTab(i);
    if (page->geometry().bottom() > panelBottom) page->setFixedHeight(panelBottom - page->y());
  }
  for (int i = 0; i < kPageCount; ++i) PageTabs()->InsertTab(i, QString::fromLatin1(kTabTexts[i]));
  PageTabs()->SetCurrentIndex(0);

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
  connect(&closeTimer_, &QTimer::timeout, this, &ProgrammerDialog::OnCloseTimer);

  OnProductListChanged();
  // No button is the default: Enter outside a push button is the dialog's OK.
  RunButton()->setDefault(false);
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
}

void ProgrammerDialog::OnPageTabChanged(int index) {
  if (index < 0 || index >= kPageCount) return;
  for (int i = 0; i < kPageCount; ++i) PageOfTab(i)->setVisible(i == index);
}

void ProgrammerDialog::OnRunClicked() {
  // While closing waits for a stopped run, no new run may start.
  if (closePending_ || !driver_) return;
  driver_->OnRun();
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
  // Enter reaches the dialog only when no push button took it: it is the dialog's OK.
  if ((event->key() == Qt::Key_Return || event->key() == Qt::Key_Enter) &&
      (event->modifiers() & ~Qt::KeypadModifier) == Qt::NoModifier) {
    accept();
    return;
  }
  QDialog::keyPressEvent(event);
}

bool ProgrammerDialog::AskStopRun() {
  if (askStop_) return askStop_();
  QMessageBox box(QMessageBox::NoIcon, QString::fromUtf8(kApplicationName),
                  QStringLiteral("A run is in progress. Stop it and close the program?"),
                  QMessageBox::Yes | QMessageBox::No, this);
  box.setDefaultButton(QMessageBox::No);
  return box.exec() == QMessageBox::Yes;
}

void ProgrammerDialog::done(int result) {
  if (closePending_) return;
  if (driver_ && driver_->IsRunning()) {
    if (!AskStopRun()) return;
    // The run may have ended while the question was open.
    if (driver_->IsRunning()) {
      driver_->RequestStop();
      closePending_ = true;
      pendingResult_ = result;
      closeTimer_.start(kClosePollMs);
      return;
    }
  }
  QDialog::done(result);
}

void ProgrammerDialog::OnCloseTimer() {
  if (driver_ && driver_->IsRunning()) return;
  closeTimer_.stop();
  closePending_ = false;
  QDialog::done(pendingResult_);
}

}  // namespace zolt::ui
