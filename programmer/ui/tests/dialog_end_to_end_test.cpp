// SPDX-License-Identifier: MIT
// The dialog end to end: RUN on a virtual 4-probe bench through the real libVorlink.so beside the
// test, the jobs calling the dialog from their threads. Each test runs in its own process (the
// link library reads its bench once).
#include <gtest/gtest.h>

#include <QApplication>
#include <QComboBox>
#include <QDir>
#include <QFile>
#include <QLabel>
#include <QMessageBox>
#include <QPushButton>
#include <chrono>
#include <cstdlib>

#include "testing/qt_wait.h"
#include "testing/scratch_dir.h"
#include "ui/dialog_application.h"
#include "ui/log_view.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/firmware_version_page.h"
#include "ui/pages/multi_device_page.h"
#include "ui/pages/nor_options_page.h"
#include "ui/percent_progress_bar.h"

namespace zolt::ui {
namespace {

using zolt::testing::ServeUntil;
using zolt::testing::VisibleBox;

constexpr int kBoards = 4;

QByteArray Pattern(int size) {
  QByteArray bytes(size, '\0');
  for (int i = 0; i < size; ++i) bytes[i] = char((i * 7 + i / 251) & 0xFF);
  return bytes;
}

class DialogEndToEnd : public ::testing::Test {
 protected:
  // Four KELDA boards with an EN29LV040A each; `timing` "instant" or a realistic line set.
  void WriteBench(const std::string& benchTable) {
    ASSERT_TRUE(QDir(Path("")).exists());
    QDir().mkpath(Path("state"));
    QByteArray toml = QByteArray::fromStdString(benchTable);
    for (int i = 0; i < kBoards; ++i) {
      toml += "\n[[probe]]\nname = \"board-" + QByteArray::number(i) +
              "\"\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";
    }
    QFile bench(Path("bench.toml"));
    ASSERT_TRUE(bench.open(QIODevice::WriteOnly));
    bench.write(toml);
    bench.close();
    ::setenv("VORLINK_BENCH", QFile::encodeName(bench.fileName()).constData(), 1);
    ::setenv("PROBESIM_STATE_DIR", QFile::encodeName(Path("state")).constData(), 1);
  }

  QString WriteImage(int size) {
    QFile file(Path("image.bin"));
    EXPECT_TRUE(file.open(QIODevice::WriteOnly));
    file.write(Pattern(size));
    return file.fileName();
  }

  // KELDA, NOR, EN29LV040A (8 bits, interleave 1), image #1 at block 0, every probe.
  void SetUpRun(ProgrammerDialog& d, const QString& image) {
    d.ProductList()->setCurrentIndex(1);
    Q_EMIT d.ProductList()->activated(1);
    d.NorButton()->click();
    d.NorOptions()->NorTypeList()->setCurrentIndex(1);
    Q_EMIT d.NorOptions()->NorTypeList()->activated(1);
    d.FileSelection()->SetFileChooser([image] { return image; });
    d.FileSelection()->OnOpenImage(0);
    d.show();
  }

  bool RunIsOver(ProgrammerDialog& d, DialogApplication& app) {
    return !app.Driver()->IsRunning() && d.RunButton()->text() == QStringLiteral("RUN") &&
           d.RunButton()->isEnabled();
  }

  // The path of `name` in the scratch folder, as Qt names files.
  QString Path(const std::string& name) const {
    return QFile::decodeName(QByteArray::fromStdString(dir / name));
  }

  zolt::testing::ScratchDir dir;
};

TEST_F(DialogEndToEnd, RunProgramsEveryBoardAndReportsCompletion) {
  WriteBench("[bench]\ntiming = \"instant\"\n");
  const int size = 5000;
  const QString image = WriteImage(size);
  DialogApplication app;
  ASSERT_NE(app.Driver(), nullptr);
  ProgrammerDialog& d = app.Dialog();
  SetUpRun(d, image);

  d.RunButton()->click();
  ASSERT_TRUE(ServeUntil([] { return VisibleBox() != nullptr; }));
  QMessageBox* box = VisibleBox();
  EXPECT_EQ(box->text(), QStringLiteral("Download Complete !"));
  EXPECT_EQ(box->windowTitle(), QStringLiteral("ZOLT_USB_JTAG"));
  // While the box waits the run is still on: RUN is disabled, the settings locked.
  EXPECT_FALSE(d.RunButton()->isEnabled());
  EXPECT_FALSE(d.ProductList()->isEnabled());
  EXPECT_EQ(d.ProgressBar()->Pos(), 100);
  // The cells are redrawn by the next refresh of the device list.
  ASSERT_TRUE(ServeUntil([&] {
    for (int dev = 0; dev < kBoards; ++dev) {
      if (d.MultiDevice()->StateCell(dev) != QStringLiteral("100%")) return false;
    }
    return true;
  }));
  for (int dev = 0; dev < 16; ++dev) {
    EXPECT_EQ(d.MultiDevice()->StateCell(dev), dev < kBoards ? QStringLiteral("100%") : QStringLiteral("NO"))
        << dev;
  }
  EXPECT_EQ(d.MultiDevice()->TotalSentBytes(), uint64_t(size) * kBoards);
  box->button(QMessageBox::Ok)->click();
  ASSERT_TRUE(ServeUntil([&] { return RunIsOver(d, app); }));
  EXPECT_TRUE(d.ProductList()->isEnabled());

  const QString log = d.Log()->toPlainText();
  EXPECT_TRUE(log.startsWith(QStringLiteral("[Download to NOR FLASH]\n  **** NOR FLASH SETTING")));
  EXPECT_TRUE(log.contains(QStringLiteral("  NAME: EN29LV040A\n  WIDTH: 8\n  INTERLEAVE: 1\n")));
  EXPECT_TRUE(log.contains(QStringLiteral("  JTAG ID: 0x00AECADD\n")));
  EXPECT_FALSE(log.contains(QStringLiteral("stop")));
  EXPECT_NE(d.FirmwareVersion()->FirmwareVersion(), QStringLiteral("?"));

  for (int board = 0; board < kBoards; ++board) {
    QFile flash(Path("state/bench-" + std::to_string(board) + ".bin"));
    ASSERT_TRUE(flash.open(QIODevice::ReadOnly)) << board;
    EXPECT_EQ(flash.read(size), Pattern(size)) << "board " << board;
  }
}

TEST_F(DialogEndToEnd, StopEndsTheRunMidFile) {
  // Slow probes: every transfer costs a millisecond, so a 256 KiB image takes seconds.
  WriteBench("[bench]\ntiming = \"realistic\"\nusb_latency_us = 1000\n");
  const QString image = WriteImage(256 * 1024);
  DialogApplication app;
  ProgrammerDialog& d = app.Dialog();
  SetUpRun(d, image);

  d.RunButton()->click();
  ASSERT_TRUE(ServeUntil([&] {
    return d.RunButton()->text() == QStringLiteral("STOP") && d.RunButton()->isEnabled() &&
           d.MultiDevice()->TotalSentBytes() > 0;
  }));
  d.RunButton()->click();
  EXPECT_FALSE(d.RunButton()->isEnabled());  // Stopping
  ASSERT_TRUE(ServeUntil([&] { return RunIsOver(d, app); }));
  EXPECT_EQ(VisibleBox(), nullptr);  // no "Download Complete !"
  EXPECT_TRUE(d.Log()->toPlainText().contains(QStringLiteral("  Download stop is OK.\n")));
  EXPECT_LT(d.MultiDevice()->TotalSentBytes(), uint64_t(256 * 1024) * kBoards);
  EXPECT_LT(d.ProgressBar()->Pos(), 100);
}

TEST_F(DialogEndToEnd, ClosingDuringARunStopsItAndWaitsForTheJobs) {
  WriteBench("[bench]\ntiming = \"realistic\"\nusb_latency_us = 1000\n");
  const QString image = WriteImage(256 * 1024);
  auto app = std::make_unique<DialogApplication>();
  ProgrammerDialog& d = app->Dialog();
  SetUpRun(d, image);
  int asked = 0;
  d.SetStopQuestion([&] {
    ++asked;
    return true;
  });

  d.RunButton()->click();
  ASSERT_TRUE(ServeUntil([&] { return d.MultiDevice()->TotalSentBytes() > 0; }));
  d.close();
  EXPECT_EQ(asked, 1);
  EXPECT_TRUE(d.ClosePending());
  ASSERT_TRUE(ServeUntil([&] { return !d.isVisible(); }));
  EXPECT_FALSE(app->Driver()->IsRunning());
  // Every job has ended before the dialog went; tearing down joins nothing that still runs.
  app.reset();
}

#ifdef ZOLT_FOUR_EXPORTS_LINK
// ZOLT_TRANSFERS_IN_FLIGHT=1: the real library keeps each block's chunks in flight; a library with
// only the four exports of the contract cannot, and the dialog then streams as usual without a
// word. Both runs program every board and end with the one completion box.
TEST_F(DialogEndToEnd, TransfersInFlightFromTheEnvironmentAndALibraryWithoutTheExport) {
  ::setenv("ZOLT_TRANSFERS_IN_FLIGHT", "1", 1);
  const std::string trace = dir / "trace.log";
  ::setenv("VORLINK_TRACE", trace.c_str(), 1);
  WriteBench("[bench]\ntiming = \"instant\"\n");
  auto inFlightCalls = [&] {
    QFile file(QFile::decodeName(QByteArray::fromStdString(trace)));
    if (!file.open(QIODevice::ReadOnly)) return qsizetype(0);
    return file.readAll().count("fn=WriteChunks");
  };
  struct Case {
    const char* name;
    std::string library;
    int size;
    bool inFlight;
  };
  const Case cases[] = {{"libVorlink.so", "", 70001, true},
                        {"four exports", ZOLT_FOUR_EXPORTS_LINK, 9000, false}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const qsizetype callsBefore = inFlightCalls();
    const QString image = WriteImage(c.size);
    DialogApplication app(c.library);
    ASSERT_NE(app.Driver(), nullptr);
    ProgrammerDialog& d = app.Dialog();
    SetUpRun(d, image);
    d.RunButton()->click();
    ASSERT_TRUE(ServeUntil([] { return VisibleBox() != nullptr; }));
    EXPECT_EQ(VisibleBox()->text(), QStringLiteral("Download Complete !"));
    VisibleBox()->button(QMessageBox::Ok)->click();
    ASSERT_TRUE(ServeUntil([&] { return RunIsOver(d, app); }));
    EXPECT_EQ(VisibleBox(), nullptr);
    EXPECT_FALSE(d.Log()->toPlainText().contains(QStringLiteral("flight")));
    EXPECT_EQ(inFlightCalls() > callsBefore, c.inFlight);
    for (int board = 0; board < kBoards; ++board) {
      QFile flash(Path("state/bench-" + std::to_string(board) + ".bin"));
      ASSERT_TRUE(flash.open(QIODevice::ReadOnly)) << board;
      EXPECT_EQ(flash.read(c.size), Pattern(c.size)) << "board " << board;
    }
  }
  ::unsetenv("ZOLT_TRANSFERS_IN_FLIGHT");
  ::unsetenv("VORLINK_TRACE");
}
#endif

}  // namespace
}  // namespace zolt::ui
