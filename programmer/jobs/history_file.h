// SPDX-License-Identifier: MIT
// HistoryFile: the board history as a file of JSON lines, one per board start and one per board
// end (BoardRecordJson), appended for as long as the file lives, by one program or several.
//
// What the path may name: a regular file, or no file yet in an existing folder (made with mode
// 0644); a symbolic link is followed to its target. A FIFO, a device, a folder, a socket and a
// file of the kernel's (/proc, /sys) are refused: a history must be a file that keeps what was
// written. The file is opened without
// blocking, so a FIFO nobody reads cannot hold the program.
//
// Each line goes out with one write(2) on a descriptor opened with O_APPEND, so lines of several
// threads or programs appending to one file never interleave; then the file is synced. A write
// that takes only part of the line (a full disk, a file size limit) is an error: the rest is never
// written separately, and the part written is cut off again, so the file keeps whole lines only.
// Programs appending through HistoryFile take turns under an advisory lock (flock) for this, and
// wait at most 10 s for one another.
//
// Threads: Append from any thread, several at once (one mutex); it blocks for the write and the
// fsync. Never throws (only std::bad_alloc).
#pragma once

#include <memory>
#include <mutex>
#include <string>

#include "jobs/board_record.h"

namespace zolt {

class HistoryFile final : public BoardHistory {
 public:
  // Null with the reason in `error` ("<path>: <what>") when `path` cannot take the history.
  static std::unique_ptr<HistoryFile> Open(const std::string& path, std::string* error);
  ~HistoryFile() override;
  HistoryFile(const HistoryFile&) = delete;
  HistoryFile& operator=(const HistoryFile&) = delete;

  bool Append(const BoardRecord& record, bool ended, std::string* error) override;
  // Writes `line` (one JSON text and its "\n") as Append does.
  bool AppendLine(const std::string& line, std::string* error);

  const std::string& path() const { return path_; }
  // True when `other` names this very file (through links and hard links).
  bool IsFile(const std::string& other) const;

 private:
  HistoryFile(std::string path, int fd) : path_(std::move(path)), fd_(fd) {}

  const std::string path_;
  const int fd_;
  std::mutex mu_;
};

}  // namespace zolt
