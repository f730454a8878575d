// SPDX-License-Identifier: MIT
#include "ui/message_box.h"

#include <QFontMetrics>
#include <QGridLayout>
#include <QMessageBox>
#include <QSpacerItem>
#include <condition_variable>
#include <memory>
#include <mutex>

#include "ui/gui_thread.h"

namespace zolt::ui {
namespace {

QMessageBox* NewBox(QWidget* parent, const QString& caption, const QString& text) {
  auto* box = new QMessageBox(QMessageBox::NoIcon, caption, text, QMessageBox::Ok, parent);
  box->setAttribute(Qt::WA_DeleteOnClose);
  FitCaption(box);
  return box;
}

// Room in a title bar beside the caption: the window icon and three buttons with their margins.
constexpr int kTitleBarButtonsWidth = 150;

// Released once, by the box's end or by its destruction, whichever comes first.
struct Answer {
  std::mutex mu;
  std::condition_variable cv;
  bool done = false;
  void Release() {
    std::lock_guard lock(mu);
    done = true;
    cv.notify_all();
  }
};

}  // namespace

int CaptionWidth(const QMessageBox* box) {
  // Title bars draw their caption in a bold font, often somewhat larger than the dialog's.
  QFont title = box->font();
  title.setBold(true);
  return QFontMetrics(title).horizontalAdvance(box->windowTitle()) * 5 / 4 + kTitleBarButtonsWidth;
}

void FitCaption(QMessageBox* box) {
  // QMessageBox fixes its size from its layout's minimum when shown: a spacer across the bottom
  // row makes that minimum wide enough.
  auto* grid = qobject_cast<QGridLayout*>(box->layout());
  if (!grid) return;
  grid->addItem(new QSpacerItem(CaptionWidth(box), 0, QSizePolicy::Minimum, QSizePolicy::Minimum),
                grid->rowCount(), 0, 1, grid->columnCount());
}

void ShowMessageBox(QWidget* parent, const QString& caption, const QString& text) {
  if (OnThreadOf(parent)) {
    QMessageBox* box = NewBox(parent, caption, text);
    box->setWindowModality(Qt::ApplicationModal);
    box->exec();  // deletes itself when closed
    return;
  }
  auto answer = std::make_shared<Answer>();
  // Whoever drops the last copy of `release` lets the caller go: the box's destroyed-connection
  // when the box goes, or the queued call itself if the parent is gone before it runs.
  std::shared_ptr<void> release(nullptr, [answer](void*) { answer->Release(); });
  QMetaObject::invokeMethod(
      parent,
      [parent, caption, text, release] {
        QMessageBox* box = NewBox(parent, caption, text);
        QObject::connect(box, &QObject::destroyed, [release] {});
        box->setWindowModality(Qt::WindowModal);
        box->show();
      },
      Qt::QueuedConnection);
  release.reset();
  std::unique_lock lock(answer->mu);
  answer->cv.wait(lock, [&] { return answer->done; });
}

}  // namespace zolt::ui
