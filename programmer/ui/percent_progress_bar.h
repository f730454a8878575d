// PercentProgressBar: the run's progress bar (control 1018). Keeps its own range and position and
// paints itself whole: the filled part from the left, the unfilled rest, and optionally a centred
// "37%" whose colour flips where the filled part passes under it. Each paint is composed off
// screen and copied in one step, so the bar does not flicker while the monitor advances it.
//
// Threads: GUI thread only (the dialog's Operator carries SetPos from the monitor job's thread).
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
  void SetBackgroundColour(const QColor& colour) { backgroundColour_ = colour; }

  int Pos() const { return pos_; }
  int Step() const { return step_; }
  int Lower() const { return lower_; }
  int Upper() const { return upper_; }
  bool ShowText() const { return showText_; }
  QColor BarColour() const { return barColour_; }
  QColor BackgroundColour() const { return backgroundColour_; }
  QColor TextOnBarColour() const { return textOnBarColour_; }
  QColor TextOnBackgroundColour() const { return textOnBackgroundColour_; }

  // Width in pixels of the filled part of a client area `clientWidth` wide, and the percentage the
  // text shows; both truncated towards zero in exact integer arithmetic (999 of 1000 is 99%).
  int FillWidth(int clientWidth) const;
  int Percent() const;

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  int pos_ = 0;
  int step_ = 1;
  int upper_ = 100;
  int lower_ = 0;
  bool showText_ = false;
  int fillWidth_ = -1;  // filled width at the last redraw SetPos asked for; -1: none on record
  QColor barColour_;
  QColor backgroundColour_;
  QColor textOnBackgroundColour_;
  QColor textOnBarColour_;
};

}  // namespace zolt::ui
