// SPDX-License-Identifier: MIT
// A small stand-in for the virtual bench: probes with settable identity, visibility, endpoints
// and transfer outcome, that log what reaches them and count their opens.
#pragma once

#include <deque>
#include <string>
#include <vector>

#include "probesim/bench.h"

namespace vorlink::testing {

using probesim::EndpointInfo;
using probesim::EndpointType;
using probesim::TransferResult;
using probesim::TransferStatus;

struct FakeBenchProbe final : probesim::BenchProbe {
  uint16_t productId = 0x16;
  bool primary = true, libusb0 = false, unplugged = false;
  uint8_t bus = 1;
  std::string port = "1";
  std::vector<EndpointInfo> endpoints{{0x01, EndpointType::kBulk, 64}, {0x82, EndpointType::kBulk, 64}};
  int openCount = 0;
  TransferResult next{TransferStatus::kOk, -1};  // count -1: the whole length
  std::vector<std::string> log;

  uint16_t VendorId() const override { return 0x1F3A; }
  uint16_t ProductId() const override { return productId; }
  bool VisibleToPrimary() const override { return primary; }
  bool VisibleToLibusb0() const override { return libusb0; }
  uint8_t BusNumber() const override { return bus; }
  std::string PortPath() const override { return port; }
  std::vector<EndpointInfo> Endpoints() const override { return endpoints; }
  bool Open() override {
    if (unplugged) return false;
    ++openCount;
    return true;
  }
  void Close() override { --openCount; }
  TransferResult Answer(const char* what, uint8_t endpoint, int length, unsigned timeoutMs) {
    log.push_back(std::string(what) + " ep=" + std::to_string(endpoint) + " n=" + std::to_string(length) +
                  " t=" + std::to_string(timeoutMs));
    return {next.status, next.count < 0 ? length : next.count};
  }
  TransferResult BulkWrite(uint8_t endpoint, const uint8_t*, int length, unsigned timeoutMs) override {
    return Answer("write", endpoint, length, timeoutMs);
  }
  TransferResult BulkRead(uint8_t endpoint, uint8_t* data, int length, unsigned timeoutMs) override {
    if (length > 0) data[0] = 'Q';
    return Answer("read", endpoint, length, timeoutMs);
  }
};

struct FakeBench final : probesim::Bench {
  std::deque<FakeBenchProbe> probes;
  size_t ProbeCount() const override { return probes.size(); }
  probesim::BenchProbe& Probe(size_t index) override { return probes[index]; }
};

}  // namespace vorlink::testing
