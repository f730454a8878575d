// SPDX-License-Identifier: MIT
// What the jobs of one run share: RunSettings (written by run control before any job starts),
// the bound probe link, the operator, and the run's shared flags and counters.
//
// Threads. Run control fills every plain field on its own thread before it starts the jobs (thread
// start orders those writes before the jobs' reads) and does not touch them while jobs run. The
// fields that jobs and the GUI thread change while a run is in progress are atomics:
// `deviceSlots` (claimed by exchange, one entry at a time), `runningJobCount`,
// `failedDeviceCount`, `stopRequested` and `verify` (read afresh at every check, never cached).
#pragma once

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <mutex>

#include "core/clock.h"
#include "core/run_request.h"
#include "core/run_state.h"
#include "core/run_view.h"
#include "jobs/run_observer.h"
#include "probe/probe_link.h"

namespace zolt {

struct RunSettings {
  // 1: the probe at this device index passed identification and waits for a job to claim it.
  std::array<std::atomic<uint8_t>, kMaxProbes> deviceSlots{};
  // Download jobs of this run that have not finished; each job decrements it as its last act.
  std::atomic<int32_t> runningJobCount{0};

  // Per product (the product table).
  uint32_t expectedJtagId = 0;
  std::array<uint8_t, 4> jtagIdParam{};
  bool sourceLevelDebugProduct = false;
  int jtagType = 0;

  // Download runs only; a pin-toggle run leaves what the last download run wrote.
  int norType = 0;
  int flashTypeCode = 0;  // kFlashTypeNand or kFlashTypeNor
  uint32_t norOffset = 0;
  int busWidth = 0;  // norWidth x norInterleave
  int norWidth = 0;
  int norInterleave = 0;
  // Sum of the enabled image sizes times the number of probes. 64-bit: 16 probes of images
  // near 4 GiB overflow 32 bits.
  uint64_t runTotalBytes = 0;
};

struct JobContext {
  JobContext(RunView& op, const TickClock& clock) : op(op), clock(clock) {}
  JobContext(const JobContext&) = delete;
  JobContext& operator=(const JobContext&) = delete;

  RunView& op;
  const TickClock& clock;
  RunObserver* observer = nullptr;  // per-device results of download runs; may be null

  ProbeLink link;
  RunSettings settings;
  // The front end's settings as they were when RUN was pressed; the jobs read every setting but
  // Verify and the stop request from here, never from the front end.
  RunRequest request;
  // Each block's data chunks go out through link.WriteChunks, all in flight, instead of one
  // synchronous Write per chunk. A switch of the program, not of the dialog's settings: run control
  // sets it at each RUN from RunControlOptions, a station at Start from StationOptions, each only
  // when the bound library has WriteChunks. Off by default.
  bool transfersInFlight = false;
  // The Verify box, live: the dialog stores each click, zolt-flash its option once; each file's
  // announcement reads it.
  std::atomic<bool> verify{true};

  // Set by STOP (GUI thread); cleared by the monitor after the last download job, or by the
  // pin-toggle job when it stops.
  std::atomic<int> stopRequested{0};
  // Download jobs of the current run that ended with a failure.
  std::atomic<int> failedDeviceCount{0};
  // Outcome of the last finished run.
  std::atomic<RunOutcome> outcome{RunOutcome::kNone};
  // Where the run is. Moved only through MoveTo and MoveFrom, which tell the view in the order
  // the state moved: run control moves it on the RUN thread, the monitor and the pin-toggle job on
  // theirs, and a STOP press can meet the monitor's end.
  std::atomic<RunState> runState{RunState::kIdle};
  std::mutex runStateMutex;
  void MoveTo(RunState state) {
    std::lock_guard lock(runStateMutex);
    runState.store(state);
    op.ShowRunState(state);
  }
  // Moves to `to` only if the run is at `from`; false, and nothing shown, otherwise.
  bool MoveFrom(RunState from, RunState to) {
    std::lock_guard lock(runStateMutex);
    if (runState.load() != from) return false;
    runState.store(to);
    op.ShowRunState(to);
    return true;
  }

  // Wakes the monitor's watching loop early when a job ends (it also wakes every 10 ms).
  std::mutex wakeMutex;
  std::condition_variable wake;
  void NotifyJobEnded() {
    { std::lock_guard lock(wakeMutex); }
    wake.notify_all();
  }
};

}  // namespace zolt
