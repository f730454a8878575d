// SPDX-License-Identifier: MIT
#include "ui/push_like_button.h"

#include <QEvent>

#include "ui/colour_contrast.h"

namespace zolt::ui {

PushLikeRadioButton::PushLikeRadioButton(const QString& text, QWidget* parent) : QPushButton(text, parent) {
  setCheckable(true);
  // A radio button is no push button to the dialog: Enter on it goes to the dialog.
  setAutoDefault(false);
  connect(this, &QPushButton::toggled, this, &PushLikeRadioButton::ShowCheckedState);
}

void PushLikeRadioButton::ShowCheckedState() {
  restyling_ = true;
  setPalette(QPalette());  // back to the inherited palette
  if (isChecked()) {
    QPalette p = palette();
    // The highlight, made darker or lighter where it lies too close to an unchecked face; with a
    // margin, as styles shade faces a little (Fusion's gradients).
    const QColor face =
        ReadableOn(p.color(QPalette::Highlight), p.color(QPalette::Button), kControlContrast * 1.25);
    // Styles fill a pressed button from these: solid highlight, whichever style draws it.
    // (The Windows style dithers a checked face over the background: that is filled too.)
    for (QPalette::ColorRole role : {QPalette::Button, QPalette::Light, QPalette::Midlight, QPalette::Window})
      p.setColor(role, face);
    p.setColor(QPalette::ButtonText, ReadableOn(p.color(QPalette::HighlightedText), face));
    setPalette(p);
  }
  setAutoFillBackground(isChecked());
  restyling_ = false;
}

void PushLikeRadioButton::changeEvent(QEvent* event) {
  QPushButton::changeEvent(event);
  if (event->type() == QEvent::PaletteChange && !restyling_) ShowCheckedState();
}

}  // namespace zolt::ui
