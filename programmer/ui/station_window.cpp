// SPDX-License-Identifier: MIT
#include "ui/station_window.h"

#include <QCloseEvent>
#include <QFile>
#include <QFileDialog>
#include <QGridLayout>
#include <QGroupBox>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QMessageBox>
#include <QPointer>
#include <QPushButton>
#include <QTableWidget>
#include <QVBoxLayout>

#include "ui/app_icon.h"
#include "ui/colour_contrast.h"
#include "ui/dialog_template.h"
#include "ui/message_box.h"
#include "ui/station_text.h"
#include "ui/station_tile.h"
#include "ui/transfers_in_flight.h"

namespace zolt::ui {
namespace {

constexpr int kGridColumns = 4;

QString AppName() {
  return QString::fromUtf8(kApplicationName);
}

QLabel* CounterLabel(QWidget* parent) {
  auto* label = new QLabel(parent);
  QFont font = label->font();
  font.setBold(true);
  font.setPointSizeF(font.pointSizeF() * 1.2);
  label->setFont(font);
  return label;
}

QMessageBox* YesNoQuestion(QWidget* parent, const QString& text) {
  auto* box =
      new QMessageBox(QMessageBox::NoIcon, AppName(), text, QMessageBox::Yes | QMessageBox::No, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setDefaultButton(QMessageBox::No);
  FitCaption(box);
  return box;
}

}  // namespace

StationWindow::StationWindow(RunView& log, StationHost& host, HistoryOpener openHistory,
                             StationOptions options, QWidget* parent)
    : QWidget(parent, Qt::Window),
      log_(log),
      host_(host),
      openHistory_(std::move(openHistory)),
      options_(std::move(options)) {
  setWindowTitle(AppName() + QStringLiteral(" Station"));
  setWindowIcon(AppIcon());
  auto* layout = new QVBoxLayout(this);

  auto* settings = new QGroupBox(QStringLiteral("Every board receives"), this);
  auto* settingsLayout = new QVBoxLayout(settings);
  header_ = new QLabel(settings);
  header_->setTextFormat(Qt::PlainText);
  header_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  settingsLayout->addWidget(header_);
  layout->addWidget(settings);

  auto* counters = new QHBoxLayout;
  okCount_ = CounterLabel(this);
  failedCount_ = CounterLabel(this);
  rate_ = CounterLabel(this);
  elapsed_ = CounterLabel(this);
  counters->setSpacing(3 * fontMetrics().averageCharWidth());
  for (QLabel* label : {okCount_, failedCount_, rate_, elapsed_}) counters->addWidget(label);
  counters->addStretch(1);
  layout->addLayout(counters);

  auto* historyRow = new QHBoxLayout;
  historyRow->addWidget(new QLabel(QStringLiteral("History file:"), this));
  historyText_ = new QLabel(this);
  historyText_->setTextFormat(Qt::PlainText);
  historyText_->setTextInteractionFlags(Qt::TextSelectableByMouse);
  historyRow->addWidget(historyText_, 1);
  historyButton_ = new QPushButton(QStringLiteral("History File..."), this);
  historyButton_->setAutoDefault(false);
  historyRow->addWidget(historyButton_);
  layout->addLayout(historyRow);

  note_ = new QLabel(this);
  note_->setTextFormat(Qt::PlainText);
  note_->setWordWrap(true);
  layout->addWidget(note_);

  auto* grid = new QGridLayout;
  grid->setSpacing(4);
  for (int device = 0; device < kMaxProbes; ++device) {
    auto* tile = new StationTile(device, this);
    tiles_[static_cast<size_t>(device)] = tile;
    grid->addWidget(tile, device / kGridColumns, device % kGridColumns);
  }
  layout->addLayout(grid, 1);

  auto* buttons = new QHBoxLayout;
  start_ = new QPushButton(QStringLiteral("Start"), this);
  stop_ = new QPushButton(QStringLiteral("Stop"), this);
  for (QPushButton* button : {start_, stop_}) {
    button->setAutoDefault(false);
    button->setMinimumWidth(button->sizeHint().width() * 3 / 2);
    buttons->addWidget(button);
  }
  buttons->addStretch(1);
  layout->addLayout(buttons);

  recent_ = new QTableWidget(0, 5, this);
  recent_->setHorizontalHeaderLabels({QStringLiteral("Time"), QStringLiteral("Fixture"),
                                      QStringLiteral("Result"), QStringLiteral("Duration"),
                                      QStringLiteral("Failure")});
  recent_->setEditTriggers(QAbstractItemView::NoEditTriggers);
  recent_->setSelectionBehavior(QAbstractItemView::SelectRows);
  recent_->setSelectionMode(QAbstractItemView::SingleSelection);
  recent_->verticalHeader()->hide();
  recent_->setWordWrap(false);
  recent_->horizontalHeader()->setStretchLastSection(true);
  recent_->setMinimumHeight(recent_->horizontalHeader()->sizeHint().height() +
                            5 * fontMetrics().lineSpacing());
  layout->addWidget(recent_);

  connect(start_, &QPushButton::clicked, this, &StationWindow::OnStart);
  connect(stop_, &QPushButton::clicked, this, &StationWindow::OnStop);
  connect(historyButton_, &QPushButton::clicked, this, &StationWindow::OnChooseHistory);
  connect(recent_, &QTableWidget::cellDoubleClicked, this, [this](int row, int) { ShowRecord(row); });
  connect(&refreshTimer_, &QTimer::timeout, this, &StationWindow::Refresh);

  chooseHistory_ = [this] {
    // The history is appended to: choosing a file that exists must not sound like replacing it.
    return QFileDialog::getSaveFileName(this, QStringLiteral("History File"), historyPath_,
                                        QStringLiteral("Board history (*.jsonl);;All files (*)"), nullptr,
                                        QFileDialog::DontConfirmOverwrite);
  };
  stop_->setEnabled(false);
  ShowCounts({});
  ShowHistoryPath();
}

StationWindow::~StationWindow() {
  // Joins the station's threads while the inbox and the history they call still exist.
  station_.reset();
}

void StationWindow::SetHistoryPath(const QString& path) {
  if (Running()) return;
  historyPath_ = path;
  ShowHistoryPath();
}

void StationWindow::ShowHistoryPath() {
  QPalette palette = historyText_->palette();
  const QColor window = palette.color(QPalette::Window);
  if (historyPath_.isEmpty()) {
    historyText_->setText(QStringLiteral("none: the boards are not recorded"));
    palette.setColor(QPalette::WindowText, ReadableOn(QColor(230, 120, 0), window));
  } else {
    historyText_->setText(historyPath_);
    palette.setColor(QPalette::WindowText, this->palette().color(QPalette::WindowText));
  }
  historyText_->setPalette(palette);
}

void StationWindow::OnChooseHistory() {
  if (Running()) return;
  const QString path = chooseHistory_();
  if (path.isEmpty()) return;  // cancelled: the choice stays
  SetHistoryPath(path);
}

void StationWindow::ShowHeader(const RunRequest& request, bool verify) {
  header_->setText(SettingsLines(request, verify).join(QLatin1Char('\n')));
}

void StationWindow::showEvent(QShowEvent* event) {
  // What Start would take now; replaced by what it took once the station runs.
  if (!Running()) ShowHeader(host_.StationRequest(), host_.StationVerify());
  QWidget::showEvent(event);
}

void StationWindow::OnStart() {
  if (Running() || boxOpen_) return;
  if (host_.NormalRunInProgress()) {
    ShowMessageBox(this, AppName(),
                   QStringLiteral("A run is in progress. The station can start once it has ended."));
    return;
  }
  const RunRequest request = host_.StationRequest();
  const bool verify = host_.StationVerify();
  ShowHeader(request, verify);
  std::unique_ptr<BoardHistory> history;
  if (!historyPath_.isEmpty()) {
    std::string error;
    history = openHistory_ ? openHistory_(QFile::encodeName(historyPath_).toStdString(), &error) : nullptr;
    if (!history) {
      // The opener names the file in its error.
      if (error.empty()) error = QFile::encodeName(historyPath_).toStdString() + ": cannot be opened";
      ShowMessageBox(this, AppName(),
                     QStringLiteral("Cannot open the history file: %1. The station does not start.")
                         .arg(QString::fromStdString(error)));
      return;
    }
  }
  inbox_.Take();  // nothing of an earlier station is left, but be sure
  history_ = std::move(history);
  StationOptions options = options_;
  options.history = history_.get();
  // As the dialog's RUN: the station's boards stream with transfers in flight when asked.
  options.transfersInFlight = options.transfersInFlight || TransfersInFlightAsked();
  station_ = std::make_unique<Station>(log_, inbox_, options);
  station_->SetVerify(verify);
  // RUN is locked from here: a box the bind shows runs a nested event loop, and a RUN pressed
  // meanwhile would open the probes the station is about to poll.
  host_.StationRunning(true);
  // Binds the link library and checks the settings; a failure has shown its box.
  if (!station_->Start(request)) {
    station_.reset();
    history_.reset();
    host_.StationRunning(false);
    return;
  }
  records_.clear();
  recent_->setRowCount(0);
  for (StationTile* tile : tiles_) {
    FixtureStatus status;
    status.device = tile->Status().device;
    status.location = "unknown";
    tile->SetStatus(status);
  }
  stopPresses_ = 0;
  note_->clear();
  start_->setEnabled(false);
  stop_->setEnabled(true);
  historyButton_->setEnabled(false);
  ShowCounts({});
  refreshTimer_.start(kRefreshMs);
}

void StationWindow::OnStop() {
  if (!Running() || question_) return;
  if (stopPresses_ == 0) {
    stopPresses_ = 1;
    station_->StopAccepting();
    note_->setText(QStringLiteral(
        "Stopping: no new boards; the boards in progress finish. Press Stop again to stop them."));
    return;
  }
  if (stopPresses_ == 1) AskStopBoards();
}

void StationWindow::AskStopBoards() {
  question_ =
      YesNoQuestion(this, QStringLiteral("Stop the boards in progress? They end with the stop marker and "
                                         "count as failed."));
  connect(question_, &QMessageBox::finished, this, [this](int answer) {
    question_ = nullptr;
    if (answer != QMessageBox::Yes || !Running()) return;
    stopPresses_ = 2;
    station_->StopBoards();
    stop_->setEnabled(false);
    note_->setText(QStringLiteral("Stopping the boards in progress."));
  });
  question_->open();
}

void StationWindow::CloseThen(std::function<void()> then) {
  afterClose_ = std::move(then);
  show();
  raise();
  close();
}

void StationWindow::closeEvent(QCloseEvent* event) {
  if (!Running()) {
    event->accept();
    if (auto then = std::exchange(afterClose_, {})) then();
    return;
  }
  event->ignore();
  if (!closePending_ && !question_) AskClose();
}

void StationWindow::AskClose() {
  question_ = YesNoQuestion(
      this, QStringLiteral("The station is running. Stop the boards in progress and close it?"));
  connect(question_, &QMessageBox::finished, this, [this](int answer) {
    question_ = nullptr;
    if (answer != QMessageBox::Yes) {
      afterClose_ = {};
      return;
    }
    if (!Running()) {
      close();  // the station ended while the operator was asked
      return;
    }
    closePending_ = true;
    stopPresses_ = 2;
    station_->StopBoards();
    stop_->setEnabled(false);
    note_->setText(
        QStringLiteral("Stopping the boards in progress; the window closes when they have ended."));
  });
  question_->open();
}

void StationWindow::Refresh() {
  if (!station_) return;
  Deliver(inbox_.Take());
  for (StationTile* tile : tiles_) {
    const FixtureState state = tile->Status().state;
    if (state == FixtureState::kProgramming || state == FixtureState::kStopping)
      tile->SetPercent(station_->FixturePercent(tile->Status().device));
  }
  ShowCounts(station_->Counts());
  if (station_->Ended()) Finish();
}

void StationWindow::Deliver(StationMail mail) {
  for (const auto& status : mail.fixtures) {
    if (status) tiles_[static_cast<size_t>(status->device)]->SetStatus(*status);
  }
  for (const auto& [device, text] : mail.messages) {
    if (device >= 0 && device < kMaxProbes)
      tiles_[static_cast<size_t>(device)]->SetMessage(QString::fromStdString(text));
  }
  for (const BoardRecord& record : mail.ended) AddRecent(record);
  if (!mail.ended.empty()) {
    for (int column = 0; column < 4; ++column) recent_->resizeColumnToContents(column);
  }
  for (const std::string& note : mail.notes) {
    const QString text = QString::fromStdString(note);
    if (note.starts_with("history: ")) {
      // The station stops taking boards: the operator must know now, not when looking.
      boxes_.push_back(
          QStringLiteral("The history file cannot be written (%1). The station takes no more boards.")
              .arg(text.mid(9)));
      QTimer::singleShot(0, this, &StationWindow::ShowNextNote);
    } else {
      note_->setText(text);
    }
  }
}

void StationWindow::ShowNextNote() {
  if (boxOpen_ || boxes_.empty()) return;
  boxOpen_ = true;
  const QString text = boxes_.front();
  boxes_.pop_front();
  QPointer<StationWindow> self(this);
  ShowMessageBox(this, AppName(), text);  // modal; the refresh timer goes on meanwhile
  if (!self) return;
  boxOpen_ = false;
  if (!boxes_.empty()) QTimer::singleShot(0, this, &StationWindow::ShowNextNote);
}

void StationWindow::ShowCounts(const StationCounts& counts) {
  const auto set = [](QLabel* label, const QString& text) {
    if (label->text() != text) label->setText(text);
  };
  set(okCount_, QStringLiteral("Boards OK: %1").arg(counts.ok));
  set(failedCount_, QStringLiteral("Failed: %1").arg(counts.failed));
  set(rate_, QStringLiteral("Boards per hour: %1").arg(counts.boardsPerHour, 0, 'f', 0));
  set(elapsed_, QStringLiteral("Elapsed: %1").arg(HoursMinutesSeconds(counts.elapsedSeconds)));
}

void StationWindow::AddRecent(const BoardRecord& record) {
  // Newest end first. Two fixtures that end together may report in either order, so the row goes
  // where its end time puts it (ISO 8601 UTC texts sort as the times do).
  size_t at = 0;
  while (at < records_.size() && records_[at].endedUtc > record.endedUtc) ++at;
  records_.insert(records_.begin() + static_cast<std::ptrdiff_t>(at), record);
  const int row = static_cast<int>(at);
  recent_->insertRow(row);
  const QString cells[] = {RecordTimeCell(record), RecordFixtureCell(record),
                           QString::fromStdString(record.result), RecordDurationCell(record),
                           RecordFailureCell(record)};
  for (int column = 0; column < 5; ++column) {
    auto* item = new QTableWidgetItem(cells[column]);
    if (column == 4) item->setToolTip(cells[column]);
    recent_->setItem(row, column, item);
  }
  while (records_.size() > size_t{kRecentRows}) {
    records_.pop_back();
    recent_->removeRow(recent_->rowCount() - 1);
  }
}

const BoardRecord* StationWindow::RecentRecord(int row) const {
  return row >= 0 && size_t(row) < records_.size() ? &records_[size_t(row)] : nullptr;
}

void StationWindow::ShowRecord(int row) {
  const BoardRecord* record = RecentRecord(row);
  if (record == nullptr) return;
  // Not modal: the station goes on, and several boards may be looked at side by side.
  auto* box = new QMessageBox(QMessageBox::NoIcon, QStringLiteral("Board %1").arg(record->sequence),
                              RecordText(*record), QMessageBox::Ok, this);
  box->setAttribute(Qt::WA_DeleteOnClose);
  box->setTextInteractionFlags(Qt::TextSelectableByMouse);
  box->setWindowModality(Qt::NonModal);
  FitCaption(box);
  box->show();
}

void StationWindow::Finish() {
  // Every fixture thread has returned: joining them does not wait.
  station_->Wait();
  Deliver(inbox_.Take());
  ShowCounts(station_->Counts());
  refreshTimer_.stop();
  station_.reset();
  history_.reset();
  start_->setEnabled(true);
  stop_->setEnabled(false);
  historyButton_->setEnabled(true);
  if (note_->text().isEmpty() || stopPresses_ > 0) note_->setText(QStringLiteral("The station has ended."));
  host_.StationRunning(false);
  if (closePending_) {
    closePending_ = false;
    close();
  }
}

}  // namespace zolt::ui
