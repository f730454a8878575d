// SPDX-License-Identifier: MIT
// Both transports served by the virtual bench (probesim) instead of USB: enumeration, open,
// pipes with the bench probe's endpoint addresses and types, per-pipe time-outs, transfers and
// close. LinkMode, the records and the fall-back run unchanged above them.
//
// Enumeration follows bench order. The primary transport lists the probes declared visible to
// it whose vendor ID is 0x1F3A and whose product ID is the one the class GUID stands for; its
// device paths read "bench<probe index>:usb:<bus>-<port path>". The libusb0 transport lists the
// probes visible to it, every run of probes that share a bus number forming one bus.
//
// A null bench is a bench without probes: nothing is found, every open fails. A bench probe that
// does not open says why (its flash file cannot be made, or another process has it) to the
// diagnostic sink: "bench: probe[0]: flash file ...: in use by another process" (the libusb0
// transport's notes start "bench libusb0: ").
//
// A probe's location is "bench:<its name in the bench file>".
//
// Threads: as the interfaces say; the adapter keeps no state of its own beyond the handles it
// hands out, and the bench serves different probes in parallel. Transfers block as the bench
// probe does, up to the pipe's time-out.
#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <mutex>

#include "diagnostic_sink.h"
#include "libusb0_transport.h"
#include "primary_transport.h"

namespace probesim {
class Bench;
class BenchProbe;
}  // namespace probesim

namespace vorlink {

// How the handles of a bench's two transports use each probe: the handles of its current
// Generation that have it open (the probe closes with the last of them), and the one that has
// claimed its interface 0 (a second claim fails, as usbfs answers EBUSY, through either
// transport). The two transports of one bench share one, since both reach the same probes.
class BenchProbeUses {
 public:
  struct Use {
    std::mutex mutex;  // held across the probe's Open and Close
    uint64_t generation = 0;
    int opens = 0;
    const void* claimedBy = nullptr;
  };
  Use& Of(const probesim::BenchProbe* probe);

 private:
  std::mutex mutex_;  // guards the map, not its entries (map nodes stay where they are)
  std::map<const probesim::BenchProbe*, Use> uses_;
};

class BenchPrimaryTransport final : public PrimaryTransport {
 public:
  // `bench` (may be null) must outlive the transport. `uses`: shared with the bench's libusb0
  // transport (null: one of its own).
  explicit BenchPrimaryTransport(probesim::Bench* bench, DiagnosticSink diagnostics = {},
                                 std::shared_ptr<BenchProbeUses> uses = nullptr)
      : bench_(bench),
        diagnostics_(std::move(diagnostics)),
        uses_(uses ? std::move(uses) : std::make_shared<BenchProbeUses>()) {}

  TransportHandle GetClassDevices(const Guid& classGuid) override;
  void DestroyDeviceInfoList(TransportHandle set) override;
  bool EnumDeviceInterfaces(TransportHandle set, const Guid& classGuid, uint32_t memberIndex,
                            InterfaceData* data) override;
  DetailResult GetDeviceInterfaceDetail(TransportHandle set, const InterfaceData& data, char* path,
                                        size_t capacity, size_t* requiredSize) override;
  TransportHandle CreateFile(const char* path) override;
  bool CloseHandle(TransportHandle file) override;
  bool Initialize(TransportHandle file, TransportHandle* interfaceHandle) override;
  bool Free(TransportHandle interfaceHandle) override;
  bool QueryDeviceSpeed(TransportHandle interfaceHandle, uint8_t* speed) override;
  bool QueryInterfaceSettings(TransportHandle interfaceHandle, uint8_t alternateSetting,
                              InterfaceDescriptor* descriptor) override;
  bool QueryPipe(TransportHandle interfaceHandle, uint8_t alternateSetting, uint8_t pipeIndex,
                 PipeInformation* pipe) override;
  bool SetPipeTimeout(TransportHandle interfaceHandle, uint8_t pipeId, uint32_t timeoutMs) override;
  bool WritePipe(TransportHandle interfaceHandle, uint8_t pipeId, const uint8_t* buffer, uint32_t length,
                 uint32_t* transferred) override;
  bool ReadPipe(TransportHandle interfaceHandle, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                uint32_t* transferred) override;
  // The bench probe's BulkWriteChunks: all in flight, so realistic timing shares the bus.
  int WritePipeChunks(TransportHandle interfaceHandle, uint8_t pipeId, const uint8_t* buffer, uint32_t length,
                      int count, bool* failedOk, uint32_t* failedTransferred) override;
  // "bench:<probe name>".
  std::string Location(TransportHandle file, const char* devicePath) override;

 private:
  bool Transfer(TransportHandle interfaceHandle, uint8_t pipeId, bool in, uint8_t* buffer, uint32_t length,
                uint32_t* transferred);
  probesim::Bench* bench_;
  DiagnosticSink diagnostics_;
  std::shared_ptr<BenchProbeUses> uses_;
};

class BenchLibusb0Transport final : public Libusb0Transport {
 public:
  // `bench` (may be null) must outlive the transport. `uses` as for BenchPrimaryTransport.
  explicit BenchLibusb0Transport(probesim::Bench* bench, DiagnosticSink diagnostics = {},
                                 std::shared_ptr<BenchProbeUses> uses = nullptr)
      : bench_(bench),
        diagnostics_(std::move(diagnostics)),
        uses_(uses ? std::move(uses) : std::make_shared<BenchProbeUses>()) {}

  void Init() override {}
  int FindBusses() override { return 0; }
  int FindDevices() override { return 0; }
  std::vector<Libusb0Bus> GetBusses() override;
  TransportHandle Open(std::uintptr_t device) override;
  int SetConfiguration(TransportHandle handle, int configuration) override;
  int ClaimInterface(TransportHandle handle, int interface) override;
  int ReleaseInterface(TransportHandle handle, int interface) override;
  int BulkWrite(TransportHandle handle, int endpoint, const char* bytes, int size, int timeoutMs) override;
  int BulkRead(TransportHandle handle, int endpoint, char* bytes, int size, int timeoutMs) override;
  int Close(TransportHandle handle) override;
  // "bench:<probe name>".
  std::string Location(TransportHandle handle) override;

 private:
  probesim::Bench* bench_;
  DiagnosticSink diagnostics_;
  std::shared_ptr<BenchProbeUses> uses_;
};

}  // namespace vorlink
