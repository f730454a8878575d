// SPDX-License-Identifier: MIT
// PercentProgressBar: the run's progress bar (control 1018). Keeps its own range and position and
// paints itself whole: the filled part from the left, the unfilled rest, and optionally a centred
// "37%" whose colour flips where the filled part passes under it. Each paint is composed off
// screen and copied in one step, so the bar does not flicker while the monitor advances it.
//
// Threads: GUI thread only (the dialog's RunView carries SetPos from the monitor job's thread).
// Nothing blocks; nothing fails.
#pragma once

#include <QColor>
#include <QFrame>

namespace zolt::ui {

class PercentProgressBar : public QFrame {
  Q_OBJECT
 public:
  explicit PercentProgressBar(QWidget* parent = nullptr);

  // Stores the range; no redraw.
  void SetRange(int lower, int upper);
  // Stores the position and returns the previous one. Redraws at once only when the filled width
  // in pixels changes, so positions that change no pixel cost no painting. Positions outside the
  // range are stored unchanged (the bar is then drawn empty or full, the text shows the value).
  int SetPos(int pos);
  // Stores the step and returns the previous one; painting does not use it.
  int SetStep(int step);
  // Shows or hides the percentage text; repaints only when the setting changes.
  void SetShowText(bool show);
  void SetBackgroundColour(const QColor& colour);

  int Pos() const { return pos_; }
  int Step() const { return step_; }
  int Lower() const { return lower_; }
  int Upper() const { return upper_; }
  bool ShowText() const { return showText_; }
  QColor BarColour() const { return barColour_; }
  QColor BackgroundColour() const { return backgroundColour_; }
  QColor TextOnBarColour() const { return textOnBarColour_; }
  QColor TextOnBackgroundColour() const { return textOnBackgroundColour_; }
  // The colours the text is drawn in: the two above, or, where one is less than 4.5:1 apart from
  // the fill under it (the palette's base colour on a dark palette's highlight), that colour made
  // darker or lighter until it is. Every palette gives a readable "100%".
  QColor DrawnTextOnBarColour() const;
  QColor DrawnTextOnBackgroundColour() const;

  // Width in pixels of the filled part of a client area `clientWidth` wide, and the percentage the
  // text shows; both truncated towards zero in exact integer arithmetic (999 of 1000 is 99%).
  int FillWidth(int clientWidth) const;
  int Percent() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  // The colours that come from the palette follow a change of it.
  void changeEvent(QEvent* event) override;

 private:
  int pos_ = 0;
  int step_ = 1;
  int upper_ = 100;
  int lower_ = 0;
  bool showText_ = false;
  void TakePaletteColours();

  int fillWidth_ = -1;  // filled width at the last redraw SetPos asked for; -1: none on record
  QColor barColour_;
  QColor backgroundColour_;
  QColor textOnBackgroundColour_;
  QColor textOnBarColour_;
  bool backgroundSet_ = false;
};

}  // namespace zolt::ui
