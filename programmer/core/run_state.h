// SPDX-License-Identifier: MIT
// RunState: where a run is, as run control owns it and tells the front end (RunView::ShowRunState).
// Front ends derive their RUN/STOP button from it (RunButtonFace) and never the other way round.
//
//   kIdle ──RUN──> kStarting ──jobs started──> kRunning ──STOP──> kStopping ──jobs ended──> kEnding
//     ^               │                  └──────> kToggling ─STOP─> kStopping ─job ended─> kIdle
//     └── failed ─────┘               kRunning ──every job ended──> kEnding ──end reported──> kIdle
#pragma once

#include <cstdint>
#include <string_view>

namespace zolt {

enum class RunState : uint8_t {
  kIdle,      // no run: RUN may be pressed
  kStarting,  // RUN was pressed: binding the library, identifying probes, preparing a pin toggle
  kRunning,   // download jobs run: STOP may be pressed
  kToggling,  // the pin-toggle job toggles: STOP may be pressed
  kStopping,  // STOP was pressed: the jobs are ending (a download file at its next block)
  kEnding,    // every download job has ended: the run reports its end (log, box)
};

// The RUN/STOP button as each state shows it: a run in progress offers "STOP", and only the
// states that accept a press enable the button.
struct RunButtonFace {
  std::string_view text;
  bool enabled;
};

constexpr RunButtonFace FaceOf(RunState state) {
  switch (state) {
    case RunState::kIdle:
      return {"RUN", true};
    case RunState::kStarting:
      return {"RUN", false};
    case RunState::kRunning:
    case RunState::kToggling:
      return {"STOP", true};
    case RunState::kStopping:
    case RunState::kEnding:
      return {"STOP", false};
  }
  return {"RUN", false};
}

constexpr std::string_view NameOf(RunState state) {
  switch (state) {
    case RunState::kIdle:
      return "idle";
    case RunState::kStarting:
      return "starting";
    case RunState::kRunning:
      return "running";
    case RunState::kToggling:
      return "toggling";
    case RunState::kStopping:
      return "stopping";
    case RunState::kEnding:
      return "ending";
  }
  return "?";
}

}  // namespace zolt
