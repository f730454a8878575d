// SPDX-License-Identifier: MIT
// Console: zolt-flash's two output streams, shared by the job threads, the main loop and the
// signal watcher.
//
// stdout carries the log only, byte for byte; stderr carries the message lines and, when it is a
// terminal, one progress line redrawn in place. Every text goes out whole with write(2) under one
// lock, so texts of concurrent callers never interleave and nothing waits in a buffer when the
// process ends (or is ended by a second signal). Before anything else reaches a terminal the
// progress line is wiped, so it never leaves fragments between log lines.
//
// Every operation: any thread; blocks only while the descriptor takes the bytes; a closed or
// broken descriptor drops the text silently (SIGPIPE is expected to be ignored by the program).
#pragma once

#include <mutex>
#include <string>
#include <string_view>

namespace zolt::cli {

class Console {
 public:
  // `progressEnabled`: draw the progress line (callers pass isatty(errFd)).
  Console(int outFd, int errFd, bool progressEnabled);

  void WriteLog(std::string_view text);
  // Writes "message: TEXT\n", TEXT escaped for the terminal but keeping its line breaks.
  void WriteMessage(std::string_view text);
  // Writes `line` (no line end), escaped for the terminal, followed by "\n"; for zolt-flash's own lines.
  void WriteErrorLine(std::string_view line);
  // Redraws the progress line in place; does nothing unless progress is enabled.
  void DrawProgress(std::string_view line);
  // Wipes the progress line, if one is shown.
  void ClearProgress();
  // Writes `line` (unescaped, for zolt-flash's own fixed texts) and then nothing more: for a
  // program that ends at once, whose other threads may still be running until it has.
  void WriteLastErrorLineAndClose(std::string_view line);

  bool progressEnabled() const { return progressEnabled_; }

 private:
  void WriteAllLocked(int fd, std::string_view text);
  void WipeLocked();

  const int outFd_, errFd_;
  const bool progressEnabled_;
  const bool outSharesTerminal_;  // stdout is a terminal too: wipe before log text
  std::mutex mu_;
  bool progressShown_ = false;
  bool closed_ = false;  // guarded by mu_
};

}  // namespace zolt::cli
