#include "ui/tab_control.h"

#include <QPainter>
#include <QStyleOptionTabWidgetFrame>

namespace zolt::ui {

TabControl::TabControl(QWidget* parent) : QWidget(parent), bar_(new QTabBar(this)) {
  bar_->setDrawBase(false);
  bar_->setExpanding(false);
  bar_->setUsesScrollButtons(true);
  bar_->setElideMode(Qt::ElideNone);
}

void TabControl::resizeEvent(QResizeEvent* event) {
  QWidget::resizeEvent(event);
  bar_->setGeometry(0, 0, width(), bar_->sizeHint().height());
}

void TabControl::paintEvent(QPaintEvent*) {
  QPainter painter(this);
  QStyleOptionTabWidgetFrame frame;
  frame.initFrom(this);
  const int barHeight = bar_->sizeHint().height();
  frame.rect = QRect(0, barHeight - 1, width(), height() - barHeight + 1);
  frame.tabBarSize = bar_->sizeHint();
  frame.shape = QTabBar::RoundedNorth;
  frame.lineWidth = style()->pixelMetric(QStyle::PM_DefaultFrameWidth, nullptr, this);
  style()->drawPrimitive(QStyle::PE_FrameTabWidget, &frame, &painter, this);
}

}  // namespace zolt::ui
