// SPDX-License-Identifier: MIT
#include "ui/pages/pin_toggle_page.h"

#include <QCheckBox>
#include <QSlider>

#include "ui/control_ids.h"

namespace zolt::ui {

PinTogglePage::PinTogglePage(QWidget* parent) : TemplatePage(kPinToggleTemplate, parent) {
  Refresh();
  IntervalSlider()->setRange(1, 500);
  // A native track bar pages (PgUp/PgDn, a click in the channel) by a fifth of its range, not Qt's 10.
  IntervalSlider()->setPageStep((500 - 1) / 5);
  IntervalSlider()->setValue(100);
  Refresh();
}

QSlider* PinTogglePage::IntervalSlider() const {
  return Controls().Get<QSlider>(kIdIntervalSlider);
}

void PinTogglePage::TakeIn() {
  pinToggleEnabled_ = Controls().Get<QCheckBox>(kIdPinToggleBox)->isChecked();
}

void PinTogglePage::Refresh() {
  Controls().Get<QCheckBox>(kIdPinToggleBox)->setChecked(pinToggleEnabled_);
}

bool PinTogglePage::IsPinToggleEnabled() {
  TakeIn();
  return pinToggleEnabled_;
}

int PinTogglePage::GetInterval() const {
  return IntervalSlider()->value();
}

}  // namespace zolt::ui
