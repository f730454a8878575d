// SPDX-License-Identifier: MIT
#include "cli/station_session.h"

#include <unistd.h>

#include <array>
#include <atomic>
#include <chrono>
#include <climits>
#include <cstdio>
#include <mutex>
#include <thread>

#include "cli/cli_operator.h"
#include "cli/console.h"
#include "cli/progress_line.h"
#include "cli/signal_watcher.h"
#include "jobs/station.h"
#include "probe/probe_link.h"

namespace zolt::cli {

std::string BoardEventLine(const BoardRecord& record, const char* event) {
  char head[96];
  std::snprintf(head, sizeof head, "DEVICE #%d ", record.device);
  std::string line = head + record.location + ": board " + std::to_string(record.sequence) + " " + event;
  if (record.result.empty() || std::string(event) == "removed") return line;
  char seconds[48];
  std::snprintf(seconds, sizeof seconds, " in %.1f s", record.seconds);
  line += seconds;
  if (record.result == "failed" && !record.failureTexts.empty()) line += ": " + record.failureTexts.front();
  return line;
}

namespace {

// Status line redraw period.
constexpr auto kTick = std::chrono::milliseconds(250);

class CliStationView final : public StationView {
 public:
  explicit CliStationView(Console& console) : console_(console) {}

  void ShowFixture(const FixtureStatus& status) override {
    BoardRecord last;
    bool removed = false;
    {
      std::lock_guard lock(mu_);
      Seen& seen = seen_[static_cast<size_t>(status.device)];
      removed = (seen.state == FixtureState::kOk || seen.state == FixtureState::kFailed) &&
                (status.state == FixtureState::kWaiting || status.state == FixtureState::kNoProbe);
      seen.state = status.state;
      last = seen.last;
    }
    if (removed) Line(BoardEventLine(last, "removed"));
  }
  void BoardStarted(const BoardRecord& record) override {
    Remember(record);
    Line(BoardEventLine(record, "found"));
  }
  void BoardEnded(const BoardRecord& record) override {
    Remember(record);
    Line(BoardEventLine(record, record.result.c_str()));
  }
  void ShowFixtureMessage(int device, std::string_view text) override {
    (void)device;
    console_.WriteMessage(text);
  }
  void StationNote(std::string_view text) override { Line(std::string(text)); }
  // The line a normal run writes in the same case, not a "station:" line.
  void TransfersInFlightUnavailable() override { console_.WriteErrorLine(kNoTransfersInFlightLine); }

 private:
  struct Seen {
    FixtureState state = FixtureState::kNoProbe;
    BoardRecord last;
  };
  void Remember(const BoardRecord& record) {
    if (record.device < 0 || record.device >= kMaxProbes) return;
    std::lock_guard lock(mu_);
    seen_[static_cast<size_t>(record.device)].last = record;
  }
  void Line(const std::string& text) { console_.WriteErrorLine("station: " + text); }

  Console& console_;
  std::mutex mu_;
  std::array<Seen, kMaxProbes> seen_{};
};

// "#0 45% #2 ok #5 FAIL #7 wait  ok 12 failed 1  118/h  03 : 12"
std::string StatusLine(const Station& station) {
  std::string line;
  for (int device = 0; device < kMaxProbes; ++device) {
    const FixtureStatus status = station.Fixture(device);
    std::string cell;
    switch (status.state) {
      case FixtureState::kNoProbe:
        continue;
      case FixtureState::kWaiting:
        cell = "wait";
        break;
      case FixtureState::kProgramming:
        cell = std::to_string(station.FixturePercent(device)) + "%";
        break;
      case FixtureState::kOk:
        cell = "ok";
        break;
      case FixtureState::kFailed:
        cell = "FAIL";
        break;
      case FixtureState::kStopping:
        cell = "stop";
        break;
    }
    line += "#" + std::to_string(device) + " " + cell + " ";
  }
  const StationCounts counts = station.Counts();
  char tail[128];
  std::snprintf(tail, sizeof tail, " ok %llu failed %llu  %.0f/h  ",
                static_cast<unsigned long long>(counts.ok), static_cast<unsigned long long>(counts.failed),
                counts.boardsPerHour);
  return line + tail + FormatMinutesSeconds(static_cast<uint64_t>(counts.elapsedSeconds));
}

std::string HostName() {
  char name[HOST_NAME_MAX + 1] = {};
  if (::gethostname(name, sizeof name - 1) != 0) return "";
  return name;
}

}  // namespace

int RunStation(const FlashOptions& options, BoardHistory* history) {
  Console console(STDOUT_FILENO, STDERR_FILENO, isatty(STDERR_FILENO) == 1);
  CliOperator op(options, console);
  CliStationView view(console);
  StationOptions stationOptions;
  stationOptions.pollMs = options.pollMs;
  stationOptions.boardLimit = options.boardLimit;
  stationOptions.history = history;
  stationOptions.version = ProgrammerVersion();
  stationOptions.host = HostName();
  stationOptions.transfersInFlight = options.transfersInFlight;

  // The watcher's calls into the station run under `runningMu`, and the station is taken away under
  // it too: a stop lets the station end at once, and it must not be destroyed while such a call is
  // still inside it (its wake-up, its fixtures' states).
  std::mutex runningMu;
  std::atomic<Station*> running{nullptr};
  std::atomic<int> signals{0};
  SignalWatcher watcher(
      [&] {
        signals.store(1);
        console.WriteErrorLine("station: stopping: no new boards; boards in progress finish");
        std::lock_guard lock(runningMu);
        if (Station* station = running.load()) station->StopAccepting();
      },
      [&] {
        if (signals.fetch_add(1) + 1 == 2) {
          console.WriteErrorLine("station: stopping the boards in progress");
          std::lock_guard lock(runningMu);
          if (Station* station = running.load()) station->StopBoards();
          return;
        }
        console.WriteLastErrorLineAndClose("station: interrupted");
        _exit(130);
      });
  if (const char* bench = std::getenv("VORLINK_BENCH"); bench != nullptr) {
    console.WriteErrorLine(std::string("zolt-flash: virtual bench ") + bench + ": no real probe is used");
  }

  Station station(op, view, stationOptions);
  station.SetVerify(options.verifyEnabled);
  if (!station.Start(BuildRunRequest(options))) return 1;
  running.store(&station);
  // Signals that came while Start bound the library and started the fixtures (the watcher had no
  // station to tell yet) take effect now, each at its level.
  const int pending = signals.load();
  if (pending >= 1) station.StopAccepting();
  if (pending >= 2) station.StopBoards();
  while (!station.Ended()) {
    if (console.progressEnabled()) console.DrawProgress(StatusLine(station));
    std::this_thread::sleep_for(kTick);
  }
  station.Wait();
  {
    std::lock_guard lock(runningMu);
    running.store(nullptr);
  }
  console.ClearProgress();
  const StationCounts counts = station.Counts();
  char summary[160];
  std::snprintf(summary, sizeof summary, "station: ended: %llu ok, %llu failed",
                static_cast<unsigned long long>(counts.ok), static_cast<unsigned long long>(counts.failed));
  console.WriteErrorLine(summary);
  return counts.failed == 0 && !station.HistoryFailed() ? 0 : 1;
}

}  // namespace zolt::cli
