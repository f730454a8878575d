// SPDX-License-Identifier: MIT
// StationInbox: the StationView of the station window. The station's threads leave their calls
// here under a lock and return at once; the window's timer takes what has gathered on the GUI
// thread (at most about 30 times a second), so a burst of fixture changes costs one repaint.
// Only the newest status of a fixture is kept; records, messages and notes are kept in order.
//
// Threads: the StationView calls from any thread, several at once; Take from any one thread.
// Nothing blocks but for the lock; nothing fails.
#pragma once

#include <array>
#include <mutex>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "jobs/station.h"
#include "probe/probe_link.h"

namespace zolt::ui {

struct StationMail {
  std::array<std::optional<FixtureStatus>, kMaxProbes> fixtures;  // the newest of each, when changed
  std::vector<BoardRecord> started;
  std::vector<BoardRecord> ended;
  std::vector<std::pair<int, std::string>> messages;  // device, text
  std::vector<std::string> notes;
  bool Empty() const;
};

class StationInbox final : public StationView {
 public:
  void ShowFixture(const FixtureStatus& status) override;
  void BoardStarted(const BoardRecord& record) override;
  void BoardEnded(const BoardRecord& record) override;
  void ShowFixtureMessage(int device, std::string_view text) override;
  void StationNote(std::string_view text) override;

  // What has come since the last Take.
  StationMail Take();

 private:
  std::mutex mu_;
  StationMail mail_;
};

}  // namespace zolt::ui
