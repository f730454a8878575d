// SPDX-License-Identifier: MIT
#include "ui/pages/multi_device_page.h"

#include <QCheckBox>
#include <QHeaderView>
#include <QTableWidget>

#include "ui/control_ids.h"

namespace zolt::ui {

QString FileProgressText(uint32_t sentBytes, uint32_t fileSize) {
  const uint64_t percent = fileSize == 0 ? 100 : uint64_t(sentBytes) * 100 / fileSize;
  return QStringLiteral("%1%").arg(percent);
}

MultiDevicePage::MultiDevicePage(QWidget* parent) : TemplatePage(kMultiDeviceTemplate, parent) {
  Refresh();
  QTableWidget* list = DeviceList();
  list->setColumnCount(kColumns);
  for (int c = 0; c < kColumns; ++c) {
    list->setHorizontalHeaderItem(
        c, new QTableWidgetItem(c % 2 == 0 ? QStringLiteral("Device") : QStringLiteral("Stat")));
    list->setColumnWidth(c, c % 2 == 0 ? 50 : 45);
  }
  list->setRowCount(kRows);
  for (int d = 0; d < kDevices; ++d) {
    SetCell(d / 4, 2 * (d % 4), QStringLiteral("[%1]").arg(d, 3));
    SetCell(d / 4, 2 * (d % 4) + 1, QString());
  }
  list->setShowGrid(true);
  list->verticalHeader()->setDefaultSectionSize(list->fontMetrics().height() + 4);
  list->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
  Refresh();

  connect(&refreshTimer_, &QTimer::timeout, this, &MultiDevicePage::FlushProgress);
  refreshTimer_.start(kProgressRefreshMs);
}

QTableWidget* MultiDevicePage::DeviceList() const {
  return Controls().Get<QTableWidget>(kIdDeviceList);
}

void MultiDevicePage::TakeIn() {
  multiDeviceEnabled_ = Controls().Get<QCheckBox>(kIdMultiDeviceBox)->isChecked();
}

void MultiDevicePage::Refresh() {
  Controls().Get<QCheckBox>(kIdMultiDeviceBox)->setChecked(multiDeviceEnabled_);
}

bool MultiDevicePage::IsMultiDeviceEnabled() {
  TakeIn();
  return multiDeviceEnabled_;
}

void MultiDevicePage::SetCell(int row, int column, const QString& text) {
  QTableWidget* list = DeviceList();
  QTableWidgetItem* item = list->item(row, column);
  if (!item) {
    list->setItem(row, column, new QTableWidgetItem(text));
  } else if (item->text() != text) {
    item->setText(text);
  }
}

QString MultiDevicePage::StateCell(int device) const {
  QTableWidgetItem* item = DeviceList()->item(device / 4, 2 * (device % 4) + 1);
  return item ? item->text() : QString();
}

QString MultiDevicePage::NameCell(int device) const {
  QTableWidgetItem* item = DeviceList()->item(device / 4, 2 * (device % 4));
  return item ? item->text() : QString();
}

void MultiDevicePage::ShowDeviceStates(const std::array<uint8_t, kDevices>& slots) {
  for (int d = 0; d < kDevices; ++d) {
    dirty_[d].store(false);
    SetCell(d / 4, 2 * (d % 4) + 1, slots[d] == 1 ? QStringLiteral("YES") : QStringLiteral("NO"));
  }
  for (auto& row : sentBytes_) {
    for (auto& count : row) count.store(0);
  }
  Refresh();
}

void MultiDevicePage::StoreFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) {
  if (device < 0 || device >= kDevices || file < 0 || file >= kFiles) return;
  sentBytes_[device][file].store(sentBytes, std::memory_order_relaxed);
  fileSize_[device][file].store(fileSize, std::memory_order_relaxed);
  currentFile_[device].store(file, std::memory_order_relaxed);
  dirty_[device].store(true, std::memory_order_release);
}

void MultiDevicePage::UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) {
  StoreFileProgress(device, file, sentBytes, fileSize);
  FlushProgress();
}

void MultiDevicePage::FlushProgress() {
  for (int d = 0; d < kDevices; ++d) {
    if (!dirty_[d].exchange(false, std::memory_order_acquire)) continue;
    const int file = currentFile_[d].load(std::memory_order_relaxed);
    SetCell(d / 4, 2 * (d % 4) + 1,
            FileProgressText(sentBytes_[d][file].load(std::memory_order_relaxed),
                             fileSize_[d][file].load(std::memory_order_relaxed)));
  }
}

uint64_t MultiDevicePage::TotalSentBytes() const {
  uint64_t sum = 0;
  for (const auto& row : sentBytes_) {
    for (const auto& count : row) sum += count.load(std::memory_order_relaxed);
  }
  return sum;
}

uint32_t MultiDevicePage::SentBytes(int device, int file) const {
  if (device < 0 || device >= kDevices || file < 0 || file >= kFiles) return 0;
  return sentBytes_[device][file].load(std::memory_order_relaxed);
}

}  // namespace zolt::ui
