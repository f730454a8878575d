// SPDX-License-Identifier: MIT
#include "sim_probe.h"

#include <algorithm>
#include <cstring>
#include <thread>

namespace probesim {

SimProbe::SimProbe(ProbeConfig config, int index, const EventLog& log)
    : config_(std::move(config)),
      index_(index),
      log_(log),
      firmware_(std::make_unique<Firmware>(config_, index, log)),
      garble_(config_.seed * 0x9E3779B97F4A7C15ull + static_cast<uint64_t>(index)) {
  unplugged_ = config_.faults.unplugAfterTransfers == 0 || config_.faults.unplugAfterBytes == 0;
  boardSerial_ = config_.board ? 0 : -1;
  if (config_.board && !config_.flashPath.empty()) flashFiles_.push_back(config_.flashPath);
}

std::string SimProbe::AttachBoard(const std::string& flashPath, int serial) {
  std::lock_guard lock(mutex_);
  if (firmware_->boardPresent()) return "it has a board";
  std::string why;
  if (!firmware_->PlaceBoard(flashPath, open_, why)) return why;
  boardSerial_ = serial;
  if (!flashPath.empty()) flashFiles_.push_back(flashPath);
  log_.Board(index_, "attach", serial);
  return "";
}

std::string SimProbe::DetachBoard() {
  std::lock_guard lock(mutex_);
  if (!firmware_->boardPresent()) return "it has no board";
  firmware_->RemoveBoard();
  log_.Board(index_, "detach", boardSerial_);
  boardSerial_ = -1;
  return "";
}

std::string SimProbe::Unplug() {
  std::lock_guard lock(mutex_);
  if (pluggedOut_) return "it is unplugged";
  pluggedOut_ = true;
  generation_.fetch_add(1, std::memory_order_acq_rel);
  if (open_) {
    open_ = false;
    firmware_->OnClose();
  }
  count_ = 0;
  log_.Board(index_, "unplug", -1);
  released_.notify_all();  // a held transfer fails as every other does
  return "";
}

std::string SimProbe::Plug() {
  std::lock_guard lock(mutex_);
  if (!pluggedOut_) return "it is plugged in";
  pluggedOut_ = false;
  log_.Board(index_, "plug", -1);
  return "";
}

std::string SimProbe::BoardFlashPath() {
  std::lock_guard lock(mutex_);
  return firmware_->boardPresent() && config_.FlashSize() > 0 ? firmware_->flashPath() : "";
}

bool SimProbe::HadFlashFile(const std::string& path) {
  std::lock_guard lock(mutex_);
  return std::find(flashFiles_.begin(), flashFiles_.end(), path) != flashFiles_.end() ||
         path == config_.flashPath;
}

std::vector<EndpointInfo> SimProbe::Endpoints() const {
  return {{0x01, EndpointType::kBulk, 64}, {0x82, EndpointType::kBulk, 64}};
}

bool SimProbe::Open() {
  std::lock_guard lock(mutex_);
  openFailure_.clear();
  if (unplugged_ || pluggedOut_) return false;
  if (open_) return true;
  std::string why;
  if (!firmware_->OnOpen(why)) {
    openFailure_ = "probe[" + std::to_string(index_) + "]: " + why;
    return false;
  }
  open_ = true;
  count_ = 0;  // a fresh configuration drops what the IN endpoint still held
  return true;
}

std::string SimProbe::OpenFailure() {
  std::lock_guard lock(mutex_);
  return openFailure_;
}

void SimProbe::Close() {
  std::lock_guard lock(mutex_);
  if (!open_) return;
  open_ = false;
  firmware_->OnClose();
}

SimProbe::Clock::duration SimProbe::Scaled(double microseconds) const {
  return std::chrono::duration_cast<Clock::duration>(
      std::chrono::duration<double, std::micro>(microseconds * config_.timing.scale));
}

void SimProbe::WaitUntil(Clock::time_point t) const {
  if (t > Clock::now()) std::this_thread::sleep_until(t);
}

bool SimProbe::CountTransfer(std::unique_lock<std::mutex>& lock) {
  if (unplugged_) return false;
  ++transfers_;
  const int64_t limit = config_.faults.unplugAfterTransfers;
  if (limit >= 0 && transfers_ > limit) {
    unplugged_ = true;
    open_ = false;
    firmware_->OnClose();  // an unplugged probe lets go of its flash file
    return false;
  }
  if (transfers_ == config_.faults.holdAtTransfer) {
    // The transfer has not begun: a test does what it wants done at this point, then releases it.
    holding_ = true;
    log_.Board(index_, "hold", -1);
    released_.wait(lock, [this] { return !holding_ || pluggedOut_.load(); });
    holding_ = false;
    if (!open_) return false;  // unplugged (or closed) meanwhile
  }
  return true;
}

std::string SimProbe::Release() {
  std::lock_guard lock(mutex_);
  if (!holding_) return "it holds no transfer";
  holding_ = false;
  log_.Board(index_, "release", -1);
  released_.notify_all();
  return "";
}

void SimProbe::CountBytes(int bytes) {
  bytes_ += bytes;
  const int64_t limit = config_.faults.unplugAfterBytes;
  if (limit >= 0 && bytes_ >= limit) unplugged_ = true;
}

void SimProbe::Answer(const uint8_t* bytes, int length, int key) {
  const FaultConfig& f = config_.faults;
  if (f.noAnswer[static_cast<size_t>(key)]) return;
  if (count_ == kRing) {  // a host that never reads: the oldest answer is lost
    head_ = (head_ + 1) % kRing;
    --count_;
  }
  Pending& p = ring_[(head_ + count_) % kRing];
  ++count_;
  p.length = static_cast<uint8_t>(length);
  std::memcpy(p.bytes.data(), bytes, static_cast<size_t>(length));
  if (f.garbledAnswer[static_cast<size_t>(key)]) {
    for (int i = 0; i < length; ++i) p.bytes[static_cast<size_t>(i)] ^= static_cast<uint8_t>(garble_() | 1u);
    // Noise, not a different answer: byte 0 never turns into "Q", 0x60 or an error code.
    if (p.bytes[0] >= 0x51 && p.bytes[0] <= 0x60) p.bytes[0] ^= 0x80;
  }
  p.late = f.lateAnswer[static_cast<size_t>(key)];
  p.readyAt = busyUntil_;
}

TransferResult SimProbe::BulkWrite(uint8_t endpoint, const uint8_t* data, int length,
                                   unsigned /*timeoutMs*/) {
  std::unique_lock lock(mutex_);
  if (!open_ || !CountTransfer(lock)) return {TransferStatus::kNoDevice, 0};
  if (endpoint != 0x01 || length < 0 || (length > 0 && data == nullptr)) return {TransferStatus::kError, 0};
  const bool realistic = config_.timing.realistic;
  Clock::time_point done{};
  if (realistic) {
    const auto now = Clock::now();
    done = now + Scaled(config_.timing.usbLatencyUs);
    if (busyUntil_ < now) busyUntil_ = now;
  }
  double workUs = 0;
  const size_t before = count_;
  firmware_->OnWrite(data, length, *this, workUs);
  if (realistic) {
    busyUntil_ += Scaled(workUs);
    for (size_t i = before; i < count_; ++i) ring_[(head_ + i) % kRing].readyAt = busyUntil_;
  }
  CountBytes(length);
  if (realistic) {
    lock.unlock();
    WaitUntil(done);
  }
  return {TransferStatus::kOk, length};
}

int SimProbe::BulkWriteChunks(uint8_t endpoint, const uint8_t* data, int length, int count,
                              unsigned /*timeoutMs*/, TransferResult* failed) {
  std::unique_lock lock(mutex_);
  const bool realistic = config_.timing.realistic;
  const auto start = Clock::now();
  // Packets per write: the probe's OUT endpoint takes 64 bytes per packet.
  const int packets = std::max(1, (length + 63) / 64);
  const double packetUs = config_.timing.PacketUs();
  int done = 0;
  for (; done < count; ++done) {
    if (!open_ || !CountTransfer(lock)) {
      *failed = {TransferStatus::kNoDevice, 0};
      break;
    }
    if (endpoint != 0x01 || length < 0 || (length > 0 && data == nullptr)) {
      *failed = {TransferStatus::kError, 0};
      break;
    }
    if (realistic) {
      // Programming cannot start before this write's data is on the probe.
      const auto arrived = start + Scaled(packetUs * packets * done);
      if (busyUntil_ < arrived) busyUntil_ = arrived;
    }
    double workUs = 0;
    const size_t before = count_;
    firmware_->OnWrite(data + static_cast<size_t>(done) * static_cast<size_t>(length), length, *this, workUs);
    if (realistic) {
      busyUntil_ += Scaled(workUs);
      for (size_t i = before; i < count_; ++i) ring_[(head_ + i) % kRing].readyAt = busyUntil_;
    }
    CountBytes(length);
  }
  if (realistic && done > 0) {
    const Clock::time_point finished =
        start + Scaled(config_.timing.usbLatencyUs + packetUs * (static_cast<double>(packets) * done - 1));
    lock.unlock();
    WaitUntil(finished);
  }
  return done;
}

TransferResult SimProbe::BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) {
  std::unique_lock lock(mutex_);
  if (!open_ || !CountTransfer(lock)) return {TransferStatus::kNoDevice, 0};
  if (endpoint != 0x82 || length < 0 || (length > 0 && data == nullptr)) return {TransferStatus::kError, 0};
  const bool realistic = config_.timing.realistic;
  const auto now = Clock::now();
  const auto deadline = now + Scaled(timeoutMs * 1000.0);
  auto timeOut = [&]() -> TransferResult {
    if (realistic && timeoutMs > 0) {
      lock.unlock();
      WaitUntil(deadline);
    }
    return {TransferStatus::kTimeout, 0};
  };
  if (count_ == 0) return timeOut();
  Pending& p = ring_[head_];
  if (p.late) {
    p.late = false;  // it arrives after this read has given up; the next read gets it
    return timeOut();
  }
  Clock::time_point readyAt = now;
  if (realistic) {
    readyAt = std::max(p.readyAt, now) + Scaled(config_.timing.usbLatencyUs);
    if (timeoutMs > 0 && readyAt > deadline) return timeOut();
  }
  const int answerLength = p.length;
  if (length < answerLength) {  // the packet overflows the host's buffer
    head_ = (head_ + 1) % kRing;
    --count_;
    return {TransferStatus::kError, 0};
  }
  std::memcpy(data, p.bytes.data(), static_cast<size_t>(answerLength));
  head_ = (head_ + 1) % kRing;
  --count_;
  CountBytes(answerLength);
  if (realistic) {
    lock.unlock();
    WaitUntil(readyAt);
  }
  return {TransferStatus::kOk, answerLength};
}

std::vector<PinEvent> SimProbe::PinEventsCopy() {
  std::lock_guard lock(mutex_);
  return firmware_->pinEvents();
}

DownloadSummary SimProbe::LastDownloadCopy() {
  std::lock_guard lock(mutex_);
  return firmware_->lastDownload();
}

std::string SimProbe::FlashPath() {
  return BoardFlashPath();
}

}  // namespace probesim
