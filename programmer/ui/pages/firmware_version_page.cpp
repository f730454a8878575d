// SPDX-License-Identifier: MIT
#include "ui/pages/firmware_version_page.h"

#include <QLabel>

#include "ui/control_ids.h"

namespace zolt::ui {

FirmwareVersionPage::FirmwareVersionPage(QWidget* parent) : TemplatePage(kFirmwareVersionTemplate, parent) {
  Refresh();
}

void FirmwareVersionPage::SetFirmwareVersion(const QString& text) {
  firmwareVersionText_ = text;
  Refresh();
}

void FirmwareVersionPage::SetBootloaderVersion(const QString& text) {
  bootloaderVersionText_ = text;
  Refresh();
}

void FirmwareVersionPage::Refresh() {
  Controls().Get<QLabel>(kIdFirmwareText)->setText(firmwareVersionText_);
  Controls().Get<QLabel>(kIdBootloaderText)->setText(bootloaderVersionText_);
}

}  // namespace zolt::ui
