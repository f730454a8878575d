// SPDX-License-Identifier: MIT
#include "jobs/station.h"

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <ctime>
#include <mutex>
#include <thread>
#include <utility>
#include <vector>

#include "core/image_size.h"
#include "core/silent_run_view.h"
#include "jobs/board_record_json.h"
#include "jobs/board_recorder.h"
#include "jobs/download_job.h"
#include "jobs/job_context.h"
#include "jobs/job_steps.h"
#include "jobs/run_settings.h"
#include "jobs/text_format.h"
#include "probe/identify.h"
#include "probe/probe_commands.h"
#include "probe/products.h"

namespace zolt {

const char* NameOf(FixtureState state) {
  switch (state) {
    case FixtureState::kNoProbe:
      return "no probe";
    case FixtureState::kWaiting:
      return "waiting";
    case FixtureState::kProgramming:
      return "programming";
    case FixtureState::kOk:
      return "ok";
    case FixtureState::kFailed:
      return "failed";
    case FixtureState::kStopping:
      return "stopping";
  }
  return "?";
}

namespace {

// Polls in a row that must agree before a board counts as placed or removed.
constexpr int kPollsToAgree = 2;
// Failed polls of a probe that answers as ours before the station says so (once).
constexpr int kPollFailuresToNote = 8;

// The fixture whose thread is running: the jobs' boxes carry no device index, but each board's
// job runs on its fixture's own thread.
thread_local int tFixture = -1;

// What polling shows: nothing. A failed exchange would show a box; here it only counts.
class QuietView final : public SilentRunView {
 public:
  void ShowMessage(std::string_view) override { ++failures; }
  void ShowErrorMessage(std::string_view) override { ++failures; }
  int failures = 0;
};

}  // namespace

struct Station::State final : SilentRunView, RunObserver {
  State(RunView& log, StationView& view, StationOptions opts)
      : log(log),
        view(view),
        options(std::move(opts)),
        clock(options.clock != nullptr ? *options.clock : SystemTickClock()),
        ctx(*this, clock) {
    ctx.observer = this;
  }

  struct Fixture {
    // The fixture thread's own.
    bool open = false;
    bool reset = false;
    int seen = 0;    // polls in a row that read the expected ID
    int missed = 0;  // polls in a row that did not
    int pollFailures = 0;
    bool failureNoted = false;
    std::thread thread;
    // Guarded by `mu`: the location of the probe this fixture holds open ("" when closed).
    std::string openLocation;
    // Guarded by `mu`.
    FixtureStatus status;
    BoardRecord record;
    // Read by FixturePercent on any thread.
    std::array<std::atomic<uint32_t>, 3> sent{};
    std::atomic<uint64_t> boardBytes{0};
  };

  RunView& log;
  StationView& view;
  StationOptions options;
  const TickClock& clock;
  JobContext ctx;
  std::array<Fixture, kMaxProbes> fixtures;
  uint32_t startMs = 0;

  mutable std::mutex mu;  // fixture statuses and records, counts
  std::condition_variable wake;
  std::atomic<bool> accepting{false};
  std::atomic<bool> historyFailed{false};
  std::atomic<int> liveFixtures{0};
  std::atomic<int> inProgress{0};
  // The first round of polls: how many fixtures have polled once, and whether any probe opened.
  std::atomic<int> firstPolls{0};
  std::atomic<bool> anyProbeOpened{false};
  uint64_t boardsStarted = 0;   // under mu
  uint64_t ok = 0, failed = 0;  // under mu

  // ---- RunView for the jobs: the log passes, boxes become the fixture's text, the sent bytes
  // the fixture's percentage; the dialog's controls have nothing to show ----------------------
  void Append(std::string_view text) override { log.Append(text); }
  void ShowMessage(std::string_view text) override { FixtureMessage(text); }
  void ShowErrorMessage(std::string_view text) override { FixtureMessage(text); }
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t) override {
    if (device >= 0 && device < kMaxProbes && file >= 0 && file < 3)
      fixtures[static_cast<size_t>(device)].sent[static_cast<size_t>(file)].store(sentBytes);
  }

  void FixtureMessage(std::string_view text) {
    const int device = tFixture;
    if (device < 0) return;
    {
      std::lock_guard lock(mu);
      AddFailureText(fixtures[static_cast<size_t>(device)].record, std::string(text));
    }
    view.ShowFixtureMessage(device, text);
  }
  static void AddFailureText(BoardRecord& record, const std::string& text) {
    if (text.empty()) return;
    for (const std::string& known : record.failureTexts) {
      if (known == text) return;
    }
    record.failureTexts.push_back(text);
  }

  // ---- RunObserver: the board's record ------------------------------------------------------
  BoardRecord* RecordOf(int device) {
    return device >= 0 && device < kMaxProbes ? &fixtures[static_cast<size_t>(device)].record : nullptr;
  }
  void OnProbeOpened(int device, const std::string& location) override {
    std::lock_guard lock(mu);
    if (BoardRecord* record = RecordOf(device)) record->location = location;
  }
  void OnFlashIdentified(int device, uint16_t makerId, uint16_t deviceId, const std::string& part) override {
    std::lock_guard lock(mu);
    if (BoardRecord* record = RecordOf(device)) {
      record->makerId = makerId;
      record->deviceId = deviceId;
      record->flashPart = part;
    }
  }
  void OnFileEnded(int device, int file, const std::string&, uint64_t fileSize, uint64_t sentBytes, double,
                   uint32_t crc32, bool fileOk) override {
    std::lock_guard lock(mu);
    BoardRecord* record = RecordOf(device);
    if (record == nullptr) return;
    for (BoardImage& image : record->images) {
      if (image.slot != file) continue;
      image.size = fileSize;
      image.sentBytes = sentBytes;
      image.crc32 = crc32;
      image.ok = fileOk;
    }
    record->bytesSent += sentBytes;
  }
  void OnJobEnded(int device, bool jobFailed, const std::string& failureText) override {
    std::lock_guard lock(mu);
    BoardRecord* record = RecordOf(device);
    if (record == nullptr) return;
    if (jobFailed) AddFailureText(*record, failureText);
    bool stopped = false;
    for (const BoardImage& image : record->images) stopped = stopped || !image.ok;
    record->result = jobFailed ? "failed" : stopped ? "stopped" : "ok";
  }

  // ---- Fixture cycle ------------------------------------------------------------------------
  void Show(int device) {
    FixtureStatus status;
    {
      std::lock_guard lock(mu);
      status = fixtures[static_cast<size_t>(device)].status;
    }
    view.ShowFixture(status);
  }
  void SetState(int device, FixtureState state) {
    {
      std::lock_guard lock(mu);
      FixtureStatus& status = fixtures[static_cast<size_t>(device)].status;
      if (status.state == state) return;
      status.state = state;
    }
    Show(device);
  }

  void CloseProbe(int device) {
    Fixture& fx = fixtures[static_cast<size_t>(device)];
    if (fx.open) ctx.link.Close(device);
    fx.open = false;
    fx.reset = false;
    std::lock_guard lock(mu);
    fx.openLocation.clear();
  }

  // A device index names the n-th probe on the bus when it is opened: when a probe before it is
  // unplugged, the probes after it move down an index, and a handle opened earlier then holds a
  // probe that another fixture's index names now. Such a fixture must not take that probe's board.
  // True when another fixture holds the probe at `location` open too.
  bool HeldElsewhere(int device, const std::string& location) {
    if (location == "unknown") return false;
    std::lock_guard lock(mu);
    for (int other = 0; other < kMaxProbes; ++other) {
      if (other != device && fixtures[static_cast<size_t>(other)].openLocation == location) return true;
    }
    return false;
  }

  // Before a board starts: the index still names the probe this fixture polled (the job opens the
  // index afresh). Leaves the probe closed.
  bool IndexStillNamesTheProbe(int device) {
    std::string polled;
    {
      std::lock_guard lock(mu);
      polled = fixtures[static_cast<size_t>(device)].status.location;
    }
    CloseProbe(device);
    if (ctx.link.OpenDevice(kProbeProductId, device) == 0) return false;
    const std::string now = ProbeLocation(ctx.link, device);
    ctx.link.Close(device);
    return now == polled;
  }

  // One poll of a fixture that is not programming: true when the board is there (the expected
  // JTAG ID read), false when not (no probe, no board, or a failed exchange; the probe is then
  // closed). The caller moves the state: a board to be taken off stays shown until two polls agree.
  bool Poll(int device) {
    Fixture& fx = fixtures[static_cast<size_t>(device)];
    if (!fx.open) {
      if (ctx.link.OpenDevice(kProbeProductId, device) == 0) {
        return false;
      }
      anyProbeOpened.store(true);
      fx.open = true;
      const std::string location = ProbeLocation(ctx.link, device);
      bool changed = false;
      {
        std::lock_guard lock(mu);
        changed = fx.status.location != location;
        fx.status.location = location;
        fx.openLocation = location;
      }
      if (changed) Show(device);
      char version[8];
      if (CheckProbeFirmware(ctx.link, device, version) != 0) {
        // Not a probe of this system, or it does not answer: look again at the next poll.
        CloseProbe(device);
        NotePollFailure(device);
        return false;
      }
    }
    std::string location;
    {
      std::lock_guard lock(mu);
      location = fx.openLocation;
    }
    if (HeldElsewhere(device, location)) {
      // Both holders let go; at their next open each index names its probe afresh.
      CloseProbe(device);
      return false;
    }
    QuietView quiet;
    const ProbeCommands probe(ctx.link, quiet);
    // After each open the TAP is brought to a known state once; later polls only read the ID, so
    // an idle probe sees two transfers a poll.
    if (!fx.reset) fx.reset = probe.JtagReset(device).ok() && probe.JtagTestLogicReset(device).ok();
    const uint32_t id = fx.reset ? probe.ReadJtagId(device, ctx.settings.jtagIdParam.data()) : 0;
    if (!fx.reset || quiet.failures != 0) {
      // The probe stopped answering (unplugged, or in trouble): open it afresh next time.
      CloseProbe(device);
      NotePollFailure(device);
      return false;
    }
    fx.pollFailures = 0;
    fx.failureNoted = false;
    return id != 0 && id == ctx.settings.expectedJtagId;
  }

  // A probe that another program holds (a second station, a run of zolt-flash or the dialog on
  // the same probes) does not open, as one that is not plugged in: the link library cannot tell
  // them apart. When no index opened at the first round, the station says so once rather than
  // showing a quiet row of empty fixtures; it goes on polling and takes each probe once it opens.
  void NoteWhenNoProbeOpened() {
    if (firstPolls.fetch_add(1) + 1 == kMaxProbes && !anyProbeOpened.load())
      view.StationNote(
          "no probe opens at any device index: none is plugged in, or another program holds them");
  }

  void NotePollFailure(int device) {
    Fixture& fx = fixtures[static_cast<size_t>(device)];
    if (++fx.pollFailures < kPollFailuresToNote || fx.failureNoted) return;
    fx.failureNoted = true;
    std::string location;
    {
      std::lock_guard lock(mu);
      location = fx.status.location;
    }
    view.StationNote(Format("DEVICE #%d %s: probe fails every poll", device, location.c_str()));
  }

  // Takes the next board number, unless the station no longer accepts boards.
  uint64_t TakeBoard() {
    std::lock_guard lock(mu);
    if (!accepting.load()) return 0;
    if (options.boardLimit != 0 && boardsStarted >= options.boardLimit) return 0;
    const uint64_t sequence = ++boardsStarted;
    if (options.boardLimit != 0 && boardsStarted >= options.boardLimit) accepting.store(false);
    inProgress.fetch_add(1);
    return sequence;
  }

  void HistoryFailure(const std::string& error) {
    if (!historyFailed.exchange(true)) view.StationNote("history: " + error);
    StopAccepting();
  }

  void StopAccepting() {
    accepting.store(false);
    { std::lock_guard lock(mu); }
    wake.notify_all();
  }

  BoardRecord NewRecord(int device, uint64_t sequence) {
    BoardRecord record;
    record.sequence = sequence;
    record.startedUtc = UtcTimestamp(std::chrono::system_clock::now());
    record.device = device;
    const ProductSettings* product = FindProduct(ctx.request.productIndex);
    record.product = product != nullptr ? product->name : "";
    record.jtagId = ctx.settings.expectedJtagId;
    record.version = options.version;
    record.host = options.host;
    for (int f = 0; f < 3; ++f) {
      const ImageSlot& slot = ctx.request.images[static_cast<size_t>(f)];
      if (!slot.enabled || slot.path.empty()) continue;
      BoardImage image;
      image.slot = f;
      image.path = slot.path;
      image.size = CountedImageBytes(slot.path);
      image.place = ImagePlace(ctx.request, f);
      record.images.push_back(image);
    }
    return record;
  }

  // Programs the board on `device`, on this fixture's thread.
  void Program(int device, uint64_t sequence) {
    Fixture& fx = fixtures[static_cast<size_t>(device)];
    CloseProbe(device);  // the job opens the probe itself
    BoardRecord started = NewRecord(device, sequence);
    {
      std::lock_guard lock(mu);
      started.location = fx.status.location;
      fx.record = started;
      fx.status.sequence = sequence;
      fx.status.failureText.clear();
      fx.status.state = FixtureState::kProgramming;
      uint64_t bytes = 0;
      for (const BoardImage& image : started.images) bytes += image.size;
      fx.boardBytes.store(bytes);
      for (auto& sent : fx.sent) sent.store(0);
    }
    std::string error;
    if (options.history != nullptr && !options.history->Append(started, false, &error)) {
      // A board the line cannot trace is not programmed.
      HistoryFailure(error);
      {
        std::lock_guard lock(mu);
        fx.status.state = FixtureState::kWaiting;
        inProgress.fetch_sub(1);
      }
      Show(device);
      return;
    }
    Show(device);
    view.BoardStarted(started);

    const uint32_t boardStartMs = clock.NowMs();
    ctx.settings.deviceSlots[static_cast<size_t>(device)].store(1);
    ctx.settings.runningJobCount.fetch_add(1);
    tFixture = device;
    DownloadJobOn(ctx, device);
    tFixture = -1;

    BoardRecord ended;
    {
      std::lock_guard lock(mu);
      fx.record.endedUtc = UtcTimestamp(std::chrono::system_clock::now());
      fx.record.seconds = static_cast<uint32_t>(clock.NowMs() - boardStartMs) / 1000.0;
      if (fx.record.result.empty()) fx.record.result = "failed";
      ended = fx.record;
    }
    if (options.history != nullptr && !options.history->Append(ended, true, &error)) HistoryFailure(error);
    {
      std::lock_guard lock(mu);
      const bool boardOk = ended.result == "ok";
      (boardOk ? ok : failed) += 1;
      fx.status.boards += 1;
      fx.status.lastBoardSeconds = ended.seconds;
      fx.status.failureText = ended.failureTexts.empty() ? std::string() : ended.failureTexts.front();
      fx.status.state = boardOk ? FixtureState::kOk : FixtureState::kFailed;
      inProgress.fetch_sub(1);
    }
    Show(device);
    view.BoardEnded(ended);
    { std::lock_guard lock(mu); }
    wake.notify_all();
  }

  void RunFixture(int device) {
    Fixture& fx = fixtures[static_cast<size_t>(device)];
    const auto period = std::chrono::milliseconds(options.pollMs);
    bool firstPoll = true;
    while (accepting.load()) {
      const bool present = Poll(device);
      if (std::exchange(firstPoll, false)) NoteWhenNoProbeOpened();
      fx.seen = present ? fx.seen + 1 : 0;
      fx.missed = present ? 0 : fx.missed + 1;
      FixtureState state;
      {
        std::lock_guard lock(mu);
        state = fx.status.state;
      }
      if (state == FixtureState::kOk || state == FixtureState::kFailed) {
        // The last board is still there, or has just gone.
        if (fx.missed >= kPollsToAgree)
          SetState(device, fx.open ? FixtureState::kWaiting : FixtureState::kNoProbe);
      } else if (!fx.open) {
        SetState(device, FixtureState::kNoProbe);
      } else {
        SetState(device, FixtureState::kWaiting);
        if (fx.seen >= kPollsToAgree && !IndexStillNamesTheProbe(device)) {
          fx.seen = 0;  // another probe answers at this index now: look at it afresh
        } else if (fx.seen >= kPollsToAgree) {
          if (const uint64_t sequence = TakeBoard(); sequence != 0) {
            Program(device, sequence);
            fx.seen = 0;
            fx.missed = 0;
            continue;  // poll again at once: the board is probably still there
          }
        }
      }
      // A first sighting (or a first miss of a board to be taken off) is confirmed after half a
      // period: a board starts within one and a half periods of being placed, while an idle
      // fixture still costs one poll a period.
      const bool confirming =
          fx.seen == 1 || (fx.missed == 1 && (state == FixtureState::kOk || state == FixtureState::kFailed));
      std::unique_lock lock(mu);
      wake.wait_for(lock, confirming ? period / 2 : period, [&] { return !accepting.load(); });
    }
    CloseProbe(device);
    {
      std::lock_guard lock(mu);
      liveFixtures.fetch_sub(1);
    }
    wake.notify_all();
  }

  bool Start(const RunRequest& request) {
    ctx.request = request;
    if (BindProbeLink(ctx.link, log, options.libraryName) == 0) {
      log.ShowMessage("Cannot load 'libVorlink.so'");
      return false;
    }
    const ProductSettings* product = FindProduct(request.productIndex);
    if (product == nullptr || !FillDownloadSettings(ctx.settings, request)) return false;
    FillProductSettings(ctx.settings, *product);
    bool anyImage = false;
    for (const ImageSlot& slot : request.images) anyImage = anyImage || !slot.path.empty();
    if (!anyImage) {
      log.ShowMessage("Cannot open image files");
      return false;
    }
    // Set before the fixture threads start, which orders it before every job's read.
    ctx.transfersInFlight = options.transfersInFlight && ctx.link.WriteChunks != nullptr;
    if (options.transfersInFlight && ctx.link.WriteChunks == nullptr) view.TransfersInFlightUnavailable();
    AppendFlashTypeHeader(log, request, ctx.settings);
    log.Append(Format("  JTAG ID: 0x%08X\r\n", ctx.settings.expectedJtagId));
    startMs = clock.NowMs();
    accepting.store(true);
    for (int device = 0; device < kMaxProbes; ++device) {
      fixtures[static_cast<size_t>(device)].status.device = device;
      fixtures[static_cast<size_t>(device)].status.location = "unknown";
    }
    liveFixtures.store(kMaxProbes);
    for (int device = 0; device < kMaxProbes; ++device)
      fixtures[static_cast<size_t>(device)].thread = std::thread([this, device] { RunFixture(device); });
    return true;
  }

  void JoinAll() {
    for (Fixture& fx : fixtures) {
      if (fx.thread.joinable()) fx.thread.join();
    }
  }
};

Station::Station(RunView& log, StationView& view, StationOptions options)
    : state_(std::make_unique<State>(log, view, std::move(options))) {}

Station::~Station() {
  StopBoards();
  state_->JoinAll();
}

bool Station::Start(const RunRequest& request) {
  return state_->Start(request);
}

void Station::SetVerify(bool enabled) {
  state_->ctx.verify.store(enabled);
}

void Station::StopAccepting() {
  state_->StopAccepting();
}

void Station::StopBoards() {
  state_->StopAccepting();
  state_->ctx.stopRequested.store(1);
  for (int device = 0; device < kMaxProbes; ++device) {
    bool changed = false;
    {
      std::lock_guard lock(state_->mu);
      FixtureStatus& status = state_->fixtures[static_cast<size_t>(device)].status;
      changed = status.state == FixtureState::kProgramming;
      if (changed) status.state = FixtureState::kStopping;
    }
    if (changed) state_->Show(device);
  }
}

bool Station::Ended() const {
  return !state_->accepting.load() && state_->liveFixtures.load() == 0;
}

void Station::Wait() {
  {
    std::unique_lock lock(state_->mu);
    state_->wake.wait(lock, [&] { return Ended(); });
  }
  state_->JoinAll();
}

int Station::FixturePercent(int device) const {
  if (device < 0 || device >= kMaxProbes) return 0;
  const State::Fixture& fx = state_->fixtures[static_cast<size_t>(device)];
  const uint64_t total = fx.boardBytes.load();
  uint64_t sent = 0;
  for (const auto& count : fx.sent) sent += count.load();
  if (total == 0) return 0;
  return static_cast<int>(std::min<uint64_t>(100, sent * 100 / total));
}

FixtureStatus Station::Fixture(int device) const {
  if (device < 0 || device >= kMaxProbes) return {};
  std::lock_guard lock(state_->mu);
  return state_->fixtures[static_cast<size_t>(device)].status;
}

StationCounts Station::Counts() const {
  StationCounts counts;
  std::lock_guard lock(state_->mu);
  counts.ok = state_->ok;
  counts.failed = state_->failed;
  counts.inProgress = static_cast<uint64_t>(state_->inProgress.load());
  counts.elapsedSeconds = static_cast<uint32_t>(state_->clock.NowMs() - state_->startMs) / 1000.0;
  const uint64_t ended = counts.ok + counts.failed;
  counts.boardsPerHour = counts.elapsedSeconds > 0 ? ended * 3600.0 / counts.elapsedSeconds : 0;
  return counts;
}

bool Station::HistoryFailed() const {
  return state_->historyFailed.load();
}

}  // namespace zolt
