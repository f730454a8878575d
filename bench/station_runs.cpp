// SPDX-License-Identifier: MIT
#include "station_runs.h"

#include <sys/prctl.h>

#include <algorithm>
#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <deque>
#include <map>
#include <mutex>
#include <sstream>
#include <thread>

#include "bench_support.h"
#include "jobs/station.h"
#include "probe/identify.h"
#include "testing/bench_control.h"
#include "testing/bench_events.h"
#include "testing/bench_files.h"

namespace zolt::bench {
namespace {

constexpr int kPollMs = 250;
constexpr uint64_t kMiB = 1024 * 1024;

// `probes` KELDA fixtures named f0, f1, ... with NAND K9F5608 and no board until one is placed.
std::string EmptyFixtures(int probes, double usbLatencyUs) {
  return zolt::testing::BenchToml(zolt::testing::EmptyFixtures(probes, "K9F5608"),
                                  zolt::testing::RealisticTiming(usbLatencyUs));
}

// What the child's station shows: counted, and handed to whoever waits for it.
class CountingView final : public StationView {
 public:
  void ShowFixture(const FixtureStatus& status) override {
    std::lock_guard lock(mu);
    states[status.device] = status.state;
    changed.notify_all();
  }
  void BoardStarted(const BoardRecord&) override {}
  void BoardEnded(const BoardRecord& record) override {
    std::lock_guard lock(mu);
    ended.push_back(record);
    changed.notify_all();
  }
  void ShowFixtureMessage(int device, std::string_view text) override {
    std::fprintf(stderr, "fixture %d: %.*s\n", device, int(text.size()), text.data());
  }
  void StationNote(std::string_view text) override {
    std::fprintf(stderr, "station: %.*s\n", int(text.size()), text.data());
  }
  // Waits until `done` holds (under the lock); a hang guard of 10 minutes ends the program.
  template <typename Done>
  void WaitFor(Done done) {
    std::unique_lock lock(mu);
    if (!changed.wait_for(lock, std::chrono::minutes(10), done)) Die("station: the awaited state never came");
  }
  // Waits until `count` fixtures show WAITING.
  void WaitForWaiting(int count) {
    WaitFor([&] {
      int waiting = 0;
      for (const auto& [device, state] : states) waiting += state == FixtureState::kWaiting ? 1 : 0;
      return waiting == count;
    });
  }
  std::mutex mu;
  std::condition_variable changed;
  std::map<int, FixtureState> states;
  std::vector<BoardRecord> ended;
};

struct Setup {
  ScratchDir dir;
  zolt::testing::BenchFiles files{dir};
  std::string control;
  void Use(const std::string& toml, bool eventLog) {
    try {
      files.Use(toml, zolt::testing::kWithControl | (eventLog ? zolt::testing::kWithEventLog : 0u));
    } catch (const std::exception& e) {
      Die(e.what());
    }
    control = files.ControlPath();
    ::prctl(PR_SET_TIMERSLACK, 1UL, 0UL, 0UL, 0UL);
  }
  StationOptions Options() const {
    StationOptions options;
    options.libraryName = ExecutableDir() + "/libVorlink.so";
    options.pollMs = kPollMs;
    return options;
  }
  std::string Image() const { return dir.File("image.bin"); }
};

// A station on the set-up's bench with its image, started.
struct StartedStation {
  StartedStation(const Setup& setup, const StationOptions& options) : station(log, view, options) {
    log.imagePath[0] = setup.Image();
    if (!station.Start(log.Request())) Die("the station did not start");
  }
  BenchOperator log;
  CountingView view;
  Station station;
};

void Send(zolt::testing::BenchControl& bench, const std::string& command) {
  const std::string reply = bench.Send(command);
  if (reply != "ok") Die("bench control '" + command + "': " + reply);
}

using zolt::testing::BenchEvent;
using zolt::testing::ReadBenchEvents;

// S1: one fixture; a board placed ten times at different phases of the poll cycle.
int ChildS1() {
  Setup setup;
  setup.Use(EmptyFixtures(1, 1000), true);
  WritePatternImage(setup.Image(), 4096);
  StartedStation started(setup, setup.Options());
  CountingView& view = started.view;
  Station& station = started.station;
  zolt::testing::BenchControl bench(setup.control);
  constexpr int kBoards = 10;
  view.WaitFor([&] { return view.states[0] == FixtureState::kWaiting; });
  for (int board = 0; board < kBoards; ++board) {
    // Phases spread over a period (the fixture's poll clock runs on its own).
    std::this_thread::sleep_for(std::chrono::milliseconds(board * kPollMs / kBoards + 37));
    Send(bench, "attach f0");
    view.WaitFor([&] { return view.ended.size() == size_t(board + 1); });
    Send(bench, "detach f0");
    view.WaitFor([&] { return view.states[0] == FixtureState::kWaiting; });
  }
  station.StopAccepting();
  station.Wait();
  std::vector<double> delays;
  double attachedAt = -1;
  for (const BenchEvent& e : ReadBenchEvents(setup.files.EventLogPath())) {
    if (e.what.rfind("attach", 0) == 0) attachedAt = static_cast<double>(e.us);
    if (e.what.rfind("cmd=0x04", 0) == 0 && attachedAt >= 0) {
      delays.push_back((static_cast<double>(e.us) - attachedAt) / 1000.0);
      attachedAt = -1;
    }
  }
  if (delays.size() != kBoards)
    Die("S1: " + std::to_string(delays.size()) + " boards set up of " + std::to_string(kBoards));
  std::sort(delays.begin(), delays.end());
  std::printf("s1.max_ms %.3f\ns1.median_ms %.3f\ns1.min_ms %.3f\ns1.max_periods %.4f\ns1.poll_ms %d\n",
              delays.back(), delays[delays.size() / 2], delays.front(), delays.back() / kPollMs, kPollMs);
  return 0;
}

// S2: sixteen fixtures; every board is taken off as soon as it is done and the next is placed as
// soon as the fixture is free, against back-to-back 16-board batches of the same boards with RUN.
int ChildS2() {
  constexpr int kFixtures = 16;
  constexpr int kRounds = 2;
  constexpr uint64_t kImage = 8 * kMiB;
  Setup setup;
  setup.Use(EmptyFixtures(kFixtures, 125), false);
  WritePatternImage(setup.Image(), kImage);
  zolt::testing::BenchControl bench(setup.control);

  // The batch: all sixteen boards on, one RUN.
  BenchOperator batchLog;
  batchLog.imagePath[0] = setup.Image();
  double batchSeconds = 0;
  {
    // The bench (and its control socket) starts when the library is loaded.
    ProbeLink link;
    if (BindProbeLink(link, batchLog, ExecutableDir() + "/libVorlink.so") == 0)
      Die("the link library did not load");
  }
  for (int f = 0; f < kFixtures; ++f) Send(bench, "attach f" + std::to_string(f));
  {
    const double t0 = NowSeconds();
    if (RunDownload(batchLog) != 2) Die("the batch did not complete");
    batchSeconds = NowSeconds() - t0;
  }
  for (int f = 0; f < kFixtures; ++f) Send(bench, "detach f" + std::to_string(f));

  // The station.
  StationOptions options = setup.Options();
  options.boardLimit = kFixtures * kRounds;
  StartedStation started(setup, options);
  CountingView& view = started.view;
  Station& station = started.station;
  view.WaitForWaiting(kFixtures);
  const double t0 = NowSeconds();
  for (int f = 0; f < kFixtures; ++f) Send(bench, "attach f" + std::to_string(f));
  std::array<int, kFixtures> placed{};
  placed.fill(1);
  std::array<bool, kFixtures> onFixture{};
  onFixture.fill(true);
  // The operator: takes a finished board off, puts the next on when the fixture shows it free.
  size_t seenEnded = 0;
  while (true) {
    std::vector<std::string> commands;
    bool allDone = false;
    {
      std::unique_lock lock(view.mu);
      view.changed.wait_for(lock, std::chrono::milliseconds(20));
      for (; seenEnded < view.ended.size(); ++seenEnded) {
        const int f = view.ended[seenEnded].device;
        commands.push_back("detach f" + std::to_string(f));
        onFixture[size_t(f)] = false;
      }
      for (int f = 0; f < kFixtures; ++f) {
        if (!onFixture[size_t(f)] && placed[size_t(f)] < kRounds &&
            view.states[f] == FixtureState::kWaiting) {
          commands.push_back("attach f" + std::to_string(f));
          onFixture[size_t(f)] = true;
          ++placed[size_t(f)];
        }
      }
      allDone = view.ended.size() == size_t(kFixtures * kRounds);
    }
    for (const std::string& command : commands) Send(bench, command);
    if (allDone) break;
  }
  const double stationSeconds = NowSeconds() - t0;
  station.Wait();
  uint64_t failed = 0;
  for (const BoardRecord& record : view.ended) failed += record.result == "ok" ? 0 : 1;
  if (failed != 0) Die("S2: " + std::to_string(failed) + " boards failed");
  const double batchPerHour = kFixtures * 3600.0 / batchSeconds;
  const double stationPerHour = kFixtures * kRounds * 3600.0 / stationSeconds;
  std::printf("s2.batch_seconds %.3f\ns2.batch_boards_per_hour %.1f\ns2.station_seconds %.3f\n", batchSeconds,
              batchPerHour, stationSeconds);
  std::printf("s2.station_boards_per_hour %.1f\ns2.ratio %.4f\ns2.image_mib %.0f\n", stationPerHour,
              stationPerHour / batchPerHour, double(kImage) / kMiB);
  return 0;
}

// S3: sixteen probes, no board, ten seconds.
int ChildS3() {
  constexpr int kProbes = 16;
  Setup setup;
  setup.Use(EmptyFixtures(kProbes, 1000), true);
  WritePatternImage(setup.Image(), 4096);
  StartedStation started(setup, setup.Options());
  CountingView& view = started.view;
  Station& station = started.station;
  view.WaitForWaiting(kProbes);
  std::this_thread::sleep_for(std::chrono::seconds(1));
  const size_t before = ReadBenchEvents(setup.files.EventLogPath()).size();
  const double cpu0 = ProcessCpuSeconds(), t0 = NowSeconds();
  std::this_thread::sleep_for(std::chrono::seconds(10));
  const double cpu = ProcessCpuSeconds() - cpu0, wall = NowSeconds() - t0;
  const std::vector<BenchEvent> events = ReadBenchEvents(setup.files.EventLogPath());
  station.StopAccepting();
  station.Wait();
  std::array<int, kProbes> commands{};
  for (size_t i = before; i < events.size(); ++i) {
    if (events[i].probe >= 0 && events[i].probe < kProbes && events[i].what.rfind("cmd=", 0) == 0)
      ++commands[size_t(events[i].probe)];
  }
  // Every command is one transfer out and one in.
  const int most = *std::max_element(commands.begin(), commands.end());
  std::printf("s3.cpu_share %.6f\ns3.transfers_per_s_per_probe %.3f\ns3.seconds %.3f\n", cpu / wall,
              2.0 * most / wall, wall);
  return 0;
}

Figures RunStationChild(const std::string& which) {
  ChildOptions options;
  options.argv = {ExecutableDir() + "/zolt-bench", "child-station", which};
  options.captureStdout = true;
  const ChildResult result = RunChild(options);
  if (result.exitStatus != 0)
    Die("child-station " + which + " ended with status " + std::to_string(result.exitStatus));
  Figures figures;
  std::istringstream lines(result.out);
  std::string key;
  double value = 0;
  while (lines >> key >> value) figures[key] = value;
  return figures;
}

}  // namespace

int ChildStation(const std::string& which) {
  if (which == "s1") return ChildS1();
  if (which == "s2") return ChildS2();
  if (which == "s3") return ChildS3();
  Die("child-station s1|s2|s3");
}

Figures MeasureS1() {
  return RunStationChild("s1");
}
Figures MeasureS2() {
  return RunStationChild("s2");
}
Figures MeasureS3() {
  return RunStationChild("s3");
}

}  // namespace zolt::bench
