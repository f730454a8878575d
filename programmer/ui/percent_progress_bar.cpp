// SPDX-License-Identifier: MIT
#include "ui/percent_progress_bar.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPixmap>
#include <algorithm>
#include <cstdint>
#include <limits>

#include "ui/colour_contrast.h"

namespace zolt::ui {
namespace {

int ClampToInt(int64_t v) {
  return static_cast<int>(
      std::clamp<int64_t>(v, std::numeric_limits<int>::min(), std::numeric_limits<int>::max()));
}

}  // namespace

PercentProgressBar::PercentProgressBar(QWidget* parent) : QFrame(parent) {
  TakePaletteColours();
}

void PercentProgressBar::TakePaletteColours() {
  const QPalette& p = palette();
  barColour_ = p.color(QPalette::Highlight);
  if (!backgroundSet_) backgroundColour_ = p.color(QPalette::Button);
  textOnBackgroundColour_ = p.color(QPalette::Highlight);
  textOnBarColour_ = p.color(QPalette::Base);
}

void PercentProgressBar::SetBackgroundColour(const QColor& colour) {
  backgroundColour_ = colour;
  backgroundSet_ = true;
}

QColor PercentProgressBar::DrawnTextOnBarColour() const {
  return ReadableOn(textOnBarColour_, barColour_);
}

QColor PercentProgressBar::DrawnTextOnBackgroundColour() const {
  return ReadableOn(textOnBackgroundColour_, backgroundColour_);
}

void PercentProgressBar::changeEvent(QEvent* event) {
  QFrame::changeEvent(event);
  if (event->type() == QEvent::PaletteChange) {
    TakePaletteColours();
    update();
  }
}

void PercentProgressBar::SetRange(int lower, int upper) {
  lower_ = lower;
  upper_ = upper;
}

int PercentProgressBar::FillWidth(int clientWidth) const {
  // An empty range fills nothing (and is not painted at all).
  if (upper_ <= lower_) return 0;
  return ClampToInt((int64_t(pos_) - lower_) * clientWidth / (int64_t(upper_) - lower_));
}

int PercentProgressBar::Percent() const {
  if (upper_ <= lower_) return 0;
  return ClampToInt((int64_t(pos_) - lower_) * 100 / (int64_t(upper_) - lower_));
}

int PercentProgressBar::SetPos(int pos) {
  const int old = pos_;
  pos_ = pos;
  const int fill = FillWidth(contentsRect().width());
  if (fill != fillWidth_) {
    fillWidth_ = fill;
    repaint();
  }
  return old;
}

int PercentProgressBar::SetStep(int step) {
  const int old = step_;
  step_ = step;
  return old;
}

void PercentProgressBar::SetShowText(bool show) {
  if (show != showText_) {
    showText_ = show;
    update();
  }
}

void PercentProgressBar::resizeEvent(QResizeEvent* event) {
  QFrame::resizeEvent(event);
  fillWidth_ = -1;
}

void PercentProgressBar::paintEvent(QPaintEvent* event) {
  QPainter screen(this);
  drawFrame(&screen);
  if (lower_ >= upper_) return;

  const QRect client = contentsRect();
  const QRect clip = event->rect() & client;
  if (clip.isEmpty()) return;

  // Compose the clip box off screen, drawing in client coordinates, then copy it in one step.
  const qreal ratio = devicePixelRatioF();
  QPixmap buffer(clip.size() * ratio);
  buffer.setDevicePixelRatio(ratio);
  {
    QPainter painter(&buffer);
    painter.translate(-clip.topLeft());
    painter.setFont(font());

    const int fill = std::clamp(FillWidth(client.width()), 0, client.width());
    const QRect filled(client.left(), client.top(), fill, client.height());
    const QRect unfilled(client.left() + fill, client.top(), client.width() - fill, client.height());
    painter.fillRect(filled, barColour_);
    painter.fillRect(unfilled, backgroundColour_);

    if (showText_) {
      const QString text = QStringLiteral("%1%").arg(Percent());
      painter.setBackgroundMode(Qt::TransparentMode);
      painter.setClipRect(filled);
      painter.setPen(DrawnTextOnBarColour());
      painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, text);
      painter.setClipRect(unfilled);
      painter.setPen(DrawnTextOnBackgroundColour());
      painter.drawText(client, Qt::AlignCenter | Qt::TextSingleLine, text);
    }
  }
  screen.drawPixmap(clip.topLeft(), buffer);
}

}  // namespace zolt::ui
