// SPDX-License-Identifier: MIT
// What the main dialog needs of run control: the RUN/STOP button's handler, and for closing,
// whether a run is in progress and a way to ask it to stop. The program connects it to
// zolt::RunControl; tests may supply their own.
//
// Threads: all three are called on the GUI thread. OnRun may block it while probes are identified
// (message boxes shown meanwhile are answered in nested event loops); the other two never block.
#pragma once

namespace zolt::ui {

class RunDriver {
 public:
  virtual ~RunDriver() = default;
  virtual void OnRun() = 0;
  virtual bool IsRunning() const = 0;
  virtual void RequestStop() = 0;
};

}  // namespace zolt::ui
