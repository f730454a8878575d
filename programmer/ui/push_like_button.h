// SPDX-License-Identifier: MIT
// PushLikeRadioButton: a radio button drawn as a push button (NAND, NOR). The checked one is
// filled with the palette's highlight colour and its text made readable on it, so that the chosen
// flash type stands out in any palette; styles alone draw it only a shade darker, which a dark
// palette makes all but invisible.
//
// Threads: GUI thread only.
#pragma once

#include <QPushButton>

namespace zolt::ui {

class PushLikeRadioButton : public QPushButton {
  Q_OBJECT
 public:
  explicit PushLikeRadioButton(const QString& text, QWidget* parent = nullptr);

 protected:
  void changeEvent(QEvent* event) override;

 private:
  void ShowCheckedState();
  bool restyling_ = false;
};

}  // namespace zolt::ui
