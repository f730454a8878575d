// SPDX-License-Identifier: MIT
// zolt-bench-gui station: the dialog's station window (zolt_ui, the Station, libVorlink.so from
// beside this program) with 16 empty KELDA NAND fixtures at 125 us per USB transfer. Once Start
// has been pressed, a thread places a board on every fixture at once through PROBESIM_CONTROL
// (one command after the other, each answered once it has taken effect); each board receives a
// 2 MiB image, for several seconds of programming. From the first placing until every tile shows
// OK, a 10 ms timer on the GUI thread measures how late it fires, and an event filter counts the
// window's repaints: the update requests its top-level widget receives, one per repaint of
// whatever changed in it (tiles, counters, the recent boards), and the paint events of the 16
// tiles. Prints latency_p50_ms, latency_p99_ms, latency_max_ms, gui_cpu_share, ticks, repaints,
// tile_paints, seconds, repaints_per_s, boards.
#include "gui_station.h"

#include <QApplication>
#include <QComboBox>
#include <QPushButton>
#include <cstdio>
#include <cstdlib>
#include <string>
#include <thread>

#include "bench_support.h"
#include "gui_support.h"
#include "testing/bench_control.h"
#include "ui/dialog_application.h"
#include "ui/pages/file_selection_page.h"
#include "ui/station_tile.h"
#include "ui/station_window.h"

namespace zolt::bench {
namespace {

constexpr int kFixtures = 16;
constexpr uint64_t kImageBytes = 2 * 1024 * 1024;

std::string EmptyNandFixtures() {
  std::string toml = "[bench]\ntiming = \"realistic\"\nusb_latency_us = 125\n";
  for (int i = 0; i < kFixtures; ++i)
    toml += "\n[[probe]]\nname = \"f" + std::to_string(i) +
            "\"\ntarget = \"KELDA\"\nflash = \"K9F5608\"\nboard = false\n";
  return toml;
}

// Counts the window's update requests (one per repaint) and the paint events of the widgets it
// is installed on.
class RepaintCounter : public QObject {
 public:
  int updateRequests = 0;
  int paints = 0;

 protected:
  bool eventFilter(QObject* watched, QEvent* event) override {
    if (event->type() == QEvent::UpdateRequest) ++updateRequests;
    if (event->type() == QEvent::Paint) ++paints;
    return QObject::eventFilter(watched, event);
  }
};

}  // namespace

int StationMain(int argc, char** argv) {
  ScratchDir dir;
  WriteText(dir.File("bench.toml"), EmptyNandFixtures());
  const std::string control = dir.File("control");
  ::setenv("VORLINK_BENCH", dir.File("bench.toml").c_str(), 1);
  ::setenv("PROBESIM_STATE_DIR", dir.path().c_str(), 1);
  ::setenv("PROBESIM_CONTROL", control.c_str(), 1);
  WritePatternImage(dir.File("image.bin"), kImageBytes);

  QApplication qapp(argc, argv);
  ui::DialogApplication app;
  if (app.Driver() == nullptr) Die("the dialog was built without the jobs");
  ui::ProgrammerDialog& d = app.Dialog();
  const int kelda = d.ProductList()->findText(QStringLiteral("KELDA"));  // the dialog selects NAND
  d.ProductList()->setCurrentIndex(kelda);
  Q_EMIT d.ProductList()->activated(kelda);
  const QString image = QString::fromStdString(dir.File("image.bin"));
  d.FileSelection()->SetFileChooser([image] { return image; });
  d.FileSelection()->OnOpenImage(0);
  d.show();
  ui::StationWindow& w = app.OpenStation();

  w.StartButton()->click();
  if (!w.Running()) Die("the station did not start");
  // The poll thread has seen the 16 empty fixtures: the placings are what it finds next.
  if (!Serve(
          [&] {
            for (int i = 0; i < kFixtures; ++i)
              if (w.Tile(i)->Status().state != FixtureState::kWaiting) return false;
            return true;
          },
          30))
    Die("the station did not find its 16 fixtures");

  RepaintCounter counter;
  w.installEventFilter(&counter);
  for (int i = 0; i < kFixtures; ++i) w.Tile(i)->installEventFilter(&counter);
  const int tilesBefore = counter.paints;
  LatenessTicker ticker;
  ticker.Start();
  ticker.Restart();
  const double start = NowSeconds();
  const double cpuStart = ThreadCpuSeconds();
  std::string placeError;
  std::thread place([&] {
    testing::BenchControl bench(control);
    for (int i = 0; i < kFixtures; ++i) {
      const std::string reply = bench.Send("attach f" + std::to_string(i));
      if (reply != "ok" && placeError.empty()) placeError = "attach f" + std::to_string(i) + ": " + reply;
    }
  });
  const bool allOk = Serve(
      [&] {
        for (int i = 0; i < kFixtures; ++i) {
          const FixtureStatus& s = w.Tile(i)->Status();
          if (s.state == FixtureState::kFailed) return true;  // reported below
          if (s.state != FixtureState::kOk || s.boards != 1) return false;
        }
        return true;
      },
      600);
  const double seconds = NowSeconds() - start;
  const double guiCpu = ThreadCpuSeconds() - cpuStart;
  ticker.Stop();
  place.join();
  const int repaints = counter.updateRequests;
  const int tilePaints = counter.paints - tilesBefore;
  w.removeEventFilter(&counter);
  for (int i = 0; i < kFixtures; ++i) w.Tile(i)->removeEventFilter(&counter);
  if (!placeError.empty()) Die(placeError);
  if (!allOk) Die("the 16 boards did not end");
  for (int i = 0; i < kFixtures; ++i) {
    if (w.Tile(i)->Status().state != FixtureState::kOk)
      Die("fixture " + std::to_string(i) + " failed: " + w.Tile(i)->Status().failureText);
  }
  w.StopButton()->click();
  if (!Serve([&] { return !w.Running(); }, 60)) Die("the station did not end");

  const std::vector<double>& lateness = ticker.lateness;
  std::printf("latency_p50_ms %.3f\nlatency_p99_ms %.3f\nlatency_max_ms %.3f\n", Percentile(lateness, 0.50),
              Percentile(lateness, 0.99),
              lateness.empty() ? 0.0 : *std::max_element(lateness.begin(), lateness.end()));
  std::printf(
      "gui_cpu_share %.4f\nticks %zu\nrepaints %d\ntile_paints %d\nseconds %.3f\nrepaints_per_s %.2f\n",
      guiCpu / seconds, lateness.size(), repaints, tilePaints, seconds, double(repaints) / seconds);
  std::printf("boards %d\n", kFixtures);
  return 0;
}

}  // namespace zolt::bench
