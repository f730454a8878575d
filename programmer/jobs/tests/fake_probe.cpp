// SPDX-License-Identifier: MIT
#include "fake_probe.h"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace zolt::testing {

FakeBench& FakeBench::Get() {
  static FakeBench bench;
  return bench;
}

void FakeBench::Reset() {
  std::lock_guard lock(mutex_);
  for (Probe& p : probes_) p = Probe{};
  clock_ = nullptr;
  hook_ = nullptr;
  dataHook_ = nullptr;
  chunkCalls_.clear();
}

void FakeBench::Configure(int device, const FakeProbeConfig& config) {
  std::lock_guard lock(mutex_);
  probes_.at(device).config = config;
}

void FakeBench::SetClock(FakeClock* clock) {
  std::lock_guard lock(mutex_);
  clock_ = clock;
}

void FakeBench::OnCommand(std::function<void(int, uint8_t)> hook) {
  std::lock_guard lock(mutex_);
  hook_ = std::move(hook);
}

void FakeBench::OnData(std::function<void(int, int)> hook) {
  std::lock_guard lock(mutex_);
  dataHook_ = std::move(hook);
}

std::vector<int> FakeBench::ChunkCalls() const {
  std::lock_guard lock(mutex_);
  return chunkCalls_;
}

std::vector<FakeEvent> FakeBench::Events(int device) const {
  std::lock_guard lock(mutex_);
  return probes_.at(device).events;
}

std::vector<std::string> FakeBench::Commands(int device) const {
  std::vector<std::string> out;
  for (const FakeEvent& e : Events(device)) out.push_back(e.text);
  return out;
}

std::vector<FakeFile> FakeBench::Files(int device) const {
  std::lock_guard lock(mutex_);
  return probes_.at(device).files;
}

bool FakeBench::IsOpen(int device) const {
  std::lock_guard lock(mutex_);
  return probes_.at(device).open;
}

int FakeBench::OpenCount(int device) const {
  std::lock_guard lock(mutex_);
  return probes_.at(device).openCount;
}

int FakeBench::Open(int productId, int device) {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= 16 || productId != kProbeProductId) return 0;
  Probe& p = probes_[device];
  if (!p.config.present) return 0;
  p.open = true;
  ++p.openCount;
  p.hasPending = false;
  p.downloading = false;
  return 1;
}

void FakeBench::Close(int device) {
  std::lock_guard lock(mutex_);
  if (device >= 0 && device < 16) probes_[device].open = false;
}

void FakeBench::Respond(Probe& p, std::vector<uint8_t> bytes) {
  p.pending = std::move(bytes);
  p.hasPending = true;
  p.pendingIsBlock = p.downloading;
}

int FakeBench::Write(int device, const uint8_t* buffer, int length, int* transferred) {
  int ignored = 0;
  if (transferred == nullptr) transferred = &ignored;
  *transferred = 0;
  std::function<void(int, uint8_t)> hook;
  uint8_t code = 0;
  {
    std::unique_lock lock(mutex_);
    if (device < 0 || device >= 16 || !probes_[device].open) return 0;
    Probe& p = probes_[device];
    if (p.downloading) {
      const int result = TakeData(p, buffer, length, transferred);
      const int chunk = p.dataChunks;
      std::function<void(int, int)> dataHook = dataHook_;
      lock.unlock();
      if (dataHook) dataHook(device, chunk);
      return result;
    }
    code = length > 0 ? buffer[0] : 0;
    if (p.config.failWriteCode != 0 && code == p.config.failWriteCode) return 0;
    TakeCommand(p, device, buffer, length);
    hook = hook_;
  }
  *transferred = length;
  if (hook) hook(device, code);
  return 1;
}

int FakeBench::WriteChunks(int device, const uint8_t* buffer, int length, int count, int* completed,
                           int* failedResult, int* failedTransferred) {
  {
    std::lock_guard lock(mutex_);
    chunkCalls_.push_back(count);
  }
  for (int i = 0; i < count; ++i) {
    int transferred = 0;
    const int result =
        Write(device, buffer + static_cast<size_t>(i) * static_cast<size_t>(length), length, &transferred);
    if (result == 0 || transferred != length) {
      *completed = i;
      *failedResult = result;
      *failedTransferred = transferred;
      return 0;
    }
  }
  return 1;
}

int FakeBench::Read(int device, uint8_t* buffer, int length) {
  std::lock_guard lock(mutex_);
  if (device < 0 || device >= 16 || !probes_[device].open) return 0;
  Probe& p = probes_[device];
  if (!p.hasPending) return 0;
  p.hasPending = false;
  if (p.pendingIsBlock) p.events.push_back({"block", clock_ != nullptr ? clock_->Peek() : 0, {}});
  std::memcpy(buffer, p.pending.data(), std::min<size_t>(static_cast<size_t>(length), p.pending.size()));
  return 1;
}

void FakeBench::TakeCommand(Probe& p, int device, const uint8_t* buffer, int length) {
  (void)device;
  const uint8_t code = buffer[0];
  // Hang guard: a job that never stops (a test whose STOP went missing) ends the test program
  // instead of filling the memory.
  if (p.events.size() > 200000) {
    std::fprintf(stderr, "fake probe: more than 200000 commands, a job does not stop\n");
    std::abort();
  }
  char text[16];
  std::snprintf(text, sizeof text, "cmd=0x%02x", code);
  p.events.push_back({text, clock_ != nullptr ? clock_->Peek() : 0, {buffer, buffer + length}});
  if (p.config.failReadCode != 0 && code == p.config.failReadCode) return;
  std::vector<uint8_t> ack(5, 0);
  ack[0] = (p.config.nakCode != 0 && code == p.config.nakCode) ? 0x00 : 0x51;
  switch (code) {
    case 0x98: {
      std::string reply = p.config.firmwarePrefix;
      reply.resize(17, ' ');
      reply += p.config.firmware;
      reply.resize(22, '\0');
      Respond(p, {reply.begin(), reply.end()});
      return;
    }
    case 0x08: {
      std::string reply =
          p.config.bootloader.empty() ? std::string("NOT A BOOTLOADER") : "ZOLT USB_ISP Bootloader Ver ";
      reply += p.config.bootloader;
      reply.resize(33, '\0');
      Respond(p, {reply.begin(), reply.end()});
      return;
    }
    case 0x11: {
      std::vector<uint8_t> bits(32);
      for (int i = 0; i < 32; ++i) bits[i] = (p.config.jtagId >> i) & 1u;
      Respond(p, bits);
      return;
    }
    case 0x06: {  // debug bus read: answer what ConfigDebugMode wrote (TARVIS 0x5550, SOLANT 0x2220)
      uint32_t address =
          buffer[1] | buffer[2] << 8 | buffer[3] << 16 | static_cast<uint32_t>(buffer[4]) << 24;
      uint32_t word = address == 0x80000410 ? 0x5550 : address == 0x80000400 ? 0x2220 : 0;
      std::vector<uint8_t> reply{0x51, uint8_t(word), uint8_t(word >> 8), uint8_t(word >> 16),
                                 uint8_t(word >> 24)};
      Respond(p, reply);
      return;
    }
    case 0x14: {
      std::vector<uint8_t> reply(8);
      for (int i = 0; i < 4; ++i) {
        reply[2 * i] = static_cast<uint8_t>(p.config.flashId[i]);
        reply[2 * i + 1] = static_cast<uint8_t>(p.config.flashId[i] >> 8);
      }
      Respond(p, reply);
      return;
    }
    case 0x18: {
      FakeFile file;
      std::memcpy(file.dataInfo.data(), buffer, std::min<size_t>(36, static_cast<size_t>(length)));
      p.files.push_back(file);
      if (!p.config.answerErase) return;
      std::vector<uint8_t> reply{p.config.eraseResponse, p.config.eraseAddress[0], p.config.eraseAddress[1],
                                 p.config.eraseAddress[2], p.config.eraseAddress[3]};
      Respond(p, reply);
      if (p.config.eraseResponse == 0x51) {
        p.downloading = true;
        p.fileSize =
            buffer[11] | buffer[12] << 8 | buffer[13] << 16 | static_cast<uint32_t>(buffer[14]) << 24;
        p.received = 0;
        p.blockNumber = 0;
        p.dataChunks = 0;
        p.stopInBlock = false;
      }
      return;
    }
    default:
      Respond(p, ack);
      return;
  }
}

int FakeBench::TakeData(Probe& p, const uint8_t* buffer, int length, int* transferred) {
  static constexpr char kMarker[] = "USBJTAG_Down_STOP";
  ++p.dataChunks;
  const auto fault = p.config.dataFaults.find(p.dataChunks);
  const bool faulty = fault != p.config.dataFaults.end();
  const int taken = faulty ? std::clamp(fault->second.taken, 0, length) : length;
  const int result = faulty ? fault->second.result : 1;
  *transferred = taken;
  const bool blockStart = p.received % 2048 == 0;
  const size_t compare = std::min<size_t>(18, static_cast<size_t>(length));
  const bool stop = blockStart && length > 0 && std::memcmp(buffer, kMarker, compare) == 0;
  // A chunk that never arrived leaves the probe where it was.
  const bool lost = faulty && taken == 0;
  if (blockStart && !lost) p.stopInBlock = stop;
  p.events.push_back({"data " + std::to_string(length) + (stop ? " stop" : "") + (faulty ? " fault" : ""),
                      clock_ != nullptr ? clock_->Peek() : 0,
                      {buffer, buffer + length}});
  p.files.back().bytes.insert(p.files.back().bytes.end(), buffer, buffer + taken);
  if (lost) return result;
  p.received += static_cast<uint32_t>(taken);
  const bool complete = p.received >= p.fileSize;
  if (p.received % 2048 != 0 && !complete) return result;
  ++p.blockNumber;
  std::array<uint8_t, 5> reply{0x51, 0, 0, 0, 0};
  if (complete || (p.stopInBlock && p.config.honourStop)) reply[0] = 0x60;
  if (auto it = p.config.blockResponses.find(p.blockNumber); it != p.config.blockResponses.end())
    reply = it->second;
  if (reply[0] == 0) {
    p.downloading = false;
    return result;
  }
  Respond(p, {reply.begin(), reply.end()});
  if (reply[0] != 0x51) p.downloading = false;
  return result;
}

ProbeLink FakeBench::Link() {
  ProbeLink link;
  link.OpenDevice = [](int productId, int device) { return Get().Open(productId, device); };
  link.Write = [](int device, unsigned char* buffer, int length, int* transferred, int) {
    return Get().Write(device, buffer, length, transferred);
  };
  link.Read = [](int device, unsigned char* buffer, int length, int* transferred, int) {
    const int ok = Get().Read(device, buffer, length);
    *transferred = ok ? length : 0;
    return ok;
  };
  link.Close = [](int device) { Get().Close(device); };
  return link;
}

ProbeLink FakeBench::ChunkLink() {
  ProbeLink link = Link();
  link.WriteChunks = [](int device, unsigned char* buffer, int length, int count, int, int* completed,
                        int* failedResult, int* failedTransferred) {
    return Get().WriteChunks(device, buffer, length, count, completed, failedResult, failedTransferred);
  };
  return link;
}

}  // namespace zolt::testing

extern "C" {
__attribute__((visibility("default"))) int OpenDevice(int productId, int deviceIndex) {
  return zolt::testing::FakeBench::Get().Open(productId, deviceIndex);
}
__attribute__((visibility("default"))) int Write(int deviceIndex, unsigned char* buffer, int length,
                                                 int* transferred, int timeoutMs) {
  return zolt::testing::FakeBench::Link().Write(deviceIndex, buffer, length, transferred, timeoutMs);
}
__attribute__((visibility("default"))) int Read(int deviceIndex, unsigned char* buffer, int length,
                                                int* transferred, int timeoutMs) {
  return zolt::testing::FakeBench::Link().Read(deviceIndex, buffer, length, transferred, timeoutMs);
}
__attribute__((visibility("default"))) void Close(int deviceIndex) {
  zolt::testing::FakeBench::Get().Close(deviceIndex);
}
}
