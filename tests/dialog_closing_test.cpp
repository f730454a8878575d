// SPDX-License-Identifier: MIT
// The real dialog on a sixteen-board realistic bench through libVorlink.so beside the test: closed
// mid-run with the stop question answered yes, and a probe unplugged while its message box is
// open. Each test needs a process of its own (the link library reads its bench once); ctest runs
// every test alone.
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QMessageBox>
#include <QPushButton>
#include <chrono>
#include <cstdlib>
#include <memory>

#include "testing/qt_wait.h"
#include "testing/scratch_dir.h"
#include "ui/dialog_application.h"
#include "ui/log_view.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/multi_device_page.h"
#include "ui/pages/nor_options_page.h"

namespace zolt::ui {
namespace {

using zolt::testing::ServeUntil;
using zolt::testing::VisibleBox;

constexpr int kBoards = 16;
// Sixteen realistic boards take long on a busy machine; a hang guard only.
constexpr std::chrono::seconds kGuard(90);

class DialogClosing : public ::testing::Test {
 protected:
  // Sixteen KELDA boards with an EN29LV040A; board `faulty` gets `faults`.
  void SetUpBench(int faulty = -1, const QByteArray& faults = {}) {
    ASSERT_TRUE(QDir(Path("")).exists());
    QDir().mkpath(Path("state"));
    QByteArray toml = "[bench]\ntiming = \"realistic\"\nusb_latency_us = 500\n";
    for (int i = 0; i < kBoards; ++i) {
      toml += "\n[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";
      if (i == faulty) toml += "[probe.faults]\n" + faults + "\n";
    }
    QFile bench(Path("bench.toml"));
    ASSERT_TRUE(bench.open(QIODevice::WriteOnly));
    bench.write(toml);
    bench.close();
    ::setenv("VORLINK_BENCH", QFile::encodeName(bench.fileName()).constData(), 1);
    ::setenv("PROBESIM_STATE_DIR", QFile::encodeName(Path("state")).constData(), 1);
    ::unsetenv("PROBESIM_LOG");
    ::unsetenv("VORLINK_TRACE");
  }

  // KELDA, NOR, EN29LV040A, image #1 of `size` bytes at block 0, every probe.
  void SetUpRun(ProgrammerDialog& d, int size) {
    QFile file(Path("image.bin"));
    ASSERT_TRUE(file.open(QIODevice::WriteOnly));
    QByteArray bytes(size, '\0');
    for (int i = 0; i < size; ++i) bytes[i] = char((i * 13 + i / 509) & 0xFF);
    file.write(bytes);
    file.close();
    image = bytes;
    const QString path = file.fileName();
    d.ProductList()->setCurrentIndex(1);
    Q_EMIT d.ProductList()->activated(1);
    d.NorButton()->click();
    d.NorOptions()->NorTypeList()->setCurrentIndex(1);
    Q_EMIT d.NorOptions()->NorTypeList()->activated(1);
    d.FileSelection()->SetFileChooser([path] { return path; });
    d.FileSelection()->OnOpenImage(0);
    d.show();
  }

  // The path of `name` in the scratch folder, as Qt names files.
  QString Path(const std::string& name) const {
    return QFile::decodeName(QByteArray::fromStdString(dir / name));
  }

  zolt::testing::ScratchDir dir;
  QByteArray image;
};

TEST_F(DialogClosing, ClosingDuringASixteenProbeRunStopsEveryJobAndEnds) {
  SetUpBench();
  auto app = std::make_unique<DialogApplication>();
  ProgrammerDialog& d = app->Dialog();
  SetUpRun(d, 256 * 1024);
  int asked = 0;
  d.SetStopQuestion([&] {
    ++asked;
    return true;
  });

  d.RunButton()->click();
  ASSERT_TRUE(
      ServeUntil([&] { return d.MultiDevice()->TotalSentBytes() > uint64_t(kBoards) * 2048; }, kGuard));
  d.close();
  EXPECT_EQ(asked, 1);
  // Hang guard only: each probe ends its file at its next 2048-byte block.
  ASSERT_TRUE(ServeUntil([&] { return !d.isVisible(); }, kGuard)) << "the dialog did not close";
  EXPECT_FALSE(app->Driver()->IsRunning());
  EXPECT_LT(d.MultiDevice()->TotalSentBytes(), uint64_t(image.size()) * kBoards);
  EXPECT_TRUE(d.Log()->toPlainText().contains(QStringLiteral("  Download stop is OK.\n")));
  EXPECT_EQ(VisibleBox(), nullptr);
  app.reset();  // joins nothing that still runs
}

TEST_F(DialogClosing, ProbeUnpluggedWhileItsMessageBoxIsOpen) {
  // Board 5's bootloader read is its first transfer after the unplug: its job shows that read's box.
  SetUpBench(5, "unplug_after_transfers = 11");
  DialogApplication app;
  ProgrammerDialog& d = app.Dialog();
  SetUpRun(d, 64 * 1024);

  d.RunButton()->click();
  ASSERT_TRUE(ServeUntil([] { return VisibleBox() != nullptr; }, kGuard));
  QMessageBox* box = VisibleBox();
  EXPECT_TRUE(box->text().contains(QStringLiteral("Bootloader"))) << box->text().toStdString();
  // The box blocks only its own job: the others stream on while it is open.
  const uint64_t before = d.MultiDevice()->TotalSentBytes();
  ASSERT_TRUE(ServeUntil([&] { return d.MultiDevice()->TotalSentBytes() > before + 15 * 2048; }, kGuard));
  box->button(QMessageBox::Ok)->click();

  // The unplugged board fails its set-up; the end of the run shows no "Download Complete !".
  QStringList boxes;
  ASSERT_TRUE(ServeUntil(
      [&] {
        if (QMessageBox* b = VisibleBox()) {
          boxes << b->text();
          b->button(QMessageBox::Ok)->click();
        }
        return !app.Driver()->IsRunning() && d.RunButton()->text() == QStringLiteral("RUN") &&
               d.RunButton()->isEnabled();
      },
      kGuard));
  const QString log = d.Log()->toPlainText();
  EXPECT_TRUE(log.contains(QStringLiteral("DEVICE #5: Cannot SET EXTEST"))) << log.toStdString();
  EXPECT_FALSE(boxes.contains(QStringLiteral("Download Complete !")));
  for (int board = 0; board < kBoards; ++board) {
    if (board == 5) continue;
    QFile flash(Path("state/bench-" + std::to_string(board) + ".bin"));
    ASSERT_TRUE(flash.open(QIODevice::ReadOnly)) << board;
    EXPECT_EQ(flash.read(image.size()), image) << "board " << board;
  }
}

}  // namespace
}  // namespace zolt::ui
