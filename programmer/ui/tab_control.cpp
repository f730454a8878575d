// SPDX-License-Identifier: MIT
#include "ui/tab_control.h"

#include <QApplication>
#include <QPainter>
#include <QProxyStyle>
#include <QStyleOptionTabWidgetFrame>
#include <algorithm>

namespace zolt::ui {
namespace {

constexpr int kNativePadding = 6;

// Tab widths are the text plus twice `padding`, whatever the application style would add.
class TabPaddingStyle : public QProxyStyle {
 public:
  int padding = kNativePadding;
  int pixelMetric(PixelMetric metric, const QStyleOption* option, const QWidget* widget) const override {
    if (metric == PM_TabBarTabHSpace) return 2 * padding;
    return QProxyStyle::pixelMetric(metric, option, widget);
  }
};

}  // namespace

TabControl::TabControl(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)) {
  auto* style = new TabPaddingStyle;
  style->setParent(bar_);
  barStyle_ = style;
  bar_->setStyle(style);
  bar_->setDrawBase(false);
  bar_->setExpanding(false);
  bar_->setUsesScrollButtons(true);
  bar_->setElideMode(Qt::ElideNone);
}

int TabControl::InsertTab(int index, const QString& text) {
  const int at = bar_->insertTab(index, text);
  FitTabs();
  return at;
}

int TabControl::BarHeight() const {
  return bar_->sizeHint().height();
}

QRect TabControl::PageArea() const {
  const int frame = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  return QRect(frame, BarHeight() - 1 + frame, width() - 2 * frame, height() - BarHeight() + 1 - 2 * frame);
}

void TabControl::FitTabs() {
  int text = 0;
  for (int i = 0; i < bar_->count(); ++i) text += bar_->fontMetrics().horizontalAdvance(bar_->tabText(i));
  const int tabs = std::max(1, bar_->count());
  // The tab bar keeps a pixel or two of its own at the ends; leave them free.
  const int room = width() - 4 - text;
  const int padding = std::clamp(room / (2 * tabs), 1, kNativePadding);
  auto* style = static_cast<TabPaddingStyle*>(barStyle_);
  if (padding != style->padding) {
    style->padding = padding;
    padding_ = padding;
    // The tab bar measures its tabs again on a style change.
    QEvent change(QEvent::StyleChange);
    QApplication::sendEvent(bar_, &change);
  }
  bar_->setGeometry(0, 0, width(), BarHeight());
}

void TabControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  FitTabs();
}

void TabControl::changeEvent(QEvent* event) {
  QWidget::changeEvent(event);
  if (event->type() == QEvent::FontChange || event->type() == QEvent::StyleChange) FitTabs();
}

void TabControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionTabWidgetFrame frame;
  frame.initFrom(this);
  const int barHeight = BarHeight();
  frame.rect = QRect(0, barHeight - 1, width(), height() - barHeight + 1);
  frame.tabBarSize = bar_->sizeHint();
  frame.shape = QTabBar::RoundedNorth;
  frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

}  // namespace zolt::ui
