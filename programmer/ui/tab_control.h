// The tab control of the main dialog: a strip of tabs over a framed panel. The pages are not its
// children: they are sibling windows that lie over its panel, and the dialog shows one at a time
// when the selection changes (as the native tab control leaves it to its owner).
//
// Threads: GUI thread only.
#pragma once

#include <QTabBar>
#include <QWidget>

namespace zolt::ui {

class TabControl : public QWidget {
  Q_OBJECT
 public:
  explicit TabControl(QWidget* parent = nullptr);

  QTabBar* tabBar() const { return bar_; }
  int InsertTab(int index, const QString& text) { return bar_->insertTab(index, text); }
  int CurrentIndex() const { return bar_->currentIndex(); }
  void SetCurrentIndex(int index) { bar_->setCurrentIndex(index); }

 protected:
  void paintEvent(QPaintEvent* event) override;
  void resizeEvent(QResizeEvent* event) override;

 private:
  QTabBar* bar_;
};

}  // namespace zolt::ui
