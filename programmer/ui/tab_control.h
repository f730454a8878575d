// SPDX-License-Identifier: MIT
// The tab control of the main dialog: a strip of tabs over a framed panel. The pages are not its
// children: they are sibling windows that lie over its page area, and the dialog shows one at a
// time when the selection changes (as the native tab control leaves it to its owner).
//
// Tabs are as wide as their text plus a padding of 6 px on each side, like the native control's;
// when the five labels would not fit that way, the padding shrinks (down to 1 px) so that every
// tab stays in view; the scroll arrows come only when even that is too wide.
//
// Threads: GUI thread only.
#pragma once

#include <QTabBar>
#include <QWidget>

class QProxyStyle;

namespace zolt::ui {

class TabControl : public QWidget {
  Q_OBJECT
 public:
  explicit TabControl(QWidget* parent = nullptr);

  QTabBar* tabBar() const { return bar_; }
  int InsertTab(int index, const QString& text);
  int CurrentIndex() const { return bar_->currentIndex(); }
  void SetCurrentIndex(int index) { bar_->setCurrentIndex(index); }

  // The part of the panel inside its frame, below the tab row, in this control's coordinates.
  QRect PageArea() const;
  // Padding on each side of a tab's text, in pixels.
  int TabPadding() const { return padding_; }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;
  void changeEvent(QEvent* event) override;

 private:
  int BarHeight() const;
  void FitTabs();

  QTabBar* bar_;
  QProxyStyle* barStyle_;
  int padding_ = 6;
};

}  // namespace zolt::ui
