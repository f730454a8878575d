// SPDX-License-Identifier: MIT
// RunControl: what a press of RUN (or STOP) does, and the owner of every worker thread of a run.
// The Qt dialog and zolt-flash both drive the programmer only through this class and RunView.
#pragma once

#include <cstdint>
#include <functional>
#include <memory>
#include <string>

#include "core/clock.h"
#include "core/run_request.h"
#include "core/run_view.h"
#include "jobs/run_observer.h"

namespace zolt {

struct RunControlOptions {
  // File name or path of the link library; a bare name is looked for beside the executable first.
  std::string libraryName = "libVorlink.so";
  // Tick source for elapsed times and the pin-toggle delay; the system's steady clock by default.
  const TickClock* clock = nullptr;
  // Per-device results of download runs, and a pin toggle run's failed applies; may be null.
  RunObserver* observer = nullptr;
  // Download runs stream each block's chunks with transfers in flight when the bound library has
  // the WriteChunks export; without it they stream as usual. Off: always as usual.
  bool transfersInFlight = false;
  // Called on the RUN thread when a download run starts with `transfersInFlight` set but the
  // library lacks WriteChunks (the run then streams as usual); may be empty.
  std::function<void()> onTransfersInFlightUnavailable;
};

class RunControl {
 public:
  RunControl(RunView& op, RunControlOptions options = {});
  // Requests a stop and joins every worker thread: blocks until the jobs have seen the stop (a
  // download ends its file through the stop handshake, a pin toggle finishes its cycle). Like
  // WaitForIdle, must not run on the thread that answers the jobs' message boxes while one is open.
  ~RunControl();
  RunControl(const RunControl&) = delete;
  RunControl& operator=(const RunControl&) = delete;

  // The RUN/STOP button's handler; `request` holds the front end's settings as they are now
  // (a press that only stops ignores it). What the press does follows the run's state:
  // - running or toggling: a STOP press; moves to stopping, requests the stop and returns.
  // - idle (and every thread of the earlier run returned): a RUN press; moves to starting, joins
  //   the earlier run's threads, then blocks the calling thread while it binds the library and
  //   identifies probes (up to 16 x 4 exchanges of 500 ms), starts the jobs and returns. A start
  //   that fails shows its box on the calling thread (blocking until acknowledged) and moves back
  //   to idle.
  // - starting, stopping, ending, or idle with threads still returning: ignored.
  // Call it from one thread (the GUI thread).
  void OnRun(const RunRequest& request);

  // The bytes the current or last download run sends in all: the enabled images that the jobs
  // will take (core/image_size.h) times the probes found; 0 before identification. Call it on the
  // thread that calls OnRun, or once OnRun has returned.
  uint64_t RunTotalBytes() const;

  // Where the run is now (it moves on other threads too). Any thread; never blocks.
  RunState CurrentState() const;

  // The Verify box, which the jobs read live when each file is announced (default: ticked).
  // Any thread; never blocks. The dialog calls it on every click, zolt-flash once.
  void SetVerify(bool enabled);

  // True from the moment OnRun starts threads until the last of them has finished. Any thread;
  // never blocks.
  bool IsRunning() const;
  // Sets stopRequested, as a press of STOP would (without touching the button). Any thread; never
  // blocks. A request left over when the next RUN starts is dropped: it cannot stop that run.
  void RequestStop();
  // Blocks until every worker thread of the current run has ended, then joins them.
  // Must not be called from the thread that answers the jobs' message boxes while they wait.
  void WaitForIdle();
  // How the last run ended: set by OnRun's failure exit, by the monitor when the last download job
  // has ended (before its "Download Complete !" box), or by the pin-toggle job. Any thread.
  RunOutcome LastOutcome() const;

  struct State;  // the run's shared state (RunSettings, counters, threads)

 private:
  std::unique_ptr<State> state_;
};

}  // namespace zolt
