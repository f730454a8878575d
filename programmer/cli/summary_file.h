// SPDX-License-Identifier: MIT
// SummaryFile: the file --json names, checked once at start-up and written at the run's start
// ("running") and end.
//
// What the path may name (docs/cli.md, "The run summary"):
//   - a regular file, or no file yet in an existing folder: replaced atomically (a temporary file
//     beside it, then a rename); the old file's permission bits are kept. A symbolic link is
//     followed, through every link of a chain, and its target written, so the link stays a link.
//   - a character device (/dev/null, a terminal) or a FIFO: opened once at start-up and kept
//     open; only the final document is written through it, never the "running" one. A FIFO must
//     have a reader at start-up (it is opened without blocking, so a FIFO nobody reads is a usage
//     error instead of a hang), and a write that cannot go on for kStreamWriteLimit ends with an
//     error rather than waiting for ever.
//   - anything else (a folder, a block device, a socket) is refused, as is a file the run reads
//     (an image, the bench file, the trace file, the bench's event log) or writes its log and messages to
//     (stdout, stderr): the summary must never replace them.
//
// Threads: Open on the main thread before the run; Write from one thread at a time (callers
// serialise it), except from the last-resort handler, which may race a write in progress and then
// at worst loses its own. Never throws.
#pragma once

#include <sys/types.h>

#include <chrono>
#include <string>
#include <vector>

namespace zolt::cli {

// A file the summary must not be, with the name the usage error gives it ("image1").
struct ProtectedFile {
  std::string role;
  std::string path;
};

// Why `path` must not be written by the program, or "": "it is image1" when it is one of
// `protectedFiles` (the same file after links, dots and hard links; for a name with no file yet,
// the same name after links), "it is stdout (the log)" or "it is stderr (the messages)" when it is
// the file those descriptors write to.
std::string ProtectedRole(const std::string& path, const std::vector<ProtectedFile>& protectedFiles);

class SummaryFile {
 public:
  static constexpr std::chrono::seconds kStreamWriteLimit{10};

  SummaryFile() = default;
  ~SummaryFile();
  SummaryFile(const SummaryFile&) = delete;
  SummaryFile& operator=(const SummaryFile&) = delete;

  // Checks `path` and, for a device or FIFO, opens it. Returns "" or the reason it cannot take
  // the summary (no option name, no path: "is a directory").
  std::string Open(const std::string& path, const std::vector<ProtectedFile>& protectedFiles);

  // True for a device or FIFO: the "running" document is not written there.
  bool Streams() const { return streamFd_ >= 0; }
  const std::string& path() const { return path_; }
  // The regular file that is replaced (the link's target for a symbolic link); "" for a stream.
  const std::string& target() const { return target_; }

  // Writes the whole document. Returns "" or the reason (strerror text).
  std::string Write(const std::string& text);

 private:
  std::string Replace(const std::string& text);
  std::string WriteStream(const std::string& text);

  std::string path_, target_;
  int streamFd_ = -1;
  bool keepMode_ = false;
  mode_t mode_ = 0;
};

}  // namespace zolt::cli
