// SPDX-License-Identifier: MIT
// A fake probe bench for the jobs' tests: up to 16 probes with just enough firmware to answer
// every command the programmer sends, a flash that takes downloads (block responses every 2048
// bytes and after the last byte, the finished code after a stop marker), and switches that make
// single transfers fail or answer otherwise. Built as a shared library that exports the link
// library's four entry points, so that RunControl can bind it by path and tests can take the
// entry points directly (FakeLink). State is process-wide; Reset() before each test.
#pragma once

#include <array>
#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/clock.h"
#include "probe/probe_link.h"

namespace zolt::testing {

// A tick clock that tests move by hand, and that may also move by `step` on every reading.
class FakeClock final : public TickClock {
 public:
  uint32_t NowMs() const override { return now_.fetch_add(step.load()); }
  uint32_t Peek() const { return now_.load(); }  // reads without stepping
  void Advance(uint32_t ms) { now_.fetch_add(ms); }
  std::atomic<uint32_t> step{0};

 private:
  mutable std::atomic<uint32_t> now_{1000};
};

struct FakeProbeConfig {
  bool present = false;  // OpenDevice succeeds
  uint32_t jtagId = 0;   // what ReadJtagId reports
  std::string firmwarePrefix = "ZOLT USB JTAG";
  std::string firmware = " 2.12";                     // 5 characters from byte 17
  std::string bootloader = " 2.20";                   // "" : the bootloader reply has a wrong prefix
  std::array<uint16_t, 4> flashId{0x1C, 0x4F, 0, 0};  // maker, device, third, fourth
  uint8_t eraseResponse = 0x51;                       // first byte of the flash erase response
  std::array<uint8_t, 4> eraseAddress{};
  bool answerErase = true;  // false: the erase response never comes
  // Block responses by their 1-based number within a file (default: 0x51, or 0x60 after a stop
  // marker, or 0x60 once the file is complete); a code of 0 means "no response".
  std::map<int, std::array<uint8_t, 5>> blockResponses;
  bool honourStop = true;     // answer a block that began with a stop marker with the finished code
  uint8_t failWriteCode = 0;  // a command Write with this code fails
  uint8_t failReadCode = 0;   // the response to this code never comes
  uint8_t nakCode = 0;        // the response to this code has byte 0 = 0x00 instead of "Q"
  // Data chunks (1-based, counted over the whole file) whose Write fails: `result` is what it
  // returns, the probe takes the first `taken` bytes of the chunk (reported as transferred).
  struct DataFault {
    int result = 0;
    int taken = 0;
  };
  std::map<int, DataFault> dataFaults;
};

struct FakeEvent {
  // "cmd=0x98", "data 64", "data 18 stop", "data 64 fault" (a data fault), "block" (a block
  // response was read)
  std::string text;
  uint32_t ms = 0;             // the fake clock's reading, for pin toggling
  std::vector<uint8_t> bytes;  // a command's or data chunk's bytes as written (all `length` of them)
};

struct FakeFile {
  std::array<uint8_t, 36> dataInfo{};
  std::vector<uint8_t> bytes;  // data as written, stop markers included
};

class FakeBench {
 public:
  static FakeBench& Get();
  void Reset();

  // Set before the run; read by the probes under the bench lock.
  void Configure(int device, const FakeProbeConfig& config);
  void SetClock(FakeClock* clock);
  // Called (outside the lock) after each command write is taken in, e.g. to press STOP.
  void OnCommand(std::function<void(int device, uint8_t code)> hook);
  // Called (outside the lock) after each data chunk write, with the 1-based chunk number in the file.
  void OnData(std::function<void(int device, int chunk)> hook);

  std::vector<FakeEvent> Events(int device) const;
  std::vector<std::string> Commands(int device) const;  // event texts only
  std::vector<FakeFile> Files(int device) const;
  bool IsOpen(int device) const;
  int OpenCount(int device) const;

  // The entry points (the same as the exported symbols).
  static ProbeLink Link();
  // The same with the optional WriteChunks entry (the export of the FakeVorlinkChunks variant):
  // each chunk is taken as one Write of it would be, in order, up to the first that fails.
  static ProbeLink ChunkLink();
  // WriteChunks calls so far and the chunk count each asked for, since Reset.
  std::vector<int> ChunkCalls() const;

  // Used by the exported functions.
  int Open(int productId, int device);
  int Write(int device, const uint8_t* buffer, int length, int* transferred = nullptr);
  int WriteChunks(int device, const uint8_t* buffer, int length, int count, int* completed, int* failedResult,
                  int* failedTransferred);
  int Read(int device, uint8_t* buffer, int length);
  void Close(int device);

 private:
  struct Probe {
    FakeProbeConfig config;
    bool open = false;
    int openCount = 0;
    std::vector<FakeEvent> events;
    std::vector<FakeFile> files;
    std::vector<uint8_t> pending;  // the response waiting for a Read
    bool hasPending = false;
    bool pendingIsBlock = false;  // the pending response answers a data block ("block" event when read)
    // download state
    bool downloading = false;
    uint32_t fileSize = 0;
    uint32_t received = 0;
    int blockNumber = 0;
    int dataChunks = 0;  // data writes of the current file
    bool stopInBlock = false;
  };
  void Respond(Probe& p, std::vector<uint8_t> bytes);
  void TakeCommand(Probe& p, int device, const uint8_t* buffer, int length);
  // Returns what the Write returns; `*transferred` the bytes taken.
  int TakeData(Probe& p, const uint8_t* buffer, int length, int* transferred);

  mutable std::mutex mutex_;
  std::array<Probe, 16> probes_;
  FakeClock* clock_ = nullptr;
  std::function<void(int, uint8_t)> hook_;
  std::function<void(int, int)> dataHook_;
  std::vector<int> chunkCalls_;
};

}  // namespace zolt::testing
