// SPDX-License-Identifier: MIT
// FirmwareVersionPage (template 109, tab "Read Firmware Version"): the firmware and bootloader
// version texts the last job read from its probe ("?" until then).
//
// Threads: GUI thread only. Nothing blocks; nothing fails.
#pragma once

#include <QString>

#include "ui/template_page.h"

namespace zolt::ui {

class FirmwareVersionPage : public TemplatePage {
  Q_OBJECT
 public:
  explicit FirmwareVersionPage(QWidget* parent);

  void SetFirmwareVersion(const QString& text);
  void SetBootloaderVersion(const QString& text);
  QString FirmwareVersion() const { return firmwareVersionText_; }
  QString BootloaderVersion() const { return bootloaderVersionText_; }

  // The two texts are static: nothing to take in.
  void TakeIn() override {}
  void Refresh() override;

 private:
  QString firmwareVersionText_ = QStringLiteral("?");
  QString bootloaderVersionText_ = QStringLiteral("?");
};

}  // namespace zolt::ui
