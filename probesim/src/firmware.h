// SPDX-License-Identifier: MIT
// The probe firmware with its target board and flash: takes one OUT transfer at a time, keeps the
// state a real probe and board keep (JTAG resets, EXTEST, boundary records, debug mode, flash
// records, the download exchange) and queues the answers the host then reads.
//
// Not thread-safe: the owning probe calls it under its own lock. Never blocks; the time a real
// probe would spend is returned as modelled work for the probe's timing model.
#pragma once

#include <array>
#include <cstdint>
#include <memory>
#include <unordered_map>
#include <vector>

#include "bench_config.h"
#include "event_log.h"
#include "flash_store.h"
#include "probesim/inspect.h"

namespace probesim {

// Where the firmware puts its answers. `key` is the command code, or kBlockAnswerKey for download
// block responses (the erase response counts as command 0x18).
class AnswerSink {
 public:
  virtual void Answer(const uint8_t* bytes, int length, int key) = 0;

 protected:
  ~AnswerSink() = default;
};

// The board on the probe's target connector.
struct BoardSpec {
  bool present = true;
  std::string flashPath;  // its flash file
  // A board placed while the bench runs: its flash file is made anew, erased, and its TAP is in
  // Test-Logic-Reset as after power-up, so its JTAG ID reads without the two resets.
  bool fresh = false;
};

class Firmware {
 public:
  // With the board the bench file describes (config.board, config.flashPath).
  Firmware(const ProbeConfig& config, int index, const EventLog& log);
  Firmware(const ProbeConfig& config, int index, const EventLog& log, BoardSpec board);

  // One OUT transfer. Adds the modelled time the probe spends on it to `workUs`.
  void OnWrite(const uint8_t* data, int length, AnswerSink& sink, double& workUs);
  // The host opens the probe: the flash file is opened (made when missing) and locked, and a
  // download in progress is dropped (the board keeps its state). False, with `why` naming the
  // flash file and the cause, when the flash file cannot be had; the probe then does not open.
  bool OnOpen(std::string& why);
  // The probe is closed: the flash file is written back, unmapped and unlocked.
  void OnClose();
  // The board is taken off the target connector: its flash file is written back and let go, TDO
  // floats (reads as ones) and the flash no longer answers. A download in progress fails: the
  // rest of its data is taken but not programmed, and the block response reports a program
  // failure at the first byte that was not programmed.
  void RemoveBoard();
  bool boardPresent() const { return board_; }

  const std::vector<PinEvent>& pinEvents() const { return pinEvents_; }
  const std::string& flashPath() const { return store_.path(); }
  DownloadSummary lastDownload() const { return last_; }

 private:
  enum class Extest { kNone, kPlain, kDebug };
  struct Download {
    bool active = false;
    uint64_t start = 0;
    uint64_t size = 0;
    uint64_t received = 0;
    bool verify = false;
    bool stopping = false;
    bool errorPending = false;
    uint8_t errorCode = 0;
    uint64_t errorAddress = 0;
    size_t nextEraseCharge = 0;  // first sector (NOR) or block (NAND) whose erase time is not yet spent
    size_t lastEraseUnit = 0;
  };

  void OnCommand(const uint8_t* d, int n, AnswerSink& sink, double& workUs);
  void OnData(const uint8_t* d, int n, AnswerSink& sink, double& workUs);

  void Ack(AnswerSink& sink, int key) const;
  void FirmwareVersion(AnswerSink& sink) const;
  void BootloaderVersion(AnswerSink& sink) const;
  void JtagId(const uint8_t* param, AnswerSink& sink) const;
  void JtagDr(const uint8_t* bits, int count);
  uint32_t DebugRead(uint32_t address) const;
  void DebugWrite(uint32_t address, uint32_t value);
  void FlashId(const uint8_t* d, AnswerSink& sink) const;
  void DownloadInfo(const uint8_t* d, AnswerSink& sink, double& workUs);
  void ApplyPattern(bool high);

  bool BoundaryReady() const;
  bool FlashAnswers() const;    // the board's flash can be read/driven now
  bool FlashDescribed() const;  // and the probe has what it needs to erase and program it
  bool IsNand() const { return config_.flashKind == FlashKind::kNand; }

  void Program(uint64_t address, const uint8_t* d, uint64_t n, double& workUs);
  void ChargeErase(uint64_t lastAddress, double& workUs);
  void ApplyStuckBits(uint64_t from, uint64_t to);
  void EndDownload(uint8_t code);

  const ProbeConfig& config_;
  const int index_;
  const EventLog& log_;
  bool board_;
  FlashStore store_;
  std::vector<uint64_t> sectorStarts_;  // NOR: sector starts plus the flash size

  int resetStage_ = 0;  // 2: both JTAG resets seen, the target reports its ID
  uint8_t jtagType_ = 0;
  Extest extest_ = Extest::kNone;
  std::array<uint8_t, 645> image_{};
  int imageLength_ = -1;
  std::array<uint8_t, 216> pinMap_{};
  bool havePinMap_ = false;
  std::array<uint8_t, 645> high_{}, low_{};
  int highLength_ = -1, lowLength_ = -1;

  int scanStage_ = 0;  // debug-mode scans seen in order
  bool scansDone_ = false;
  uint32_t flashConfig_ = kFlashConfigResetValue;
  std::unordered_map<uint32_t, uint32_t> debugMemory_;

  std::array<uint8_t, 64> flashInfo_{};
  uint8_t flashInfoType_ = 0;
  std::array<uint8_t, 36> flashCfi_{};
  bool haveCfi_ = false;

  Download dl_;
  DownloadSummary last_{};
  std::vector<PinEvent> pinEvents_;
};

}  // namespace probesim
