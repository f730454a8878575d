// SPDX-License-Identifier: MIT
// ScriptedLink: a fake libVorlink.so for tests of the probe commands and the jobs. It hands out a
// ProbeLink whose four entries record every call and answer from a per-device script, so a test
// states what each probe answers and then reads back exactly what was sent.
//
// How a device answers, in order of precedence:
//  - OpenDevice: the result set with SetOpenResult (default 1).
//  - Write: the next queued write result (QueueWriteResult), else the device's default (1).
//  - Read: the next queued reply (QueueReadReply); else the device's responder (SetResponder),
//    called with the last command written to that device; else nothing arrives (result 0, buffer
//    untouched).
//  A reply's bytes are copied into the caller's buffer (at most the length asked) even when its
//  result is 0, so a test can model a read that fails after delivering data.
//
// Threads: the ProbeLink entries may be called from any number of threads at once (one thread
// per device, as the jobs do); the script and the record are guarded by one mutex, and a
// responder runs outside it, so a responder may block (to hold a job at a chosen point) without
// stopping other devices. Only one ScriptedLink may exist at a time, because ProbeLink's entries
// are plain functions; constructing a second one while the first lives aborts. With none alive
// the entries fail (0) and record nothing; the test must join its threads before the link goes.
#pragma once

#include <array>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <string>
#include <vector>

#include "probe/probe_link.h"

namespace zolt::testing {

struct ReadReply {
  int result = 1;              // what Read returns (nonzero: success)
  std::vector<uint8_t> bytes;  // copied into the buffer, at most the length asked
};

struct LinkCall {
  enum class Kind { kOpen, kWrite, kRead, kClose };
  Kind kind;
  int device;
  int productId = 0;           // OpenDevice only
  int length = 0;              // Write / Read: the length passed
  int timeoutMs = 0;           // Write / Read
  std::vector<uint8_t> bytes;  // Write: the bytes sent; Read: the bytes delivered
  int result = 0;              // what the entry returned (Close: 0)
};

class ScriptedLink {
 public:
  // Sees each Read of `device` that has no queued reply: the command last written to that device
  // (empty if none yet) and the length asked. Runs on the caller's thread, outside the lock.
  using Responder = std::function<ReadReply(int device, const std::vector<uint8_t>& lastCommand, int length)>;

  ScriptedLink();
  ~ScriptedLink();
  ScriptedLink(const ScriptedLink&) = delete;
  ScriptedLink& operator=(const ScriptedLink&) = delete;

  // The four entries, bound to this script.
  const ProbeLink& link() const { return link_; }

  // ---- Script (any thread) ----
  void SetOpenResult(int device, int result);
  void SetDefaultWriteResult(int device, int result);
  void QueueWriteResult(int device, int result);
  void QueueReadReply(int device, ReadReply reply);
  // A positive answer of `bytes`: shorthand for QueueReadReply(device, {1, bytes}).
  void QueueReadBytes(int device, std::vector<uint8_t> bytes);
  void SetResponder(int device, Responder responder);
  // The same responder for every device.
  void SetResponderForAll(const Responder& responder);

  // ---- Record (any thread) ----
  std::vector<LinkCall> Calls() const;
  std::vector<LinkCall> Calls(int device) const;
  // The bytes of every Write to `device`, in order.
  std::vector<std::vector<uint8_t>> Writes(int device) const;
  void ClearCalls();

 private:
  struct Device {
    int openResult = 1;
    int defaultWriteResult = 1;
    std::deque<int> writeResults;
    std::deque<ReadReply> readReplies;
    Responder responder;
    std::vector<uint8_t> lastCommand;
  };
  static int Open(int productId, int device);
  static int Write(int device, unsigned char* buffer, int length, int* transferred, int timeoutMs);
  static int Read(int device, unsigned char* buffer, int length, int* transferred, int timeoutMs);
  static void Close(int device);
  Device* Find(int device);  // null outside 0..15

  ProbeLink link_;
  mutable std::mutex mu_;
  std::array<Device, kMaxProbes> devices_;
  std::vector<LinkCall> calls_;
};

// Readable form of a byte sequence for failure messages: "51 00 0a".
std::string Hex(const std::vector<uint8_t>& bytes);

}  // namespace zolt::testing
