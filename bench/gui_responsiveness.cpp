// SPDX-License-Identifier: MIT
// zolt-bench-gui: P3. The real dialog (zolt_ui, run control, libVorlink.so from beside this
// program) runs a download to 16 virtual KELDA NAND boards while a 10 ms timer on the GUI thread
// measures how late it fires and an event filter counts the device list's repaints. Run with
// QT_QPA_PLATFORM=offscreen (zolt-bench does).
//
//   zolt-bench-gui realistic   125 us per USB transfer, 1 MiB per board
//   zolt-bench-gui instant     no simulated latency, 32 MiB per board, three runs (the jobs run
//                              flat out)
//   zolt-bench-gui station     the station window with 16 fixtures programming (gui_station.cpp)
//
// The figures cover the download, from the moment the RUN press returns (run control identifies
// the probes on the GUI thread before it starts the jobs; run_press_ms says how long that took)
// to the "Download Complete !" box. Prints "name value" lines: latency_p50_ms, latency_p99_ms,
// latency_max_ms (how late the 10 ms timer fired), run_press_ms, gui_cpu_share (the GUI thread's
// CPU time over the download's wall time), ticks, repaints, seconds,
// repaints_per_s.
#include <QAbstractButton>
#include <QApplication>
#include <QComboBox>
#include <QEventLoop>
#include <QMessageBox>
#include <QPushButton>
#include <QTableWidget>
#include <QTimer>
#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "bench_support.h"
#include "gui_station.h"
#include "gui_support.h"
#include "ui/dialog_application.h"
#include "ui/pages/file_selection_page.h"
#include "ui/pages/multi_device_page.h"
#include "ui/tab_control.h"

namespace zolt::bench {
namespace {

constexpr int kBoards = 16;

class PaintCounter : public QObject {
 public:
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

QMessageBox* VisibleBox() {
  for (QWidget* w : QApplication::topLevelWidgets()) {
    if (auto* box = qobject_cast<QMessageBox*>(w); box && box->isVisible()) return box;
  }
  return nullptr;
}

// Presses RUN and serves the GUI until the "Download Complete !" box, closes it (from within the
// event loop, where the box's deferred deletion releases the monitor) and serves on until the run
// has ended. `afterPress` runs when the press has returned (run control identifies the probes on
// the GUI thread, by design, before it starts the jobs), `atBox` when the box appears. Returns the
// seconds from the end of the press to the box: the download.
template <class AfterPress, class AtBox>
double RunOnce(ui::DialogApplication& app, AfterPress afterPress, AtBox atBox) {
  ui::ProgrammerDialog& d = app.Dialog();
  double seconds = -1;
  d.RunButton()->click();  // identifies the probes and starts the jobs before it returns
  afterPress();
  const double start = NowSeconds();
  const bool ended = Serve(
      [&] {
        if (seconds < 0) {
          QMessageBox* box = VisibleBox();
          if (box == nullptr) return false;
          seconds = NowSeconds() - start;
          atBox();
          if (box->text() != QStringLiteral("Download Complete !")) {
            Die("the run ended with: " + box->text().toStdString());
          }
          box->button(QMessageBox::Ok)->click();
          return false;
        }
        return !app.Driver()->IsRunning() && d.RunButton()->isEnabled();
      },
      600);
  if (!ended) Die("the run did not end");
  return seconds;
}

int Main(int argc, char** argv) {
  if (argc >= 2 && std::strcmp(argv[1], "station") == 0) return StationMain(argc, argv);
  const bool realistic = argc >= 2 && std::strcmp(argv[1], "realistic") == 0;
  ScratchDir dir;
  WriteText(dir.File("bench.toml"), KeldaNandBench(kBoards, "K9F5608", realistic ? 125 : 0));
  ::setenv("VORLINK_BENCH", dir.File("bench.toml").c_str(), 1);
  ::setenv("PROBESIM_STATE_DIR", dir.path().c_str(), 1);
  WritePatternImage(dir.File("warmup.bin"), 64 * 1024);
  WritePatternImage(dir.File("image.bin"), (realistic ? 1 : 32) * 1024 * 1024);

  QApplication qapp(argc, argv);
  ui::DialogApplication app;
  if (app.Driver() == nullptr) Die("the dialog was built without the jobs");
  ui::ProgrammerDialog& d = app.Dialog();
  d.ProductList()->setCurrentIndex(1);  // KELDA; the dialog selects NAND for it
  Q_EMIT d.ProductList()->activated(1);
  QString image = QString::fromStdString(dir.File("warmup.bin"));
  d.FileSelection()->SetFileChooser([&image] { return image; });
  d.FileSelection()->OnOpenImage(0);
  for (int i = 0; i < ui::ProgrammerDialog::kPageCount; ++i) {
    if (d.PageOfTab(i) == d.MultiDevice()) d.PageTabs()->SetCurrentIndex(i), d.OnPageTabChanged(i);
  }
  d.show();

  // The warm-up run makes the 16 flash files, so that the measured run only streams.
  RunOnce(
      app, [] {}, [] {});
  image = QString::fromStdString(dir.File("image.bin"));
  d.FileSelection()->OnOpenImage(0);

  // Instant runs are short (well under a second): three of them give the percentiles enough ticks.
  const int rounds = realistic ? 1 : 3;
  PaintCounter counter;
  d.MultiDevice()->DeviceList()->viewport()->installEventFilter(&counter);
  std::vector<double> allLateness;
  LatenessTicker ticker;
  int paints = 0;
  double seconds = 0, pressMs = 0, guiCpu = 0;
  for (int round = 0; round < rounds; ++round) {
    double pressStart = 0, cpuStart = 0;
    ticker.Start();
    pressStart = NowSeconds();
    seconds += RunOnce(
        app,
        [&] {
          pressMs = std::max(pressMs, (NowSeconds() - pressStart) * 1e3);
          ticker.Restart();
          counter.paints = 0;
          cpuStart = ThreadCpuSeconds();
        },
        [&] {
          paints += counter.paints;
          allLateness.insert(allLateness.end(), ticker.lateness.begin(),
                             ticker.lateness.end());  // the download only
          guiCpu += ThreadCpuSeconds() - cpuStart;
        });
    ticker.Stop();
  }
  const std::vector<double>& lateness = allLateness;

  std::printf("latency_p50_ms %.3f\nlatency_p99_ms %.3f\nlatency_max_ms %.3f\n", Percentile(lateness, 0.50),
              Percentile(lateness, 0.99),
              lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end()));
  std::printf("run_press_ms %.3f\ngui_cpu_share %.4f\n", pressMs, guiCpu / seconds);
  std::printf("rounds %d\nticks %zu\nrepaints %d\nseconds %.3f\nrepaints_per_s %.2f\n", rounds,
              lateness.size(), paints, seconds, double(paints) / seconds);
  return 0;
}

}  // namespace
}  // namespace zolt::bench

int main(int argc, char** argv) {
  return zolt::bench::Main(argc, argv);
}
