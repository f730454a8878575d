// SPDX-License-Identifier: MIT
// Station: boards programmed as they arrive. Each of the 16 device indices is a fixture with its
// own cycle, watched by one poll thread:
//   no probe -> waiting -> (board seen at two consecutive polls) programming -> ok / failed
//   -> (board gone at two consecutive polls) waiting
// Programming is the download job of a normal run for that one device index, on a thread of its
// own, with the same commands and log texts. Polling is quiet (no log line, no box) and never
// touches a fixture that is programming.
#pragma once

#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

#include "core/clock.h"
#include "core/run_request.h"
#include "core/run_view.h"
#include "jobs/board_record.h"

namespace zolt {

enum class FixtureState {
  kNoProbe,      // no probe at this index, or it does not answer as ours
  kWaiting,      // a probe, no board
  kProgramming,  // the board's job runs
  kOk,           // the board ended ok: take it off
  kFailed,       // the board failed (or was stopped): take it off
  kStopping,     // the stop marker has been requested for this board
};
// "no probe", "waiting", "programming", "ok", "failed", "stopping".
const char* NameOf(FixtureState state);

struct FixtureStatus {
  int device = 0;
  FixtureState state = FixtureState::kNoProbe;
  std::string location;         // "unknown" until a probe was seen
  uint64_t boards = 0;          // boards ended on this fixture
  uint64_t sequence = 0;        // the current or last board's sequence number (0: none yet)
  double lastBoardSeconds = 0;  // the last ended board's duration
  std::string failureText;      // the last board's first failure text when failed
};

// What a station shows besides its log (the log, the jobs' texts, goes through the RunView).
// Every call comes from the station's own threads (the poll thread and the fixture threads),
// several at once; an implementation carries it to where it shows it. None may block long: the
// poll thread waits for each call.
class StationView {
 public:
  virtual ~StationView() = default;
  // A fixture's state, location or counts changed.
  virtual void ShowFixture(const FixtureStatus& status) = 0;
  // A board was found and starts (the record has no end yet) / a board ended.
  virtual void BoardStarted(const BoardRecord& record) = 0;
  virtual void BoardEnded(const BoardRecord& record) = 0;
  // A box that a job of `device` would have shown. It never blocks the job: it is shown as the
  // fixture's text, not as a modal box. The text also goes into the board's failure texts.
  virtual void ShowFixtureMessage(int device, std::string_view text) = 0;
  // A line about the station as a whole or a fixture's probe (without "station: " and line end):
  // "DEVICE #3 usb:1-2.4: probe fails every poll", "history: <file>: <errno text>".
  virtual void StationNote(std::string_view text) = 0;
  // The station was asked for transfers in flight but the bound link library lacks WriteChunks:
  // every board streams as usual. Called once, from Start on its caller's thread, before any
  // fixture thread runs. A view that has nothing to say about it leaves it alone.
  virtual void TransfersInFlightUnavailable() {}
};

struct StationOptions {
  std::string libraryName = "libVorlink.so";
  const TickClock* clock = nullptr;  // steady clock by default
  int pollMs = 250;                  // poll period
  uint64_t boardLimit = 0;           // stop accepting after this many boards ended; 0: no limit
  BoardHistory* history = nullptr;   // may be null
  std::string version;               // for the records
  std::string host;
  // Each board's blocks go out with their data chunks in flight (the link's WriteChunks), when
  // the bound library has that export; without it the boards stream as usual and the view is told
  // once. Off: always as usual.
  bool transfersInFlight = false;
};

struct StationCounts {
  uint64_t ok = 0;
  uint64_t failed = 0;  // failed or stopped boards
  uint64_t inProgress = 0;
  double elapsedSeconds = 0;  // since Start
  double boardsPerHour = 0;   // boards ended per hour of elapsed time
};

class Station {
 public:
  Station(RunView& log, StationView& view, StationOptions options = {});
  // StopBoards, then joins every thread.
  ~Station();
  Station(const Station&) = delete;
  Station& operator=(const Station&) = delete;

  // Binds the link library and checks the settings once, as RUN does (a failure shows its box on
  // the calling thread through the RunView and returns false, nothing started), appends the run's
  // header lines (flash type, NOR setting block, JTAG ID) once, and starts the poll thread.
  // Blocks for the bind. Call once, from one thread.
  bool Start(const RunRequest& request);
  // The Verify box, read when each file is announced. Any thread; never blocks.
  void SetVerify(bool enabled);

  // Stops accepting boards; boards in progress finish. Any thread (a signal watcher); never blocks.
  void StopAccepting();
  // Also stops the boards in progress with the stop marker, as a STOP press does. Any thread;
  // never blocks.
  void StopBoards();

  // True once the station no longer accepts boards (asked, board limit reached, or the history
  // could not be written) and no board is in progress. Any thread; never blocks.
  bool Ended() const;
  // Blocks until Ended, then joins every thread. Not from a station thread.
  void Wait();

  // A fixture's percentage of its board's bytes, 0..100 (0 when not programming). Any thread;
  // atomics only, cheap enough for a status line or a tile's repaint.
  int FixturePercent(int device) const;
  FixtureStatus Fixture(int device) const;
  StationCounts Counts() const;
  // True when the history could not be written (the station then stops accepting and ends).
  bool HistoryFailed() const;

  struct State;

 private:
  std::unique_ptr<State> state_;
};

}  // namespace zolt
