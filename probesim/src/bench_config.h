// SPDX-License-Identifier: MIT
// A bench as its file describes it, after checking: what LoadBench hands to the probes.
#pragma once

#include <array>
#include <bitset>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "flash_parts.h"
#include "targets.h"

namespace probesim {

// Index of the download block responses in the per-code fault sets.
inline constexpr int kBlockAnswerKey = 256;
using AnswerKeySet = std::bitset<257>;

// The bus that transfers in flight together share (realistic timing): full speed carries 19
// packets of 64 bytes per 1 ms frame, high speed 13 per 125 us microframe. kAuto: full speed
// when usbLatencyUs is 1000 or more, else high speed.
enum class BusSpeed { kAuto, kFull, kHigh };

struct TimingConfig {
  bool realistic = false;
  double scale = 1.0;
  uint32_t usbLatencyUs = 1000;
  BusSpeed bus = BusSpeed::kAuto;

  bool HighSpeed() const { return bus == BusSpeed::kHigh || (bus == BusSpeed::kAuto && usbLatencyUs < 1000); }
  // Microseconds one 64-byte packet takes on the bus when packets follow each other closely.
  double PacketUs() const { return HighSpeed() ? 125.0 / 13.0 : 1000.0 / 19.0; }
};

struct StuckBit {
  uint64_t address;
  uint8_t mask;
  uint8_t value;  // 0 or 1: the level the masked bits stay at
};

struct FaultConfig {
  int64_t unplugAfterTransfers = -1;  // -1: never
  int64_t unplugAfterBytes = -1;
  int64_t holdAtTransfer = -1;  // -1: never; else that transfer waits for `release` (PROBESIM_CONTROL)
  AnswerKeySet noAnswer;
  AnswerKeySet lateAnswer;
  AnswerKeySet garbledAnswer;
  std::optional<std::string> firmwarePrefix;
  std::optional<std::string> bootloaderPrefix;
  std::vector<uint64_t> badSectors;   // NOR flash offsets
  std::vector<uint64_t> badBlocks;    // NAND block numbers
  std::vector<uint64_t> programFail;  // flash offsets, sorted
  std::vector<StuckBit> stuckBits;    // sorted by address
  std::vector<uint64_t> readFault;    // flash offsets, sorted
  bool debugSwitch = false;
  bool configIgnoresWrites = false;
};

enum class FlashKind { kNone, kNor, kNand };

struct ProbeConfig {
  std::string name;
  std::string firmware = " 2.12";
  std::optional<std::string> bootloader = " 2.20";
  uint16_t productId = 0x16;
  bool visiblePrimary = true;
  bool visibleLibusb0 = true;
  Product product = Product::kCustom;
  uint32_t jtagId = 0;
  std::array<uint8_t, 4> jtagParam{0, 1, 0, 1};
  FlashKind flashKind = FlashKind::kNone;
  NorBoard nor;
  const NandPart* nand = nullptr;
  int chipSelect = 0;
  std::string flashPath;  // absolute: the flash file of the board the bench starts with
  bool board = true;      // false: the probe starts with no board (PROBESIM_CONTROL attaches one)
  TimingConfig timing;
  FaultConfig faults;
  uint64_t seed = 1;

  uint64_t FlashSize() const {
    return flashKind == FlashKind::kNor ? nor.Size() : flashKind == FlashKind::kNand ? nand->size : 0;
  }
};

struct BenchConfig {
  std::vector<ProbeConfig> probes;
};

}  // namespace probesim
