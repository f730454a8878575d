// SPDX-License-Identifier: MIT
// One bench probe as the USB host sees it: endpoints, open/close, bulk transfers with the
// probe's timing model and its transport-level faults (unplug, missing, late and garbled
// answers), in front of its Firmware.
//
// Threads: every call takes this probe's own mutex, and no lock is shared with other probes, so
// 16 probes run in parallel. Transfers block only in realistic timing (see BulkRead).
#pragma once

#include <array>
#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <random>

#include "bench_config.h"
#include "firmware.h"
#include "probesim/bench.h"

namespace probesim {

class SimProbe final : public BenchProbe, private AnswerSink {
 public:
  SimProbe(ProbeConfig config, int index, const EventLog& log);

  std::string Name() const override { return config_.name; }
  uint16_t VendorId() const override { return 0x1F3A; }
  uint16_t ProductId() const override { return config_.productId; }
  // An unplugged probe (PROBESIM_CONTROL) is not on the bus.
  bool VisibleToPrimary() const override { return config_.visiblePrimary && !pluggedOut_; }
  bool VisibleToLibusb0() const override { return config_.visibleLibusb0 && !pluggedOut_; }
  uint64_t Generation() const override { return generation_.load(std::memory_order_acquire); }
  uint8_t BusNumber() const override { return 1; }
  std::string PortPath() const override { return "1." + std::to_string(index_ + 1); }
  std::vector<EndpointInfo> Endpoints() const override;
  // Attaches the flash file first (see FlashStore); a probe whose flash file cannot be had does
  // not open, and OpenFailure says why.
  bool Open() override;
  std::string OpenFailure() override;
  void Close() override;
  // Non-blocking in instant timing. In realistic timing it waits the transfer's USB latency.
  // Errors: kNoDevice (not open, or unplugged), kError (not endpoint 0x01).
  TransferResult BulkWrite(uint8_t endpoint, const uint8_t* data, int length, unsigned timeoutMs) override;
  // Returns the oldest pending answer. Nothing pending (or an answer made late by a fault): kTimeout,
  // at once in instant timing, after `timeoutMs` x time scale in realistic timing. A buffer smaller
  // than the answer: kError (overflow) and the answer is dropped. kNoDevice, kError as BulkWrite.
  // A `timeoutMs` of 0 waits for a pending answer without limit and returns at once without one.
  TransferResult BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) override;
  // The writes in flight together: each is taken as BulkWrite takes it (same faults, same
  // firmware), its data reaching the probe one bus packet time after the one before. In realistic
  // timing the call waits one usb_latency_us plus a packet time for every packet after the first,
  // instead of one latency per write.
  int BulkWriteChunks(uint8_t endpoint, const uint8_t* data, int length, int count, unsigned timeoutMs,
                      TransferResult* failed) override;

  // PROBESIM_CONTROL, under the probe's lock. Each returns "" when done, else why not.
  // Places a new board with its flash file at `flashPath` (made erased now when the probe is
  // open, else at its next open) as board number `serial`.
  std::string AttachBoard(const std::string& flashPath, int serial);
  std::string DetachBoard();
  // The probe leaves the bus: an open handle is dead (its transfers fail as with no device), the
  // flash file is let go, unread answers and an unfinished download are dropped. Board and probe
  // keep their state.
  std::string Unplug();
  std::string Plug();
  // The transfer held by the hold_at_transfer fault goes on.
  std::string Release();
  // The current board's flash file ("" without a board or without flash), and of every board this
  // probe has had, for the bench's check that a new board's file is nobody else's.
  std::string BoardFlashPath();
  bool HadFlashFile(const std::string& path);

  // Inspection (tests), under the probe's lock.
  std::vector<PinEvent> PinEventsCopy();
  DownloadSummary LastDownloadCopy();
  const ProbeConfig& config() const { return config_; }
  std::string FlashPath();

 private:
  using Clock = std::chrono::steady_clock;
  struct Pending {
    std::array<uint8_t, 40> bytes;
    uint8_t length;
    bool late;
    Clock::time_point readyAt;
  };
  static constexpr size_t kRing = 64;

  void Answer(const uint8_t* bytes, int length, int key) override;
  // False once unplugged. Waits (the lock let go) at the hold_at_transfer fault's transfer.
  bool CountTransfer(std::unique_lock<std::mutex>& lock);
  void CountBytes(int bytes);
  Clock::duration Scaled(double microseconds) const;
  void WaitUntil(Clock::time_point t) const;

  const ProbeConfig config_;
  const int index_;
  const EventLog& log_;
  std::mutex mutex_;
  std::unique_ptr<Firmware> firmware_;
  int boardSerial_ = 0;                  // 0: the bench file's board
  std::vector<std::string> flashFiles_;  // of every board the probe has had
  bool open_ = false;
  bool unplugged_ = false;               // by its fault
  std::atomic<bool> pluggedOut_{false};  // by PROBESIM_CONTROL
  std::atomic<uint64_t> generation_{0};  // one more at every unplug
  std::string openFailure_;
  int64_t transfers_ = 0;
  bool holding_ = false;
  std::condition_variable released_;
  int64_t bytes_ = 0;
  std::array<Pending, kRing> ring_{};
  size_t head_ = 0;
  size_t count_ = 0;
  Clock::time_point busyUntil_{};
  std::mt19937_64 garble_;
};

}  // namespace probesim
