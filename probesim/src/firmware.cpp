// SPDX-License-Identifier: MIT
#include "firmware.h"

#include <algorithm>
#include <cstring>

#include "flash_records.h"

namespace probesim {
namespace {

constexpr uint8_t kAck = 'Q';
constexpr uint8_t kFinished = 0x60;
constexpr uint64_t kBlockBytes = 2048;
constexpr char kFirmwareCommandText[] = "USB_JTAGorISP <RUN> <GetFirmwareVersionCmd>";
constexpr char kDownloadText[] = "USBJTAG DownloadCmd";
constexpr char kStopMarker[] = "USBJTAG_Down_STOP";  // sent with its zero byte: 18 bytes
constexpr int kStopMarkerBytes = 18;
// A last chunk shorter than the marker counts as one only from this length on, so that file data
// that happens to start like the marker is not dropped.
constexpr int kShortStopMarkerBytes = 8;
constexpr int kMaxCells = 645;

uint16_t Le16(const uint8_t* p) {
  return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p) {
  return static_cast<uint32_t>(p[0]) | (static_cast<uint32_t>(p[1]) << 8) |
         (static_cast<uint32_t>(p[2]) << 16) | (static_cast<uint32_t>(p[3]) << 24);
}
void PutLe16(uint8_t* p, uint16_t v) {
  p[0] = static_cast<uint8_t>(v);
  p[1] = static_cast<uint8_t>(v >> 8);
}
void PutLe32(uint8_t* p, uint32_t v) {
  for (int i = 0; i < 4; ++i) p[i] = static_cast<uint8_t>(v >> (8 * i));
}

void Answer5(AnswerSink& sink, uint8_t code, uint32_t value, int key) {
  uint8_t a[5] = {code, 0, 0, 0, 0};
  PutLe32(a + 1, value);
  sink.Answer(a, 5, key);
}

// First element of a sorted list in [from, to), or nullptr.
const uint64_t* FirstIn(const std::vector<uint64_t>& sorted, uint64_t from, uint64_t to) {
  auto it = std::lower_bound(sorted.begin(), sorted.end(), from);
  return it != sorted.end() && *it < to ? &*it : nullptr;
}

bool SameCells(const uint8_t* a, int length, const std::vector<uint8_t>& expected) {
  return length == static_cast<int>(expected.size()) && std::equal(expected.begin(), expected.end(), a);
}

// The three data-register scans that put TARVIS and SOLANT into debug mode, in order.
const std::vector<uint8_t> kDebugScans[3] = {{0, 0, 0, 0, 0}, {1, 0, 0, 1, 0, 1}, {0, 0, 0, 1, 1}};

}  // namespace

Firmware::Firmware(const ProbeConfig& config, int index, const EventLog& log)
    : Firmware(config, index, log, BoardSpec{config.board, config.flashPath, false}) {}

Firmware::Firmware(const ProbeConfig& config, int index, const EventLog& log, BoardSpec board)
    : config_(config),
      index_(index),
      log_(log),
      board_(board.present),
      store_(std::move(board.flashPath), config.FlashSize(), board.fresh) {
  if (config_.flashKind == FlashKind::kNor) sectorStarts_ = config_.nor.SectorStarts();
  if (board.fresh) resetStage_ = 2;  // powered up: the TAP is in Test-Logic-Reset, IDCODE selected
}

bool Firmware::OnOpen(std::string& why) {
  if (board_ && config_.flashKind != FlashKind::kNone && !store_.Attach(why)) return false;
  if (dl_.active) EndDownload(0);
  return true;
}

void Firmware::OnClose() {
  store_.Detach();
}

void Firmware::RemoveBoard() {
  if (!board_) return;
  if (dl_.active && !dl_.errorPending && !dl_.stopping) {
    // The probe's program command finds no flash: it reports the first byte it could not program.
    dl_.errorPending = true;
    dl_.errorCode = IsNand() ? 0x58 : 0x55;
    dl_.errorAddress = dl_.start + dl_.received;
  }
  store_.Flush();
  store_.Detach();
  board_ = false;
  resetStage_ = 0;
  extest_ = Extest::kNone;
  scanStage_ = 0;
  scansDone_ = false;
}

void Firmware::OnWrite(const uint8_t* data, int length, AnswerSink& sink, double& workUs) {
  if (dl_.active) {
    OnData(data, length, sink, workUs);
  } else if (length > 0) {
    log_.Command(index_, data[0], length);
    // A command lost on its way to the target: no effect and no answer.
    if (config_.faults.noAnswer[data[0]]) return;
    OnCommand(data, length, sink, workUs);
  }
}

void Firmware::Ack(AnswerSink& sink, int key) const {
  Answer5(sink, kAck, 0, key);
}

// Unknown codes and malformed commands fall through without an answer, as on a real probe.
void Firmware::OnCommand(const uint8_t* d, int n, AnswerSink& sink, double& workUs) {
  const uint8_t code = d[0];
  const int payload = n >= 3 ? Le16(d + 1) : -1;  // length-prefixed commands
  switch (code) {
    case 0x01:
    case 0x02:
      if (n != 5) return;
      // A TAP reset also leaves EXTEST and the debug mode.
      resetStage_ = code == 0x01 ? 1 : (resetStage_ >= 1 ? 2 : resetStage_);
      extest_ = Extest::kNone;
      scanStage_ = 0;
      scansDone_ = false;
      Ack(sink, code);
      return;
    case 0x03:
      if (n != 5) return;
      jtagType_ = d[1];
      Ack(sink, code);
      return;
    case 0x04:
      if (n != 5) return;
      if (d[1] == 0 && d[2] == 0 && d[3] == 0 && d[4] == 0) {
        extest_ = Extest::kPlain;
      } else if (d[1] == 1 && d[2] == 0 && d[3] == 0 && d[4] == 1) {
        extest_ = Extest::kDebug;
      } else {
        return;
      }
      Ack(sink, code);
      return;
    case 0x05:
      if (n < 3 || payload != n - 3 || payload > 64) return;
      for (int i = 0; i < payload; ++i) {
        if (d[3 + i] > 1) return;
      }
      JtagDr(d + 3, payload);
      Ack(sink, code);
      return;
    case 0x06:
      if (n != 5) return;
      Answer5(sink, kAck, DebugRead(Le32(d + 1)), code);
      return;
    case 0x07:
      if (n != 9) return;
      DebugWrite(Le32(d + 1), Le32(d + 5));
      Ack(sink, code);
      return;
    case 0x08:
      if (n != 1 || !config_.bootloader) return;
      BootloaderVersion(sink);
      return;
    case 0x11:
      if (n != 5) return;
      JtagId(d + 1, sink);
      return;
    case 0x12:
      if (n < 3 || payload != n - 3 || payload > kMaxCells) return;
      std::memcpy(image_.data(), d + 3, static_cast<size_t>(payload));
      imageLength_ = payload;
      Ack(sink, code);
      return;
    case 0x13:
      if (n != 219 || payload != 216) return;
      std::memcpy(pinMap_.data(), d + 3, 216);
      havePinMap_ = true;
      Ack(sink, code);
      return;
    case 0x14:
      if (n != 5) return;
      FlashId(d, sink);
      return;
    case 0x15:
      if (n != 68 || (d[1] != 0x21 && d[1] != 0x22) || Le16(d + 2) != 64) return;
      std::memcpy(flashInfo_.data(), d + 4, 64);
      flashInfoType_ = d[1];
      haveCfi_ = false;  // a new flash description needs its layout again
      Ack(sink, code);
      return;
    case 0x16:
      if (n != 40 || (d[1] != 0x21 && d[1] != 0x22) || Le16(d + 2) != 36) return;
      std::memcpy(flashCfi_.data(), d + 4, 36);
      haveCfi_ = d[1] == 0x22;
      Ack(sink, code);
      return;
    case 0x18:
      if (n != 36 || d[1] != 'A' || (d[2] != 0x21 && d[2] != 0x22) || d[15] > 1 ||
          std::memcmp(d + 16, kDownloadText, sizeof kDownloadText) != 0) {
        return;
      }
      DownloadInfo(d, sink, workUs);
      return;
    case 0x20:
    case 0x21: {
      if (n < 3 || payload != n - 3 || payload > kMaxCells) return;
      auto& pattern = code == 0x20 ? high_ : low_;
      std::memcpy(pattern.data(), d + 3, static_cast<size_t>(payload));
      (code == 0x20 ? highLength_ : lowLength_) = payload;
      Ack(sink, code);
      return;
    }
    case 0x22:
    case 0x23:
      if (n != 1) return;
      ApplyPattern(code == 0x22);
      Ack(sink, code);
      return;
    case 0x98:
      if (n != 45 || std::memcmp(d + 1, kFirmwareCommandText, sizeof kFirmwareCommandText) != 0) return;
      FirmwareVersion(sink);
      return;
    default:
      return;
  }
}

void Firmware::FirmwareVersion(AnswerSink& sink) const {
  uint8_t a[22] = {};
  std::memcpy(a, "ZOLT USB JTAG Ver", 17);
  if (config_.faults.firmwarePrefix) {
    std::memset(a, ' ', 13);
    std::memcpy(a, config_.faults.firmwarePrefix->data(),
                std::min<size_t>(13, config_.faults.firmwarePrefix->size()));
  }
  std::memcpy(a + 17, config_.firmware.data(), std::min<size_t>(5, config_.firmware.size()));
  sink.Answer(a, 22, 0x98);
}

void Firmware::BootloaderVersion(AnswerSink& sink) const {
  uint8_t a[33] = {};
  std::memcpy(a, "ZOLT USB_ISP Bootloader Ver ", 28);
  if (config_.faults.bootloaderPrefix) {
    std::memset(a, ' ', 27);
    std::memcpy(a, config_.faults.bootloaderPrefix->data(),
                std::min<size_t>(27, config_.faults.bootloaderPrefix->size()));
  }
  std::memcpy(a + 28, config_.bootloader->data(), std::min<size_t>(5, config_.bootloader->size()));
  sink.Answer(a, 33, 0x08);
}

void Firmware::JtagId(const uint8_t* param, AnswerSink& sink) const {
  uint32_t id = 0;
  if (!board_) {
    id = 0xFFFFFFFFu;  // no target: the probe's TDO input is pulled up
  } else if (resetStage_ == 2) {
    // Parameters for another chain position scan past the target: TDO reads all ones.
    id = std::equal(param, param + 4, config_.jtagParam.begin()) ? config_.jtagId : 0xFFFFFFFFu;
  }
  uint8_t a[32];
  for (int k = 0; k < 32; ++k) a[k] = static_cast<uint8_t>((id >> k) & 1u);
  sink.Answer(a, 32, 0x11);
}

void Firmware::JtagDr(const uint8_t* bits, int count) {
  const auto matches = [&](int stage) {
    return static_cast<size_t>(count) == kDebugScans[stage].size() &&
           std::equal(bits, bits + count, kDebugScans[stage].begin());
  };
  if (scanStage_ < 3 && matches(scanStage_)) {
    ++scanStage_;
  } else {
    scanStage_ = matches(0) ? 1 : 0;
  }
  if (scanStage_ == 3) {
    // Debug mode, once entered, lasts until the next TAP reset.
    const bool debugProduct = Model(config_.product).norByDebug;
    const bool extestOk =
        config_.product == Product::kTarvis ? extest_ == Extest::kDebug : extest_ != Extest::kNone;
    scansDone_ = scansDone_ || (board_ && debugProduct && jtagType_ == 1 && extestOk);
    scanStage_ = 0;
  }
}

uint32_t Firmware::DebugRead(uint32_t address) const {
  if (!scansDone_) return 0;
  const ProductModel& m = Model(config_.product);
  if (config_.product == Product::kSolant && address == kSolantSwitchRegister) {
    return config_.faults.debugSwitch ? kSolantSwitchBit : 0;
  }
  if (config_.faults.debugSwitch) return 0;
  if (address == m.flashConfigAddress) return flashConfig_;
  auto it = debugMemory_.find(address);
  return it == debugMemory_.end() ? 0 : it->second;
}

void Firmware::DebugWrite(uint32_t address, uint32_t value) {
  if (!scansDone_ || config_.faults.debugSwitch) return;
  const ProductModel& m = Model(config_.product);
  if (address == m.flashConfigAddress) {
    if (!config_.faults.configIgnoresWrites) flashConfig_ = value;
  } else if (address != kSolantSwitchRegister && debugMemory_.size() < 4096) {
    debugMemory_[address] = value;
  }
}

bool Firmware::BoundaryReady() const {
  const ProductModel& m = Model(config_.product);
  if (!board_ || jtagType_ != 0 || extest_ != Extest::kPlain || !havePinMap_ ||
      !SameCells(image_.data(), imageLength_, m.image)) {
    return false;
  }
  if (IsNand()) return PinMapHolds(pinMap_, NandPinMap(config_.product));
  const int busWidth = config_.nor.width * config_.nor.interleave;
  return PinMapHolds(pinMap_, NorPinMap(config_.product, busWidth, config_.chipSelect));
}

bool Firmware::FlashAnswers() const {
  if (!board_) return false;
  const ProductModel& m = Model(config_.product);
  switch (config_.flashKind) {
    case FlashKind::kNand:
      return m.nandByBoundary && BoundaryReady();
    case FlashKind::kNor: {
      const bool reached = m.norByBoundary ? BoundaryReady()
                                           : m.norByDebug && scansDone_ && !config_.faults.debugSwitch &&
                                                 flashConfig_ == m.flashConfigValue;
      return reached && flashInfoType_ == 0x22 &&
             NorInfoDescribes(flashInfo_, config_.nor, config_.chipSelect);
    }
    default:
      return false;
  }
}

bool Firmware::FlashDescribed() const {
  if (!FlashAnswers()) return false;
  if (IsNand()) return flashInfoType_ == 0x21 && NandInfoDescribes(flashInfo_, *config_.nand);
  return haveCfi_ && JudgeFlashCfi(flashCfi_, config_.nor) != CfiVerdict::kWrong;
}

void Firmware::FlashId(const uint8_t* d, AnswerSink& sink) const {
  uint8_t a[8] = {};
  bool asked = false;
  if (config_.flashKind == FlashKind::kNand) {
    asked = d[1] == 0x21;
  } else if (config_.flashKind == FlashKind::kNor) {
    asked = d[1] == 0x22 && d[3] == config_.nor.width && d[4] == config_.nor.interleave;
  }
  // A NAND answers its ID before the probe has its description; a NOR only once the probe knows
  // its command set (FlashInfo), which FlashAnswers checks.
  const bool answers =
      asked && (IsNand() ? Model(config_.product).nandByBoundary && BoundaryReady() : FlashAnswers());
  if (answers && IsNand()) {
    PutLe16(a + 0, config_.nand->maker);
    PutLe16(a + 2, config_.nand->device);
    PutLe16(a + 4, config_.nand->third);
    PutLe16(a + 6, config_.nand->fourth);
  } else if (answers) {
    PutLe16(a + 0, config_.nor.MakerWord());
    PutLe16(a + 2, config_.nor.DeviceWord());
    PutLe16(a + 4, config_.nor.ThirdWord());
    PutLe16(a + 6, config_.nor.FourthWord());
  }
  sink.Answer(a, 8, 0x14);
}

void Firmware::ApplyPattern(bool high) {
  const ProductModel& m = Model(config_.product);
  const int length = high ? highLength_ : lowLength_;
  const uint8_t* cells = high ? high_.data() : low_.data();
  const bool driven = board_ && extest_ == Extest::kPlain && m.cellCount > 0 && imageLength_ == m.cellCount &&
                      length == m.cellCount;
  const auto& own = high ? m.highPattern : m.lowPattern;
  const bool productPattern = driven && SameCells(cells, length, own);
  const uint64_t t = MonotonicMicros();
  if (pinEvents_.size() < 1000000) pinEvents_.push_back({t, high, driven, productPattern});
  if (driven) log_.Apply(index_, high);
}

void Firmware::DownloadInfo(const uint8_t* d, AnswerSink& sink, double& workUs) {
  const uint8_t eraseError = IsNand() ? 0x57 : 0x52;
  const uint8_t type = d[2];
  const uint32_t norOffset = Le32(d + 3);
  const uint32_t block = Le32(d + 7);
  const uint64_t size = Le32(d + 11);
  last_ = {false, 0, size, 0, 0};

  const bool typeMatches = (type == 0x21) == IsNand() && config_.flashKind != FlashKind::kNone;
  if (!typeMatches || !FlashDescribed()) {
    Answer5(sink, type == 0x21 ? 0x57 : 0x52, 0, 0x18);
    return;
  }
  const uint64_t flashSize = config_.FlashSize();
  uint64_t start;
  if (IsNand()) {
    start = uint64_t{block} * config_.nand->block;
  } else {
    if (norOffset / kRegionSize != static_cast<uint32_t>(config_.chipSelect)) {
      Answer5(sink, 0x54, norOffset, 0x18);
      return;
    }
    start = (norOffset % kRegionSize) + uint64_t{block} * config_.nor.EraseBlock();
  }
  if (start > flashSize || (start == flashSize && size > 0) || start + size > flashSize) {
    Answer5(sink, 0x54, static_cast<uint32_t>(start), 0x18);
    return;
  }
  size_t firstUnit = 0;
  size_t lastUnit = 0;
  if (IsNand()) {
    firstUnit = static_cast<size_t>(start / config_.nand->block);
    lastUnit = size == 0 ? firstUnit : static_cast<size_t>((start + size - 1) / config_.nand->block);
  } else {
    auto it = std::lower_bound(sectorStarts_.begin(), sectorStarts_.end() - 1, start);
    if (it == sectorStarts_.end() - 1 || *it != start) {
      if (size > 0 || start != flashSize) {
        Answer5(sink, 0x53, static_cast<uint32_t>(start), 0x18);
        return;
      }
    }
    firstUnit = static_cast<size_t>(it - sectorStarts_.begin());
    lastUnit = firstUnit;
    if (size > 0) {
      auto end = std::upper_bound(sectorStarts_.begin(), sectorStarts_.end(), start + size - 1);
      lastUnit = static_cast<size_t>(end - sectorStarts_.begin()) - 1;
    }
  }
  if (size > 0) {
    if (!store_.attached()) {  // the probe is open, so this does not happen
      Answer5(sink, eraseError, static_cast<uint32_t>(start), 0x18);
      return;
    }
    for (size_t u = firstUnit; u <= lastUnit; ++u) {
      uint64_t from, to;
      bool bad;
      if (IsNand()) {
        from = uint64_t{u} * config_.nand->block;
        to = from + config_.nand->block;
        bad = std::find(config_.faults.badBlocks.begin(), config_.faults.badBlocks.end(), u) !=
              config_.faults.badBlocks.end();
      } else {
        from = sectorStarts_[u];
        to = sectorStarts_[u + 1];
        bad = std::any_of(config_.faults.badSectors.begin(), config_.faults.badSectors.end(),
                          [&](uint64_t a) { return a >= from && a < to; });
      }
      if (bad) {
        Answer5(sink, eraseError, static_cast<uint32_t>(from), 0x18);
        return;
      }
      std::memset(store_.data() + from, 0xFF, to - from);
      ApplyStuckBits(from, to);
    }
  }
  dl_ = Download{};
  dl_.active = true;
  dl_.start = start;
  dl_.size = size;
  dl_.verify = d[15] == 1;
  dl_.nextEraseCharge = firstUnit;
  dl_.lastEraseUnit = lastUnit;
  last_.announced = true;
  last_.start = start;
  if (size > 0) ChargeErase(start, workUs);  // the first sector is erased before the answer
  Ack(sink, 0x18);
}

void Firmware::ChargeErase(uint64_t lastAddress, double& workUs) {
  if (!config_.timing.realistic) return;
  const size_t unit =
      IsNand()
          ? static_cast<size_t>(lastAddress / config_.nand->block)
          : static_cast<size_t>(std::upper_bound(sectorStarts_.begin(), sectorStarts_.end(), lastAddress) -
                                sectorStarts_.begin()) -
                1;
  const double each = IsNand() ? kNandBlockEraseUs : config_.nor.part->sectorEraseUs;
  while (dl_.nextEraseCharge <= unit && dl_.nextEraseCharge <= dl_.lastEraseUnit) {
    workUs += each;
    ++dl_.nextEraseCharge;
  }
}

void Firmware::ApplyStuckBits(uint64_t from, uint64_t to) {
  const auto& stuck = config_.faults.stuckBits;
  if (stuck.empty()) return;
  auto it = std::lower_bound(stuck.begin(), stuck.end(), from,
                             [](const StuckBit& s, uint64_t a) { return s.address < a; });
  for (; it != stuck.end() && it->address < to; ++it) {
    uint8_t& b = store_.data()[it->address];
    b = it->value ? static_cast<uint8_t>(b | it->mask) : static_cast<uint8_t>(b & ~it->mask);
  }
}

void Firmware::Program(uint64_t address, const uint8_t* d, uint64_t n, double& workUs) {
  const FaultConfig& f = config_.faults;
  if (!store_.attached()) {  // no board (or its flash file let go): nothing can be programmed
    dl_.errorPending = true;
    dl_.errorCode = IsNand() ? 0x58 : 0x55;
    dl_.errorAddress = address;
    return;
  }
  uint64_t programmed = n;
  if (!f.programFail.empty()) {
    if (const uint64_t* bad = FirstIn(f.programFail, address, address + n)) {
      programmed = *bad - address;
      dl_.errorPending = true;
      dl_.errorCode = IsNand() ? 0x58 : 0x55;
      dl_.errorAddress = *bad;
    }
  }
  uint8_t* flash = store_.data() + address;
  for (uint64_t i = 0; i < programmed; ++i) flash[i] &= d[i];  // programming only clears bits
  ApplyStuckBits(address, address + programmed);

  if (config_.timing.realistic && programmed > 0) {
    ChargeErase(address + programmed - 1, workUs);
    if (IsNand()) {
      const uint64_t page = config_.nand->page;
      workUs += static_cast<double>((address + programmed) / page - address / page) * kNandPageProgramUs;
    } else {
      const uint64_t unit = static_cast<uint64_t>(config_.nor.BusBytes());
      workUs += static_cast<double>((programmed + unit - 1) / unit) * config_.nor.part->programUs;
    }
  }
  if (!dl_.verify || dl_.errorPending) return;
  uint64_t firstBad = programmed;
  uint8_t code = 0;
  for (uint64_t i = 0; i < programmed; ++i) {
    if (flash[i] != d[i]) {
      firstBad = i;
      code = 0x56;
      break;
    }
  }
  if (!f.readFault.empty()) {
    if (const uint64_t* bad = FirstIn(f.readFault, address, address + firstBad + (code ? 1 : 0))) {
      firstBad = *bad - address;
      code = 0x59;
    }
  }
  if (code != 0) {
    dl_.errorPending = true;
    dl_.errorCode = code;
    dl_.errorAddress = address + firstBad;
  }
}

void Firmware::OnData(const uint8_t* d, int n, AnswerSink& sink, double& workUs) {
  const uint64_t length = static_cast<uint64_t>(n);
  bool marker = false;
  if (dl_.received % kBlockBytes == 0 && n > 0) {
    const int compared = std::min(n, kStopMarkerBytes);
    const bool lastChunk = dl_.received + length >= dl_.size;
    marker = std::memcmp(d, kStopMarker, static_cast<size_t>(compared)) == 0 &&
             (n >= kStopMarkerBytes || (lastChunk && n >= kShortStopMarkerBytes));
    if (marker) dl_.stopping = true;
  }
  log_.Data(index_, n, marker);

  if (dl_.size == 0) {  // an empty file ends with its (empty) only chunk
    EndDownload(kFinished);
    Answer5(sink, kFinished, 0, kBlockAnswerKey);
    return;
  }
  uint64_t pos = 0;
  while (pos < length && dl_.active) {
    const uint64_t inBlock = kBlockBytes - dl_.received % kBlockBytes;
    const uint64_t segment = std::min({length - pos, inBlock, dl_.size - dl_.received});
    if (!dl_.stopping && !dl_.errorPending) Program(dl_.start + dl_.received, d + pos, segment, workUs);
    dl_.received += segment;
    pos += segment;
    last_.received = dl_.received;
    if (dl_.received % kBlockBytes != 0 && dl_.received != dl_.size) continue;
    if (dl_.errorPending) {
      const uint8_t code = dl_.errorCode;
      const uint64_t address = dl_.errorAddress;
      EndDownload(code);
      Answer5(sink, code, static_cast<uint32_t>(address), kBlockAnswerKey);
    } else if (dl_.stopping || dl_.received == dl_.size) {
      EndDownload(kFinished);
      Answer5(sink, kFinished, 0, kBlockAnswerKey);
    } else {
      Answer5(sink, kAck, 0, kBlockAnswerKey);
    }
  }
}

void Firmware::EndDownload(uint8_t code) {
  dl_.active = false;
  last_.endCode = code;
  store_.Flush();
}

}  // namespace probesim
