// SPDX-License-Identifier: MIT
// A test's side of the USB link: writes commands to a bench probe and reads its answers, with
// command bytes built here from the protocol's layouts (independent of programmer/).
#pragma once

#include <gtest/gtest.h>
#include <unistd.h>

#include <array>
#include <cstdint>
#include <filesystem>
#include <fstream>
#include <initializer_list>
#include <optional>
#include <string>
#include <vector>

#include "probesim/bench.h"
#include "probesim/inspect.h"
#include "targets.h"
#include "testing/scratch_dir.h"

namespace probesim::test {

using Bytes = std::vector<uint8_t>;

// A scratch folder for flash files, removed afterwards.
using zolt::testing::ScratchDir;

inline std::unique_ptr<Bench> MustLoad(const std::string& toml, const std::string& dir) {
  auto result = LoadBenchFromString(toml, "test.toml", dir);
  EXPECT_TRUE(result.bench) << result.error;
  return std::move(result.bench);
}

inline Bytes ReadFile(const std::string& path) {
  std::ifstream in(path, std::ios::binary | std::ios::ate);
  if (!in) return {};
  Bytes bytes(static_cast<size_t>(in.tellg()));
  in.seekg(0);
  in.read(reinterpret_cast<char*>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
  return bytes;
}

class Host {
 public:
  explicit Host(BenchProbe& probe) : probe_(probe) { EXPECT_TRUE(probe_.Open()); }
  ~Host() { probe_.Close(); }

  TransferResult Write(const Bytes& bytes) {
    return probe_.BulkWrite(0x01, bytes.data(), static_cast<int>(bytes.size()), 500);
  }
  // The answer, or nullopt when the read did not succeed.
  std::optional<Bytes> Read(int length, unsigned timeoutMs = 500) {
    Bytes buffer(static_cast<size_t>(length));
    TransferResult r = probe_.BulkRead(0x82, buffer.data(), length, timeoutMs);
    if (r.status != TransferStatus::kOk) return std::nullopt;
    buffer.resize(static_cast<size_t>(r.count));
    return buffer;
  }
  std::optional<Bytes> Exchange(const Bytes& command, int answerLength) {
    EXPECT_EQ(Write(command).status, TransferStatus::kOk);
    return Read(answerLength);
  }
  // Byte 0 of a 5-byte answer, or -1 without one.
  int Code(const Bytes& command) {
    auto a = Exchange(command, 5);
    return a && !a->empty() ? (*a)[0] : -1;
  }

  static Bytes Short(uint8_t code, std::array<uint8_t, 4> p = {0, 0, 0, 0}) {
    return {code, p[0], p[1], p[2], p[3]};
  }
  static Bytes Prefixed(uint8_t code, const Bytes& payload) {
    Bytes c = {code, static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
    c.insert(c.end(), payload.begin(), payload.end());
    return c;
  }
  static Bytes Tagged(uint8_t code, uint8_t type, const Bytes& payload) {
    Bytes c = {code, type, static_cast<uint8_t>(payload.size()), static_cast<uint8_t>(payload.size() >> 8)};
    c.insert(c.end(), payload.begin(), payload.end());
    return c;
  }
  static Bytes FirmwareQuery() {
    Bytes c = {0x98};
    const std::string text = "USB_JTAGorISP <RUN> <GetFirmwareVersionCmd>";
    c.insert(c.end(), text.begin(), text.end());
    c.push_back(0);
    return c;
  }
  static Bytes WordWrite(uint32_t address, uint32_t data) {
    Bytes c = {0x07};
    for (int i = 0; i < 4; ++i) c.push_back(static_cast<uint8_t>(address >> (8 * i)));
    for (int i = 0; i < 4; ++i) c.push_back(static_cast<uint8_t>(data >> (8 * i)));
    return c;
  }
  static Bytes WordRead(uint32_t address) {
    return Short(0x06, {static_cast<uint8_t>(address), static_cast<uint8_t>(address >> 8),
                        static_cast<uint8_t>(address >> 16), static_cast<uint8_t>(address >> 24)});
  }
  static Bytes DownloadInfo(uint8_t type, uint32_t norOffset, uint32_t block, uint32_t size, bool verify) {
    Bytes c = {0x18, 'A', type};
    for (uint32_t v : {norOffset, block, size}) {
      for (int i = 0; i < 4; ++i) c.push_back(static_cast<uint8_t>(v >> (8 * i)));
    }
    c.push_back(verify ? 1 : 0);
    const std::string text = "USBJTAG DownloadCmd";
    c.insert(c.end(), text.begin(), text.end());
    c.push_back(0);
    return c;
  }

  uint32_t JtagId(std::array<uint8_t, 4> param) {
    auto a = Exchange(Short(0x11, param), 32);
    if (!a || a->size() != 32) return 0xDEADBEEF;
    uint32_t id = 0;
    for (int k = 0; k < 32; ++k) id |= static_cast<uint32_t>((*a)[static_cast<size_t>(k)] & 1) << k;
    return id;
  }
  // Four ID words, or all 0xFFFF when no answer came.
  std::array<uint16_t, 4> FlashId(uint8_t type, uint8_t norType = 0, uint8_t width = 0,
                                  uint8_t interleave = 0) {
    auto a = Exchange({0x14, type, norType, width, interleave}, 8);
    std::array<uint16_t, 4> w{0xFFFF, 0xFFFF, 0xFFFF, 0xFFFF};
    if (!a || a->size() != 8) return w;
    for (size_t i = 0; i < 4; ++i) w[i] = static_cast<uint16_t>((*a)[2 * i] | ((*a)[2 * i + 1] << 8));
    return w;
  }

  BenchProbe& probe() { return probe_; }

 private:
  BenchProbe& probe_;
};

// The product's boundary image and pin map as a host has to send them.
inline Bytes PinMapBytes(const std::vector<PinMapField>& fields) {
  Bytes map(216, 0);
  for (const PinMapField& f : fields) {
    map[f.offset] = static_cast<uint8_t>(f.value);
    if (f.bytes == 2) map[f.offset + 1u] = static_cast<uint8_t>(f.value >> 8);
  }
  return map;
}

// A NOR FlashInfo for an AMD-style command set, written out as the host's table gives it.
struct NorInfo {
  uint8_t width = 8, interleave = 1;
  uint16_t deviceId = 0;
  uint16_t unlock1 = 0x555, unlock2 = 0x2AA;
  uint16_t data1 = 0xAA, data2 = 0x55;
  uint16_t eraseSetup = 0x80, id = 0x90, reset = 0xF0, program = 0xA0, sectorErase = 0x30;
  uint16_t dataMask = 0xFF;
  uint32_t base = 0;

  Bytes Record() const {
    Bytes r(64, 0);
    auto put16 = [&](int o, uint16_t v) {
      r[static_cast<size_t>(o)] = static_cast<uint8_t>(v);
      r[static_cast<size_t>(o) + 1] = static_cast<uint8_t>(v >> 8);
    };
    put16(2, deviceId);
    put16(24, unlock1);
    put16(26, unlock2);
    put16(28, data1);
    put16(30, data2);
    put16(32, eraseSetup);
    put16(34, id);
    put16(36, reset);
    put16(38, program);
    put16(46, sectorErase);
    put16(50, 0x44);
    put16(52, 0x20);
    put16(54, dataMask);
    r[56] = width;
    r[57] = interleave;
    r[58] = static_cast<uint8_t>(width * interleave);
    r[59] = static_cast<uint8_t>(width * interleave / 8);
    for (int i = 0; i < 4; ++i) r[60 + static_cast<size_t>(i)] = static_cast<uint8_t>(base >> (8 * i));
    return r;
  }
};

// A FlashCfi record: "QRY", size, regions (count, block size).
inline Bytes CfiRecord(uint32_t size, std::vector<std::pair<uint16_t, uint32_t>> regions) {
  Bytes c(36, 0);
  c[0] = 'Q';
  c[1] = 'R';
  c[2] = 'Y';
  for (int i = 0; i < 4; ++i) c[4 + static_cast<size_t>(i)] = static_cast<uint8_t>(size >> (8 * i));
  c[10] = static_cast<uint8_t>(regions.size());
  for (size_t k = 0; k < regions.size(); ++k) {
    c[12 + 2 * k] = static_cast<uint8_t>(regions[k].first);
    c[13 + 2 * k] = static_cast<uint8_t>(regions[k].first >> 8);
    for (int i = 0; i < 4; ++i)
      c[20 + 4 * k + static_cast<size_t>(i)] = static_cast<uint8_t>(regions[k].second >> (8 * i));
  }
  return c;
}

// A NAND FlashInfo: maker, device, sizes.
inline Bytes NandRecord(uint16_t maker, uint16_t device, uint32_t size, uint16_t page, uint32_t block,
                        uint16_t spare) {
  Bytes r(64, 0);
  auto put = [&](size_t o, uint32_t v, int n) {
    for (int i = 0; i < n; ++i) r[o + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (8 * i));
  };
  put(0, maker, 2);
  put(2, device, 2);
  put(4, size, 4);
  put(8, page, 2);
  put(12, block, 4);
  put(16, spare, 2);
  return r;
}

}  // namespace probesim::test
