// SPDX-License-Identifier: MIT
// The dialog's RunView called from worker threads, as the jobs call it.
#include "ui/dialog_operator.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QLineEdit>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <atomic>
#include <chrono>
#include <thread>
#include <vector>

#include "ui/control_ids.h"
#include "ui/log_view.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/multi_device_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/programmer_dialog.h"

namespace zolt::ui {
namespace {

// Serves the GUI thread's events until `done` holds; a generous guard against hangs only.
template <class Done>
bool ServeUntil(Done done) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(30);
  while (!done()) {
    if (std::chrono::steady_clock::now() > deadline) return false;
    QApplication::processEvents(QEventLoop::AllEvents, 5);
  }
  return true;
}

TEST(DialogOperator, AppendsOfManyThreadsLandWhole) {
  ProgrammerDialog dialog;
  DialogOperator op(dialog);
  constexpr int kThreads = 8, kTexts = 150;
  std::atomic<int> finished{0};
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kTexts; ++i) {
        // Several lines per call, like a job's error report.
        const std::string text = "\r\n  DEVICE #" + std::to_string(t) + ": part A of " + std::to_string(i) +
                                 "\r\n  DEVICE #" + std::to_string(t) + ": part B of " + std::to_string(i) +
                                 "\r\n";
        op.Append(text);
      }
      ++finished;
    });
  }
  ASSERT_TRUE(ServeUntil([&] { return finished == kThreads; }));
  for (auto& th : threads) th.join();
  QApplication::processEvents();

  const QStringList lines = dialog.Log()->toPlainText().split(QLatin1Char('\n'));
  int texts = 0;
  for (int i = 0; i < lines.size(); ++i) {
    if (!lines[i].contains(QStringLiteral("part A"))) continue;
    ++texts;
    // The B line of the same call follows at once, and an empty line came before it.
    ASSERT_LT(i + 1, lines.size());
    QString expectedB = lines[i];
    expectedB.replace(QStringLiteral("part A"), QStringLiteral("part B"));
    EXPECT_EQ(lines[i + 1], expectedB);
    EXPECT_TRUE(i > 0 && lines[i - 1].isEmpty());
  }
  EXPECT_EQ(texts, kThreads * kTexts);
}

TEST(DialogOperator, RunRequestHoldsEveryPageAsRunFindsIt) {
  ProgrammerDialog dialog;
  DialogOperator op(dialog);
  dialog.ProductList()->setCurrentIndex(1);
  Q_EMIT dialog.ProductList()->activated(1);
  dialog.NorOptions()->OffsetBox()->setText(QStringLiteral("1f000"));
  dialog.FileSelection()->Controls().Get<QLineEdit>(kIdImageBlock1)->setText(QStringLiteral("12abc"));
  dialog.FileSelection()->SetFileChooser([] { return QStringLiteral("/home/op/images/boot.bin"); });
  dialog.FileSelection()->OnOpenImage(0);

  const RunRequest request = dialog.BuildRunRequest();
  EXPECT_EQ(request.productIndex, 1);
  EXPECT_EQ(request.flashType, FlashType::kNand);
  EXPECT_EQ(request.offsetText, "1f000");
  EXPECT_EQ(request.Offset(), 0x1f000u);
  EXPECT_EQ(request.images[0].blockText, "12abc");
  EXPECT_EQ(request.Block(0), 12u);
  EXPECT_EQ(request.images[0].path, "/home/op/images/boot.bin");
  EXPECT_TRUE(request.images[0].enabled);
  EXPECT_FALSE(request.images[1].enabled);
  EXPECT_EQ(request.Block(1), 1u);
  EXPECT_EQ(request.intervalMs, 100);
  EXPECT_FALSE(request.pinToggle);

  // Run states shown from a worker reach the button in the order shown.
  std::thread worker([&] {
    op.ShowRunState(RunState::kRunning);
    op.ShowRunState(RunState::kStopping);
  });
  worker.join();
  QApplication::processEvents();
  EXPECT_EQ(dialog.RunButton()->text(), QStringLiteral("STOP"));
  EXPECT_FALSE(dialog.RunButton()->isEnabled());
}

QMessageBox* OpenBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
  }
  return nullptr;
}

TEST(DialogOperator, MessageBoxesOfWorkersBlockUntilAnswered) {
  ProgrammerDialog dialog;
  dialog.show();
  DialogOperator op(dialog);
  std::atomic<int> returned{0};
  std::thread a([&] {
    op.ShowMessage("Download Complete !");
    ++returned;
  });
  std::thread b([&] {
    op.ShowErrorMessage("libVorlink.so, failed with error 2: No such file");
    ++returned;
  });
  // Both boxes open together; neither worker goes on before its box is answered.
  ASSERT_TRUE(ServeUntil([&] {
    int open = 0;
    for (QWidget* w : QApplication::topLevelWidgets())
      open += qobject_cast<QMessageBox*>(w) && w->isVisible();
    return open == 2;
  }));
  QTest::qWait(100);
  EXPECT_EQ(returned, 0);

  QStringList captions;
  while (QMessageBox* box = OpenBox()) {
    captions << box->windowTitle() + QStringLiteral(": ") + box->text();
    EXPECT_EQ(box->icon(), QMessageBox::NoIcon);
    box->button(QMessageBox::Ok)->click();
    QApplication::processEvents();
  }
  ASSERT_TRUE(ServeUntil([&] { return returned == 2; }));
  a.join();
  b.join();
  captions.sort();
  EXPECT_EQ(captions, (QStringList{QStringLiteral("Error: libVorlink.so, failed with error 2: No such file"),
                                   QStringLiteral("ZOLT_USB_JTAG: Download Complete !")}));
}

TEST(DialogOperator, ProgressIsStoredAtOnceAndDrawnCoalesced) {
  ProgrammerDialog dialog;
  DialogOperator op(dialog);
  std::array<uint8_t, 16> slots{};
  slots[2] = 1;
  op.ShowDeviceStates(slots);
  std::thread worker([&] {
    for (uint32_t sent = 64; sent <= 64000; sent += 64) op.UpdateFileProgress(2, 0, sent, 64000);
  });
  worker.join();
  EXPECT_EQ(op.TotalSentBytes(), 64000u);  // without the GUI thread
  EXPECT_EQ(dialog.MultiDevice()->StateCell(2), QStringLiteral("YES"));
  ASSERT_TRUE(ServeUntil([&] { return dialog.MultiDevice()->StateCell(2) == QStringLiteral("100%"); }));
}

}  // namespace
}  // namespace zolt::ui
