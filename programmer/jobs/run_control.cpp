// SPDX-License-Identifier: MIT
#include "jobs/run_control.h"

#include <sys/resource.h>
#include <unistd.h>

#include <algorithm>
#include <array>
#include <atomic>
#include <cerrno>
#include <mutex>
#include <thread>
#include <vector>

#include "core/image_size.h"
#include "jobs/download_job.h"
#include "jobs/job_context.h"
#include "jobs/job_steps.h"
#include "jobs/monitor_job.h"
#include "jobs/pin_toggle_job.h"
#include "jobs/run_settings.h"
#include "jobs/text_format.h"
#include "probe/identify.h"
#include "probe/nor_type_table.h"
#include "probe/probe_commands.h"
#include "probe/products.h"
#include "probe/records.h"

namespace zolt {

struct RunControl::State {
  State(RunView& op, RunControlOptions opts)
      : options(std::move(opts)), ctx(op, options.clock != nullptr ? *options.clock : SystemTickClock()) {
    ctx.observer = options.observer;
  }

  RunControlOptions options;
  JobContext ctx;
  std::mutex threadsMutex;           // guards `threads` (OnRun, WaitForIdle, the destructor)
  std::vector<std::thread> threads;  // every worker thread of the current or last run
  std::atomic<int> liveThreads{0};   // threads started and not yet returned

  // Worker threads run a few nice levels below the thread that started them, so that the GUI
  // thread (or zolt-flash's main thread) is served first. Behind real USB a job sleeps in every
  // transfer and uses little CPU; against probes that answer at once (the virtual bench in
  // instant timing) sixteen jobs never wait, and at equal priority they kept the GUI thread of a
  // two-core machine waiting up to 40-90 ms for a CPU. Raising one's own nice value needs no
  // privilege; where it fails the thread keeps its priority.
  static void LowerWorkerPriority() {
    const pid_t tid = ::gettid();
    errno = 0;
    const int nice = ::getpriority(PRIO_PROCESS, static_cast<id_t>(tid));
    if (errno == 0)
      ::setpriority(PRIO_PROCESS, static_cast<id_t>(tid), std::min(nice + kWorkerNiceIncrement, 19));
  }
  static constexpr int kWorkerNiceIncrement = 5;

  // Starts `body` on a thread owned by this state; the count drops as the thread's last act.
  template <typename Body>
  void Start(Body body) {
    std::lock_guard lock(threadsMutex);
    liveThreads.fetch_add(1);
    threads.emplace_back([this, body] {
      LowerWorkerPriority();
      body(ctx);
      liveThreads.fetch_sub(1);
    });
  }

  void JoinAll() {
    std::lock_guard lock(threadsMutex);
    for (std::thread& thread : threads) {
      if (thread.joinable()) thread.join();
    }
    threads.clear();
  }

  void OnRun(const RunRequest& request);
  bool StartDownloadRun(const ProbeCommands& probe);
  bool StartPinToggleRun(const ProbeCommands& probe);
};

RunControl::RunControl(RunView& op, RunControlOptions options)
    : state_(std::make_unique<State>(op, std::move(options))) {}

RunControl::~RunControl() {
  RequestStop();
  state_->JoinAll();
}

void RunControl::OnRun(const RunRequest& request) {
  state_->OnRun(request);
}

void RunControl::SetVerify(bool enabled) {
  state_->ctx.verify.store(enabled);
}

bool RunControl::IsRunning() const {
  return state_->liveThreads.load() != 0;
}

void RunControl::RequestStop() {
  state_->ctx.stopRequested.store(1);
}

void RunControl::WaitForIdle() {
  state_->JoinAll();
}

uint64_t RunControl::RunTotalBytes() const {
  return state_->ctx.settings.runTotalBytes;
}

RunState RunControl::CurrentState() const {
  return state_->ctx.runState.load();
}

RunOutcome RunControl::LastOutcome() const {
  return state_->ctx.outcome.load();
}

void RunControl::State::OnRun(const RunRequest& request) {
  RunView& op = ctx.op;
  if (ctx.MoveFrom(RunState::kRunning, RunState::kStopping) ||
      ctx.MoveFrom(RunState::kToggling, RunState::kStopping)) {
    ctx.stopRequested.store(1);
    op.RefreshDialogControls();
    return;
  }
  // A press while a run starts, stops or ends, or while the last run's threads are still
  // returning, is not a RUN press.
  if (liveThreads.load() != 0 || !ctx.MoveFrom(RunState::kIdle, RunState::kStarting)) return;
  JoinAll();  // the earlier run's threads have all returned
  // A stop requested while no run was in progress must not stop this one.
  ctx.stopRequested.store(0);
  // The jobs of a running run read ctx.request; only a press that starts a run rewrites it.
  ctx.request = request;
  op.SetProgressPos(0);

  bool started = false;
  if (BindProbeLink(ctx.link, op, options.libraryName) == 0) {
    op.ShowMessage("Cannot load 'libVorlink.so'");
  } else if (const ProductSettings* product = FindProduct(ctx.request.productIndex); product != nullptr) {
    FillProductSettings(ctx.settings, *product);
    const ProbeCommands probe(ctx.link, op);
    if (product->mayTogglePins && ctx.request.pinToggle) {
      started = StartPinToggleRun(probe);
    } else {
      started = StartDownloadRun(probe);
    }
  }
  if (!started) {
    ctx.outcome.store(RunOutcome::kNotStarted);
    ctx.MoveTo(RunState::kIdle);
  }
}

bool RunControl::State::StartDownloadRun(const ProbeCommands& probe) {
  RunView& op = ctx.op;
  RunSettings& settings = ctx.settings;
  const RunRequest& request = ctx.request;
  ctx.failedDeviceCount.store(0);
  // Bound afresh at this RUN: the library decides whether the switch can take effect.
  ctx.transfersInFlight = options.transfersInFlight && ctx.link.WriteChunks != nullptr;
  if (options.transfersInFlight && ctx.link.WriteChunks == nullptr && options.onTransfersInFlightUnavailable)
    options.onTransfersInFlightUnavailable();
  if (!FillDownloadSettings(settings, request)) return false;
  AppendFlashTypeHeader(op, request, settings);

  std::array<uint8_t, kMaxProbes> slots{};
  const int found = request.multiDevice
                        ? IdentifyAllProbes(probe, slots.data(), kMaxProbes, settings.jtagIdParam.data(),
                                            settings.expectedJtagId)
                        : IdentifyFirstProbe(probe, slots.data(), kMaxProbes, settings.jtagIdParam.data(),
                                             settings.expectedJtagId);
  for (int i = 0; i < kMaxProbes; ++i) settings.deviceSlots[i].store(slots[i]);
  if (found == 0) {
    op.ShowMessage("Cannot Found Valid Device or JTAG ID");
    return false;
  }
  op.Append(Format("  JTAG ID: 0x%08X\r\n", settings.expectedJtagId));
  op.ShowDeviceStates(slots);
  op.RefreshDialogControls();

  std::array<std::string, 3> paths;
  for (int f = 0; f < 3; ++f) paths[f] = request.images[f].path;
  if (paths[0].empty() && paths[1].empty() && paths[2].empty()) {
    op.ShowMessage("Cannot open image files");
    return false;
  }
  uint64_t total = 0;
  for (int f = 0; f < 3; ++f) {
    if (request.images[f].enabled) total += CountedImageBytes(paths[f]);
  }
  settings.runTotalBytes = total * static_cast<uint64_t>(found);

  op.SetProgressRange(0, 100);
  op.SetProgressStep(0);
  int jobs = 0;
  for (uint8_t slot : slots) jobs += slot == 1 ? 1 : 0;
  settings.runningJobCount.store(jobs);
  for (int i = 0; i < jobs; ++i) Start(DownloadJob);
  Start(MonitorJob);
  return true;
}

bool RunControl::State::StartPinToggleRun(const ProbeCommands& probe) {
  RunView& op = ctx.op;
  RunSettings& settings = ctx.settings;
  op.Append("[Toggling All PINs]\r\n");
  std::array<uint8_t, kMaxProbes> slots{};
  const int found = IdentifyFirstProbe(probe, slots.data(), kMaxProbes, settings.jtagIdParam.data(),
                                       settings.expectedJtagId);
  for (int i = 0; i < kMaxProbes; ++i) settings.deviceSlots[i].store(slots[i]);
  if (found == 0) {
    op.ShowMessage("Cannot Found Valid Device or JTAG ID");
    return false;
  }
  op.Append(Format("  JTAG ID: 0x%08X\r\n", settings.expectedJtagId));
  // The run stays starting (RUN disabled) until the job toggles (or gives RUN back on failure),
  // so no second run can start on the probe while the job prepares it.
  Start(PinToggleJob);
  return true;
}

}  // namespace zolt
