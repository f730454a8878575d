// SPDX-License-Identifier: MIT
// MultiDevicePage (template 114, tab "Multi USB JTAG"): whether RUN uses every identified probe,
// and the device list: 4 rows of four ("Device", "Stat") column pairs, device d in row d / 4, its
// name "[%3d]" in column 2 * (d % 4) and its state in column 2 * (d % 4) + 1.
//
// Sent-byte counts. The download jobs report progress thousands of times a second, so the counts
// are atomics that StoreFileProgress writes at once from any thread; a 30 Hz timer on the GUI
// thread (FlushProgress) redraws only the cells whose device reported since the last pass, each
// from the latest counts. TotalSentBytes sums the counts from any thread without the GUI thread.
//
// Threads: StoreFileProgress, TotalSentBytes and SentBytes from any thread, never blocking; every
// other operation on the GUI thread only.
#pragma once

#include <QString>
#include <QTimer>
#include <array>
#include <atomic>
#include <cstdint>

#include "ui/template_page.h"

class QTableWidget;

namespace zolt::ui {

class MultiDevicePage : public TemplatePage {
  Q_OBJECT
 public:
  static constexpr int kDevices = 16;
  static constexpr int kFiles = 3;
  static constexpr int kRows = 4;
  static constexpr int kColumns = 8;
  // How often reported progress is drawn.
  static constexpr int kProgressRefreshMs = 33;

  explicit MultiDevicePage(QWidget* parent);

  // Takes in, returns the "Enable Multi Device" box.
  bool IsMultiDeviceEnabled();
  // "YES" for slots[d] == 1, else "NO", in every state cell; clears the 48 sent-byte counts and
  // drops progress not yet drawn.
  void ShowDeviceStates(const std::array<uint8_t, kDevices>& slots);

  // Any thread: stores the count of `device`'s file `file` (0..2) and marks its cell for the next
  // redraw. Out-of-range indices are ignored.
  void StoreFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize);
  // GUI thread: store and draw the cell at once.
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize);
  // GUI thread: draws "%d%%" (sent x 100 / size, an empty file 100%) in each marked cell.
  void FlushProgress();

  // Any thread: the sum of the 48 counts.
  uint64_t TotalSentBytes() const;
  uint32_t SentBytes(int device, int file) const;

  // The text of device `device`'s state cell (or name cell).
  QString StateCell(int device) const;
  QString NameCell(int device) const;
  QTableWidget* DeviceList() const;

  void TakeIn() override;
  void Refresh() override;

 private:
  void SetCell(int row, int column, const QString& text);

  bool multiDeviceEnabled_ = true;
  std::array<std::array<std::atomic<uint32_t>, kFiles>, kDevices> sentBytes_{};
  std::array<std::array<std::atomic<uint32_t>, kFiles>, kDevices> fileSize_{};
  std::array<std::atomic<int>, kDevices> currentFile_{};
  std::array<std::atomic<bool>, kDevices> dirty_{};
  QTimer refreshTimer_;
};

// "%d%%" of sent x 100 / size in 64-bit arithmetic; an empty file shows 100%.
QString FileProgressText(uint32_t sentBytes, uint32_t fileSize);

}  // namespace zolt::ui
