// SPDX-License-Identifier: MIT
#include "bench_transport.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>

#include "link.h"
#include "probesim/bench.h"

namespace vorlink {

namespace {

struct BenchSet {
  Guid classGuid;
  std::vector<size_t> probes;  // bench indices, in bench order
};

// A handle stays bound to the probe's Generation at its open: after an unplug it is dead, also
// once the probe is back, and its close leaves the probe's later opens alone.
struct BenchFile {
  probesim::BenchProbe* probe;
  uint64_t generation;
  bool claimed = false;
  bool Live() const { return probe->Generation() == generation; }
};

struct BenchInterface {
  BenchFile* file;
  std::vector<probesim::EndpointInfo> endpoints;
  std::vector<unsigned> timeoutsMs;  // per endpoint, 0 until set
};

struct BenchLibusb0Handle {
  probesim::BenchProbe* probe;
  uint64_t generation;
  bool configured = false;
  bool claimed = false;
  bool Live() const { return probe->Generation() == generation; }
};

template <typename T>
T* As(TransportHandle handle) {
  return handle == kNullHandle || handle == kInvalidHandle ? nullptr : reinterpret_cast<T*>(handle);
}

std::string BenchPath(size_t index, probesim::BenchProbe& probe) {
  return "bench" + std::to_string(index) + ":usb:" + std::to_string(probe.BusNumber()) + "-" +
         probe.PortPath();
}

// "bench<index>:..." back into the index; false for any other text.
bool ParseBenchPath(const char* path, size_t* index) {
  if (!path || std::strncmp(path, "bench", 5) != 0) return false;
  char* end = nullptr;
  const unsigned long value = std::strtoul(path + 5, &end, 10);
  if (end == path + 5 || *end != ':') return false;
  *index = value;
  return true;
}

// Opens `probe`; a failure the probe can explain goes to `diagnostics` first.
bool OpenProbe(probesim::BenchProbe& probe, const DiagnosticSink& diagnostics, const char* transport) {
  if (probe.Open()) return true;
  if (diagnostics) {
    const std::string why = probe.OpenFailure();
    if (!why.empty()) diagnostics(std::string(transport) + ": " + why);
  }
  return false;
}

// Counts a handle opened under `generation` (Use locked); earlier generations' handles are dead.
void CountOpen(BenchProbeUses::Use& use, uint64_t generation) {
  if (use.generation != generation) {
    use.generation = generation;
    use.opens = 0;
    use.claimedBy = nullptr;
  }
  ++use.opens;
}

// Uncounts a closing handle (Use locked): true when it was the probe's last live one.
bool CountClose(BenchProbeUses::Use& use, const void* handle, uint64_t generation, bool live) {
  if (use.claimedBy == handle) use.claimedBy = nullptr;
  return live && use.generation == generation && use.opens > 0 && --use.opens == 0;
}

// libusb 0.1 reports failures as negative errno values.
int Libusb0Result(const probesim::TransferResult& result) {
  switch (result.status) {
    case probesim::TransferStatus::kOk:
      return result.count;
    case probesim::TransferStatus::kTimeout:
      return -ETIMEDOUT;
    case probesim::TransferStatus::kNoDevice:
      return -ENODEV;
    case probesim::TransferStatus::kError:
      break;
  }
  return -EIO;
}

}  // namespace

TransportHandle BenchPrimaryTransport::GetClassDevices(const Guid& classGuid) {
  const std::optional<uint16_t> productId = LookUpGuidProduct(classGuid);
  if (!productId) return kInvalidHandle;
  auto* set = new BenchSet{classGuid, {}};
  const size_t count = bench_ ? bench_->ProbeCount() : 0;
  for (size_t i = 0; i < count; ++i) {
    probesim::BenchProbe& probe = bench_->Probe(i);
    if (probe.VisibleToPrimary() && probe.VendorId() == kProbeVendorId && probe.ProductId() == *productId) {
      set->probes.push_back(i);
    }
  }
  return reinterpret_cast<TransportHandle>(set);
}

void BenchPrimaryTransport::DestroyDeviceInfoList(TransportHandle set) {
  delete As<BenchSet>(set);
}

bool BenchPrimaryTransport::EnumDeviceInterfaces(TransportHandle handle, const Guid& classGuid,
                                                 uint32_t memberIndex, InterfaceData* data) {
  BenchSet* set = As<BenchSet>(handle);
  if (!set || !data || !(set->classGuid == classGuid) || memberIndex >= set->probes.size()) return false;
  data->classGuid = classGuid;
  data->reserved = memberIndex;
  return true;
}

DetailResult BenchPrimaryTransport::GetDeviceInterfaceDetail(TransportHandle handle,
                                                             const InterfaceData& data, char* path,
                                                             size_t capacity, size_t* requiredSize) {
  BenchSet* set = As<BenchSet>(handle);
  if (!set || data.reserved >= set->probes.size()) return DetailResult::kFailed;
  const size_t index = set->probes[data.reserved];
  const std::string text = BenchPath(index, bench_->Probe(index));
  if (requiredSize) *requiredSize = text.size() + 1;
  if (!path || capacity < text.size() + 1) return DetailResult::kInsufficientBuffer;
  std::memcpy(path, text.c_str(), text.size() + 1);
  return DetailResult::kOk;
}

BenchProbeUses::Use& BenchProbeUses::Of(const probesim::BenchProbe* probe) {
  std::lock_guard lock(mutex_);
  return uses_[probe];
}

TransportHandle BenchPrimaryTransport::CreateFile(const char* path) {
  size_t index = 0;
  if (!bench_ || !ParseBenchPath(path, &index) || index >= bench_->ProbeCount()) return kInvalidHandle;
  probesim::BenchProbe& probe = bench_->Probe(index);
  BenchProbeUses::Use& use = uses_->Of(&probe);
  std::lock_guard lock(use.mutex);
  const uint64_t generation = probe.Generation();
  if (!probe.VisibleToPrimary() || !OpenProbe(probe, diagnostics_, "bench")) return kInvalidHandle;
  CountOpen(use, generation);
  return reinterpret_cast<TransportHandle>(new BenchFile{&probe, generation});
}

bool BenchPrimaryTransport::CloseHandle(TransportHandle handle) {
  BenchFile* file = As<BenchFile>(handle);
  if (!file) return false;
  BenchProbeUses::Use& use = uses_->Of(file->probe);
  {
    std::lock_guard lock(use.mutex);
    // The probe closes with its last handle: another device index that has it open keeps it.
    if (CountClose(use, file, file->generation, file->Live())) file->probe->Close();
  }
  delete file;
  return true;
}

bool BenchPrimaryTransport::Initialize(TransportHandle handle, TransportHandle* interfaceHandle) {
  BenchFile* file = As<BenchFile>(handle);
  if (!file || !interfaceHandle) return false;
  BenchProbeUses::Use& use = uses_->Of(file->probe);
  {
    std::lock_guard lock(use.mutex);
    // Interface 0 can be claimed by one handle at a time, as on a real device (usbfs answers EBUSY):
    // a second device index that reaches the same probe does not open it.
    if (file->claimed || (use.claimedBy != nullptr && use.claimedBy != file && file->Live())) return false;
    use.claimedBy = file;
    file->claimed = true;
  }
  std::vector<probesim::EndpointInfo> endpoints = file->probe->Endpoints();
  std::vector<unsigned> timeouts(endpoints.size(), 0);
  *interfaceHandle =
      reinterpret_cast<TransportHandle>(new BenchInterface{file, std::move(endpoints), std::move(timeouts)});
  return true;
}

bool BenchPrimaryTransport::Free(TransportHandle handle) {
  BenchInterface* interface = As<BenchInterface>(handle);
  if (!interface) return false;
  BenchProbeUses::Use& use = uses_->Of(interface->file->probe);
  {
    std::lock_guard lock(use.mutex);
    if (use.claimedBy == interface->file) use.claimedBy = nullptr;
    interface->file->claimed = false;
  }
  delete interface;
  return true;
}

bool BenchPrimaryTransport::QueryDeviceSpeed(TransportHandle handle, uint8_t* speed) {
  BenchInterface* interface = As<BenchInterface>(handle);
  if (!interface || !speed) return false;
  // Bulk packets of 512 bytes exist only at high speed.
  const bool high = std::any_of(interface->endpoints.begin(), interface->endpoints.end(),
                                [](const probesim::EndpointInfo& e) { return e.maxPacketSize > 64; });
  *speed = high ? kSpeedHigh : kSpeedFull;
  return true;
}

bool BenchPrimaryTransport::QueryInterfaceSettings(TransportHandle handle, uint8_t alternateSetting,
                                                   InterfaceDescriptor* descriptor) {
  BenchInterface* interface = As<BenchInterface>(handle);
  if (!interface || !descriptor || alternateSetting != 0) return false;
  *descriptor = {0, 0, static_cast<uint8_t>(std::min<size_t>(interface->endpoints.size(), 255)), 0xFF};
  return true;
}

bool BenchPrimaryTransport::QueryPipe(TransportHandle handle, uint8_t alternateSetting, uint8_t pipeIndex,
                                      PipeInformation* pipe) {
  BenchInterface* interface = As<BenchInterface>(handle);
  if (!interface || !pipe || alternateSetting != 0 || pipeIndex >= interface->endpoints.size()) return false;
  const probesim::EndpointInfo& endpoint = interface->endpoints[pipeIndex];
  *pipe = {static_cast<PipeType>(endpoint.type), endpoint.address, endpoint.maxPacketSize, 0};
  return true;
}

bool BenchPrimaryTransport::SetPipeTimeout(TransportHandle handle, uint8_t pipeId, uint32_t timeoutMs) {
  BenchInterface* interface = As<BenchInterface>(handle);
  if (!interface) return false;
  for (size_t i = 0; i < interface->endpoints.size(); ++i) {
    if (interface->endpoints[i].address == pipeId) {
      interface->timeoutsMs[i] = timeoutMs;
      return true;
    }
  }
  return false;
}

bool BenchPrimaryTransport::Transfer(TransportHandle handle, uint8_t pipeId, bool in, uint8_t* buffer,
                                     uint32_t length, uint32_t* transferred) {
  if (transferred) *transferred = 0;
  BenchInterface* interface = As<BenchInterface>(handle);
  if (!interface || ((pipeId & 0x80) != 0) != in || (buffer == nullptr && length > 0) || length > INT_MAX) {
    return false;
  }
  for (size_t i = 0; i < interface->endpoints.size(); ++i) {
    const probesim::EndpointInfo& endpoint = interface->endpoints[i];
    if (endpoint.address != pipeId) continue;
    // The bench's probes move data on bulk pipes only.
    if (endpoint.type != probesim::EndpointType::kBulk) return false;
    probesim::BenchProbe& probe = *interface->file->probe;
    if (!interface->file->Live()) return false;  // unplugged since it was opened
    const probesim::TransferResult result =
        in ? probe.BulkRead(pipeId, buffer, static_cast<int>(length), interface->timeoutsMs[i])
           : probe.BulkWrite(pipeId, buffer, static_cast<int>(length), interface->timeoutsMs[i]);
    if (transferred)
      *transferred = static_cast<uint32_t>(std::clamp(result.count, 0, static_cast<int>(length)));
    return result.status == probesim::TransferStatus::kOk;
  }
  return false;
}

int BenchPrimaryTransport::WritePipeChunks(TransportHandle handle, uint8_t pipeId, const uint8_t* buffer,
                                           uint32_t length, int count, bool* failedOk,
                                           uint32_t* failedTransferred) {
  *failedOk = false;
  *failedTransferred = 0;
  BenchInterface* interface = As<BenchInterface>(handle);
  if (count <= 0) return 0;
  if (!interface || (pipeId & 0x80) != 0 || buffer == nullptr || length == 0 || length > INT_MAX) return 0;
  for (size_t i = 0; i < interface->endpoints.size(); ++i) {
    const probesim::EndpointInfo& endpoint = interface->endpoints[i];
    if (endpoint.address != pipeId) continue;
    if (endpoint.type != probesim::EndpointType::kBulk || !interface->file->Live()) return 0;
    probesim::TransferResult failed{probesim::TransferStatus::kError, 0};
    const int done = interface->file->probe->BulkWriteChunks(pipeId, buffer, static_cast<int>(length), count,
                                                             interface->timeoutsMs[i], &failed);
    if (done < count) {
      // As WritePipe reports the same result for one chunk.
      *failedOk = failed.status == probesim::TransferStatus::kOk;
      *failedTransferred = static_cast<uint32_t>(std::clamp(failed.count, 0, static_cast<int>(length)));
    }
    return std::clamp(done, 0, count);
  }
  return 0;
}

bool BenchPrimaryTransport::WritePipe(TransportHandle handle, uint8_t pipeId, const uint8_t* buffer,
                                      uint32_t length, uint32_t* transferred) {
  // An OUT transfer only reads the buffer.
  return Transfer(handle, pipeId, false, const_cast<uint8_t*>(buffer), length, transferred);
}

bool BenchPrimaryTransport::ReadPipe(TransportHandle handle, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                                     uint32_t* transferred) {
  return Transfer(handle, pipeId, true, buffer, length, transferred);
}

std::string BenchPrimaryTransport::Location(TransportHandle handle, const char* /*devicePath*/) {
  BenchFile* file = As<BenchFile>(handle);
  return file ? "bench:" + file->probe->Name() : std::string();
}

std::vector<Libusb0Bus> BenchLibusb0Transport::GetBusses() {
  std::vector<Libusb0Bus> busses;
  const size_t count = bench_ ? bench_->ProbeCount() : 0;
  int lastBus = -1;
  for (size_t i = 0; i < count; ++i) {
    probesim::BenchProbe& probe = bench_->Probe(i);
    if (!probe.VisibleToLibusb0()) continue;
    if (busses.empty() || probe.BusNumber() != lastBus) busses.emplace_back();
    lastBus = probe.BusNumber();
    // The device value is the bench index plus one, so that 0 never names a device.
    busses.back().devices.push_back({probe.VendorId(), probe.ProductId(), i + 1});
  }
  return busses;
}

TransportHandle BenchLibusb0Transport::Open(std::uintptr_t device) {
  if (!bench_ || device == 0 || device > bench_->ProbeCount()) return kNullHandle;
  probesim::BenchProbe& probe = bench_->Probe(device - 1);
  BenchProbeUses::Use& use = uses_->Of(&probe);
  std::lock_guard lock(use.mutex);
  const uint64_t generation = probe.Generation();
  if (!probe.VisibleToLibusb0() || !OpenProbe(probe, diagnostics_, "bench libusb0")) return kNullHandle;
  CountOpen(use, generation);
  return reinterpret_cast<TransportHandle>(new BenchLibusb0Handle{&probe, generation});
}

int BenchLibusb0Transport::SetConfiguration(TransportHandle handle, int configuration) {
  BenchLibusb0Handle* h = As<BenchLibusb0Handle>(handle);
  if (!h) return -ENODEV;
  if (configuration != 1) return -EINVAL;  // the probe has one configuration
  h->configured = true;
  return 0;
}

int BenchLibusb0Transport::ClaimInterface(TransportHandle handle, int interface) {
  BenchLibusb0Handle* h = As<BenchLibusb0Handle>(handle);
  if (!h) return -ENODEV;
  if (interface != 0 || !h->configured) return -EINVAL;
  BenchProbeUses::Use& use = uses_->Of(h->probe);
  std::lock_guard lock(use.mutex);
  if (use.claimedBy != nullptr && use.claimedBy != h && h->Live()) return -EBUSY;  // claimed elsewhere
  use.claimedBy = h;
  h->claimed = true;
  return 0;
}

int BenchLibusb0Transport::ReleaseInterface(TransportHandle handle, int interface) {
  BenchLibusb0Handle* h = As<BenchLibusb0Handle>(handle);
  if (!h) return -ENODEV;
  if (interface != 0 || !h->claimed) return -EINVAL;
  BenchProbeUses::Use& use = uses_->Of(h->probe);
  std::lock_guard lock(use.mutex);
  if (use.claimedBy == h) use.claimedBy = nullptr;
  h->claimed = false;
  return 0;
}

int BenchLibusb0Transport::BulkWrite(TransportHandle handle, int endpoint, const char* bytes, int size,
                                     int timeoutMs) {
  BenchLibusb0Handle* h = As<BenchLibusb0Handle>(handle);
  if (!h) return -ENODEV;
  if (!h->claimed || size < 0 || (bytes == nullptr && size > 0)) return -EINVAL;
  if (!h->Live()) return -ENODEV;
  return Libusb0Result(h->probe->BulkWrite(static_cast<uint8_t>(endpoint),
                                           reinterpret_cast<const uint8_t*>(bytes), size,
                                           static_cast<unsigned>(std::max(timeoutMs, 0))));
}

int BenchLibusb0Transport::BulkRead(TransportHandle handle, int endpoint, char* bytes, int size,
                                    int timeoutMs) {
  BenchLibusb0Handle* h = As<BenchLibusb0Handle>(handle);
  if (!h) return -ENODEV;
  if (!h->claimed || size < 0 || (bytes == nullptr && size > 0)) return -EINVAL;
  if (!h->Live()) return -ENODEV;
  return Libusb0Result(h->probe->BulkRead(static_cast<uint8_t>(endpoint), reinterpret_cast<uint8_t*>(bytes),
                                          size, static_cast<unsigned>(std::max(timeoutMs, 0))));
}

int BenchLibusb0Transport::Close(TransportHandle handle) {
  BenchLibusb0Handle* h = As<BenchLibusb0Handle>(handle);
  if (!h) return -ENODEV;
  {
    BenchProbeUses::Use& use = uses_->Of(h->probe);
    std::lock_guard lock(use.mutex);
    if (CountClose(use, h, h->generation, h->Live())) h->probe->Close();
  }
  delete h;
  return 0;
}

std::string BenchLibusb0Transport::Location(TransportHandle handle) {
  BenchLibusb0Handle* h = As<BenchLibusb0Handle>(handle);
  return h ? "bench:" + h->probe->Name() : std::string();
}

}  // namespace vorlink
