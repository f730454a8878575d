// SPDX-License-Identifier: MIT
// What the main dialog needs of run control: the RUN/STOP button's handler (given the settings as
// RUN found them), the live Verify box, and for closing, whether a run is in progress and a way
// to ask it to stop. The program connects it to
// zolt::RunControl; tests may supply their own.
//
// Threads: all four are called on the GUI thread. OnRun may block it while probes are identified
// (message boxes shown meanwhile are answered in nested event loops); the others never block.
#pragma once

#include "core/run_request.h"

namespace zolt::ui {

class RunDriver {
 public:
  virtual ~RunDriver() = default;
  virtual void OnRun(const RunRequest& request) = 0;
  virtual void SetVerify(bool enabled) = 0;
  virtual bool IsRunning() const = 0;
  virtual void RequestStop() = 0;
};

}  // namespace zolt::ui
