// SPDX-License-Identifier: MIT
// VORLINK_TRACE: one line per call of the exports, appended to a file, like usbmon for this
// protocol. Off unless the variable names a file when the library loads.
//
// Line format (fields separated by one space, bytes in lower-case hex, no separators):
//   <t> dev=<index> fn=OpenDevice pid=0x<4 hex> result=<0|1> via=<primary|libusb0>
//   <t> dev=<index> fn=Write len=<asked> count=<count> timeout=<ms> result=<r> data=<bytes offered>
//   <t> dev=<index> fn=Read len=<asked> count=<count> timeout=<ms> result=<r> data=<bytes received>
//   <t> dev=<index> fn=WriteChunks len=<chunk length> chunks=<count> timeout=<ms> result=<r>
//       completed=<n> failed=<result>/<count of the failed chunk>
//     followed by one fn=Write line per chunk that was sent (the completed ones and the failed
//     one), exactly as a Write of that chunk would have traced it
//   <t> dev=<index> fn=Close
//   <t> dev=<index> fn=DeviceLocation size=<size> result=<length> location=<text the caller got>
//   <t> note <free text>
// <t> is seconds.microseconds on the monotonic clock. Notes say what went wrong: a bench file
// that could not be loaded, a libusb call that failed while a probe was being opened (with the
// probe's port path and libusb's error), or a bench probe whose flash file could not be had,
// written before the OpenDevice line they belong to.
// `via` names LinkMode after the call. Read data holds the first `count` bytes (none when the
// count is not positive).
//
// Threads: any thread. Each line goes to the file in one write() on a descriptor opened with
// O_APPEND, so lines from concurrent calls never interleave. Never throws; a failed write is
// dropped.
#pragma once

#include <memory>
#include <string>

namespace vorlink {

class Trace {
 public:
  // Opens (creating if needed) the file for appending; null, with `error` saying why, if it cannot
  // be opened. Never waits on the path (a FIFO without a reader would stop the loading program):
  // it is opened non-blocking and must be a regular file or a character device (/dev/stderr on a
  // terminal, /dev/null); a FIFO, a socket, a block device or a folder is refused.
  static std::unique_ptr<Trace> Open(const std::string& path, std::string* error = nullptr);
  ~Trace();
  Trace(const Trace&) = delete;
  Trace& operator=(const Trace&) = delete;

  void OpenDevice(int deviceIndex, int productId, int result, bool viaLibusb0);
  void Transfer(const char* function, int deviceIndex, int length, int count, int timeoutMs, int result,
                const unsigned char* bytes, int byteCount);
  // A WriteChunks call: its own line and one Write line per chunk in `attempted`, all in one
  // write(), so another thread's lines never come between them.
  void Chunks(int deviceIndex, int length, int count, int timeoutMs, int result, int completed,
              int failedResult, int failedTransferred, const unsigned char* bytes, int attempted);
  void Close(int deviceIndex);
  // `text` is what the caller's buffer holds (null: nothing); control characters show as '?'.
  void Location(int deviceIndex, int size, int result, const char* text);
  void Note(const std::string& text);

 private:
  explicit Trace(int fd) : fd_(fd) {}
  void WriteLine(std::string& line);
  int fd_;
};

}  // namespace vorlink
