// SPDX-License-Identifier: MIT
// BoardRecorder: the board records of a normal download run (zolt-flash --history), one per device
// whose job started, built from the jobs' observer calls: OnJobStarted gives the start, OnProbeOpened
// the location, OnFlashIdentified the flash, OnFileEnded the images, OnJobEnded the result. The
// product, its JTAG ID and each image's place come from the run request. Every call is passed on
// to `next` (zolt-flash's run summary) unchanged, so both see the same run.
//
// With a history, each board gets a "started" line once its probe is open (so that the line names
// the probe's location; at the job's end at the latest) and an "ended" line when its job ends.
// A line that cannot be written is reported once through `onHistoryError` (the first cause); the
// run goes on, and later lines are still tried, so that what can be kept is kept.
//
// Threads: the observer calls come from the job threads, several at once; the readers from any
// thread. One mutex, never held while a line is written; a call blocks for its history line.
#pragma once

#include <chrono>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/clock.h"
#include "core/run_request.h"
#include "jobs/board_record.h"
#include "jobs/run_observer.h"

namespace zolt {

// Where image `slot` (0..2) goes: "block 3" for NAND, "block 3, offset 0x00010000" for NOR (the
// block number and the NOR offset setting, which together place the file).
std::string ImagePlace(const RunRequest& request, int slot);

struct BoardRecorderOptions {
  RunObserver* next = nullptr;      // gets every call; may be null
  BoardHistory* history = nullptr;  // may be null: records only
  std::function<void(const std::string& error)> onHistoryError;
  std::string version, host;
  const TickClock* clock = nullptr;  // board durations; the steady clock by default
  std::function<std::chrono::system_clock::time_point()> wallClock;  // time stamps; the system's by default
};

class BoardRecorder final : public RunObserver {
 public:
  BoardRecorder(const RunRequest& request, BoardRecorderOptions options);

  void OnJobStarted(int device) override;
  void OnProbeOpened(int device, const std::string& location) override;
  void OnFlashIdentified(int device, uint16_t makerId, uint16_t deviceId, const std::string& part) override;
  void OnFileEnded(int device, int file, const std::string& path, uint64_t fileSize, uint64_t sentBytes,
                   double seconds, uint32_t crc32, bool ok) override;
  void OnJobEnded(int device, bool failed, const std::string& failureText) override;
  void OnPinApplyFailed() override;

  // Every record so far, in sequence order (those in progress have no end and no result).
  std::vector<BoardRecord> Records() const;
  // Boards that ended "ok".
  int OkBoards() const;
  // The first history line that could not be written, or "".
  std::string HistoryError() const;

 private:
  struct Board {
    BoardRecord record;
    uint32_t startMs = 0;
    bool startLogged = false;
  };
  // Writes `record` as a started or ended line, outside the lock.
  void Log(const BoardRecord& record, bool ended);

  const RunRequest request_;
  BoardRecorderOptions options_;
  mutable std::mutex mu_;
  std::map<int, Board> boards_;  // by device: a run programs each device once
  uint64_t sequence_ = 0;
  std::string historyError_;
};

}  // namespace zolt
