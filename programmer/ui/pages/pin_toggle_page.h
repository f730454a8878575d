// SPDX-License-Identifier: MIT
// PinTogglePage (template 106, tab "Pin Toggle"): whether RUN toggles the target's pins instead of
// downloading, and the toggle interval (track bar, 1..500 ms, 100 at start).
//
// Threads: GUI thread only. Nothing blocks; nothing fails.
#pragma once

#include "ui/template_page.h"

class QSlider;

namespace zolt::ui {

class PinTogglePage : public TemplatePage {
  Q_OBJECT
 public:
  explicit PinTogglePage(QWidget* parent);

  // Takes in, returns the "Enble Pin Toggling" box.
  bool IsPinToggleEnabled();
  // The track bar's position, 1..500 (milliseconds).
  int GetInterval() const;
  QSlider* IntervalSlider() const;

  void TakeIn() override;
  void Refresh() override;

 private:
  bool pinToggleEnabled_ = false;
};

}  // namespace zolt::ui
