// SPDX-License-Identifier: MIT
// Scriptable stand-ins for the two transports. They keep count of every live handle, so a test
// can tell that an open, a failed open or a close left nothing behind, and they log the calls
// that matter.
#pragma once

#include <cstring>
#include <deque>
#include <map>
#include <set>
#include <string>
#include <vector>

#include "libusb0_transport.h"
#include "primary_transport.h"

namespace vorlink::testing {

// Where a primary open can be made to fail.
enum class PrimaryFault {
  kNone,
  kClassDevices,      // GetClassDevices returns an invalid set
  kSizeQueryOk,       // the size query succeeds instead of reporting a short buffer
  kSizeQueryFails,    // the size query fails outright
  kDetailFails,       // the second detail call fails
  kCreateFile,        // the path cannot be opened
  kInitialize,        // the interface cannot be claimed
  kSpeed,             // the speed query fails
  kInterfaceSettings  // the interface settings query fails
};

struct FakeUsbDevice {
  uint16_t productId = 0x16;
  std::string path;
  std::vector<PipeInformation> pipes{{PipeType::kBulk, 0x01, 64, 0}, {PipeType::kBulk, 0x82, 64, 0}};
};

struct PipeWrite {
  uint8_t pipe;
  uint32_t timeoutMs;
  std::vector<uint8_t> bytes;
};

class FakePrimaryTransport final : public PrimaryTransport {
 public:
  std::vector<FakeUsbDevice> devices;
  PrimaryFault fault = PrimaryFault::kNone;
  bool transferResult = true;
  std::deque<std::vector<uint8_t>> readQueue;       // what ReadPipe hands out, one entry per read
  std::vector<PipeWrite> writes;                    // every WritePipe
  std::vector<std::pair<uint8_t, uint32_t>> reads;  // pipe and time-out of every ReadPipe
  std::vector<std::string> createdPaths;
  int transferCalls = 0;
  int classDeviceCalls = 0;

  int LiveSets() const { return static_cast<int>(sets_.size()); }
  int LiveFiles() const { return static_cast<int>(files_.size()); }
  int LiveInterfaces() const { return static_cast<int>(interfaces_.size()); }
  int Live() const { return LiveSets() + LiveFiles() + LiveInterfaces(); }

  TransportHandle GetClassDevices(const Guid& classGuid) override {
    ++classDeviceCalls;
    if (fault == PrimaryFault::kClassDevices) return kInvalidHandle;
    const std::optional<uint16_t> product = LookUpGuidProduct(classGuid);
    Set set;
    for (size_t i = 0; i < devices.size(); ++i) {
      if (product && devices[i].productId == *product) set.members.push_back(i);
    }
    const TransportHandle handle = next_++;
    sets_[handle] = set;
    return handle;
  }
  void DestroyDeviceInfoList(TransportHandle set) override { sets_.erase(set); }
  bool EnumDeviceInterfaces(TransportHandle set, const Guid& classGuid, uint32_t memberIndex,
                            InterfaceData* data) override {
    auto it = sets_.find(set);
    if (it == sets_.end() || memberIndex >= it->second.members.size()) return false;
    *data = {classGuid, it->second.members[memberIndex]};
    return true;
  }
  DetailResult GetDeviceInterfaceDetail(TransportHandle set, const InterfaceData& data, char* path,
                                        size_t capacity, size_t* requiredSize) override {
    if (!sets_.count(set)) return DetailResult::kFailed;
    const std::string& text = devices[data.reserved].path;
    *requiredSize = text.size() + 1;
    if (!path) {
      if (fault == PrimaryFault::kSizeQueryOk) return DetailResult::kOk;
      if (fault == PrimaryFault::kSizeQueryFails) return DetailResult::kFailed;
    }
    if (capacity < text.size() + 1) return DetailResult::kInsufficientBuffer;
    if (fault == PrimaryFault::kDetailFails) return DetailResult::kFailed;
    std::memcpy(path, text.c_str(), text.size() + 1);
    return DetailResult::kOk;
  }
  TransportHandle CreateFile(const char* path) override {
    createdPaths.push_back(path);
    if (fault == PrimaryFault::kCreateFile) return kInvalidHandle;
    for (size_t i = 0; i < devices.size(); ++i) {
      if (devices[i].path == path) {
        const TransportHandle handle = next_++;
        files_[handle] = i;
        return handle;
      }
    }
    return kInvalidHandle;
  }
  bool CloseHandle(TransportHandle file) override { return files_.erase(file) == 1; }
  bool Initialize(TransportHandle file, TransportHandle* interfaceHandle) override {
    if (fault == PrimaryFault::kInitialize || !files_.count(file)) return false;
    const TransportHandle handle = next_++;
    interfaces_[handle] = Interface{files_[file], {}};
    *interfaceHandle = handle;
    return true;
  }
  bool Free(TransportHandle interfaceHandle) override { return interfaces_.erase(interfaceHandle) == 1; }
  bool QueryDeviceSpeed(TransportHandle interfaceHandle, uint8_t* speed) override {
    if (fault == PrimaryFault::kSpeed || !interfaces_.count(interfaceHandle)) return false;
    *speed = kSpeedHigh;
    return true;
  }
  bool QueryInterfaceSettings(TransportHandle interfaceHandle, uint8_t,
                              InterfaceDescriptor* descriptor) override {
    if (fault == PrimaryFault::kInterfaceSettings || !interfaces_.count(interfaceHandle)) return false;
    const auto& pipes = devices[interfaces_[interfaceHandle].device].pipes;
    *descriptor = {0, 0, static_cast<uint8_t>(pipes.size()), 0xFF};
    return true;
  }
  bool QueryPipe(TransportHandle interfaceHandle, uint8_t, uint8_t pipeIndex,
                 PipeInformation* pipe) override {
    auto it = interfaces_.find(interfaceHandle);
    if (it == interfaces_.end()) return false;
    const auto& pipes = devices[it->second.device].pipes;
    if (pipeIndex >= pipes.size()) return false;
    *pipe = pipes[pipeIndex];
    return true;
  }
  bool SetPipeTimeout(TransportHandle interfaceHandle, uint8_t pipeId, uint32_t timeoutMs) override {
    auto it = interfaces_.find(interfaceHandle);
    if (it == interfaces_.end()) return false;
    it->second.timeouts[pipeId] = timeoutMs;
    return true;
  }
  bool WritePipe(TransportHandle interfaceHandle, uint8_t pipeId, const uint8_t* buffer, uint32_t length,
                 uint32_t* transferred) override {
    ++transferCalls;
    auto it = interfaces_.find(interfaceHandle);
    if (it == interfaces_.end()) return false;
    writes.push_back({pipeId, it->second.timeouts[pipeId], std::vector<uint8_t>(buffer, buffer + length)});
    *transferred = transferResult ? length : 0;
    return transferResult;
  }
  bool ReadPipe(TransportHandle interfaceHandle, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                uint32_t* transferred) override {
    ++transferCalls;
    auto it = interfaces_.find(interfaceHandle);
    if (it == interfaces_.end()) return false;
    reads.emplace_back(pipeId, it->second.timeouts[pipeId]);
    *transferred = 0;
    if (!transferResult || readQueue.empty()) return false;
    std::vector<uint8_t> bytes = readQueue.front();
    readQueue.pop_front();
    const size_t n = std::min<size_t>(bytes.size(), length);
    std::memcpy(buffer, bytes.data(), n);
    *transferred = static_cast<uint32_t>(n);
    return true;
  }

 private:
  struct Set {
    std::vector<size_t> members;
  };
  struct Interface {
    size_t device;
    std::map<uint8_t, uint32_t> timeouts;
  };
  TransportHandle next_ = 0x1000;
  std::map<TransportHandle, Set> sets_;
  std::map<TransportHandle, size_t> files_;
  std::map<TransportHandle, Interface> interfaces_;
};

class FakeLibusb0Transport final : public Libusb0Transport {
 public:
  std::vector<Libusb0Bus> busses;
  int setConfigurationResult = 0;
  int claimResult = 0;
  int transferResult = 0;          // what BulkWrite / BulkRead return
  std::string location;            // what Location tells of any open handle
  std::vector<std::string> calls;  // "init", "open 3", "release", "close", "write ep=1 n=5 t=500", ...
  std::set<TransportHandle> live;

  // One device per call, on a bus of its own unless `sameBus`.
  void AddDevice(uint16_t vendor, uint16_t product, bool sameBus = false) {
    if (!sameBus || busses.empty()) busses.emplace_back();
    busses.back().devices.push_back({vendor, product, ++lastDevice_});
  }
  int Count(const std::string& prefix) const {
    int n = 0;
    for (const std::string& call : calls) n += call.rfind(prefix, 0) == 0;
    return n;
  }

  void Init() override { calls.push_back("init"); }
  int FindBusses() override { return 0; }
  int FindDevices() override { return 0; }
  std::vector<Libusb0Bus> GetBusses() override { return busses; }
  TransportHandle Open(std::uintptr_t device) override {
    calls.push_back("open " + std::to_string(device));
    const TransportHandle handle = 0x100 + device;
    live.insert(handle);
    return handle;
  }
  int SetConfiguration(TransportHandle handle, int configuration) override {
    calls.push_back("configuration " + std::to_string(configuration));
    return live.count(handle) ? setConfigurationResult : -19;
  }
  int ClaimInterface(TransportHandle handle, int interface) override {
    calls.push_back("claim " + std::to_string(interface));
    return live.count(handle) ? claimResult : -19;
  }
  int ReleaseInterface(TransportHandle handle, int interface) override {
    calls.push_back("release " + std::to_string(interface));
    return live.count(handle) ? 0 : -19;
  }
  int BulkWrite(TransportHandle handle, int endpoint, const char*, int size, int timeoutMs) override {
    calls.push_back("write ep=" + std::to_string(endpoint) + " n=" + std::to_string(size) +
                    " t=" + std::to_string(timeoutMs));
    return live.count(handle) ? transferResult : -19;
  }
  int BulkRead(TransportHandle handle, int endpoint, char*, int size, int timeoutMs) override {
    calls.push_back("read ep=" + std::to_string(endpoint) + " n=" + std::to_string(size) +
                    " t=" + std::to_string(timeoutMs));
    return live.count(handle) ? transferResult : -19;
  }
  int Close(TransportHandle handle) override {
    calls.push_back("close");
    return live.erase(handle) == 1 ? 0 : -19;
  }
  std::string Location(TransportHandle handle) override { return live.count(handle) ? location : ""; }

 private:
  std::uintptr_t lastDevice_ = 0;
};

}  // namespace vorlink::testing
