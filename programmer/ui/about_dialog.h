// SPDX-License-Identifier: MIT
// AboutDialog (template 100, caption "ZOLT_USB_JTAG 정보"): the icon, two lines of text and "확인".
//
// Threads: GUI thread only; exec() blocks in a nested event loop until closed.
#pragma once

#include <QDialog>

#include "ui/dialog_builder.h"

namespace zolt::ui {

class AboutDialog : public QDialog {
  Q_OBJECT
 public:
  explicit AboutDialog(QWidget* parent = nullptr);
  const ControlMap& Controls() const { return built_.controls; }

 private:
  BuiltDialog built_;
};

}  // namespace zolt::ui
