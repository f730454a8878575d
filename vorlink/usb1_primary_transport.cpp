// SPDX-License-Identifier: MIT
#include "usb1_primary_transport.h"

#include <libusb.h>

#include <algorithm>
#include <array>
#include <climits>
#include <cstring>
#include <mutex>
#include <string>
#include <vector>

#include "link.h"

namespace vorlink {

namespace {

struct UsbLocation {
  uint8_t bus = 0;
  std::vector<uint8_t> ports;

  friend bool operator<(const UsbLocation& a, const UsbLocation& b) {
    return a.bus != b.bus ? a.bus < b.bus : a.ports < b.ports;
  }
  friend bool operator==(const UsbLocation&, const UsbLocation&) = default;

  std::string Path() const {
    std::string path = "usb:" + std::to_string(bus) + "-";
    for (size_t i = 0; i < ports.size(); ++i) {
      if (i) path += '.';
      path += std::to_string(ports[i]);
    }
    return path;
  }
};

UsbLocation LocationOf(libusb_device* device) {
  UsbLocation location;
  location.bus = libusb_get_bus_number(device);
  std::array<uint8_t, 8> ports{};  // USB allows at most 7 tiers
  const int depth = libusb_get_port_numbers(device, ports.data(), static_cast<int>(ports.size()));
  if (depth > 0) location.ports.assign(ports.begin(), ports.begin() + depth);
  return location;
}

// "libusb-1.0: <what>: LIBUSB_ERROR_ACCESS (Access denied (insufficient permissions))"
std::string ErrorText(const std::string& what, int libusbError) {
  return "libusb-1.0: " + what + ": " + libusb_error_name(libusbError) + " (" + libusb_strerror(libusbError) +
         ")";
}

std::string DeviceName(libusb_device_handle* handle) {
  return LocationOf(libusb_get_device(handle)).Path();
}

// "usb:1-1.4" back into bus 1, ports {1, 4}; false for anything else.
bool ParsePath(const char* path, UsbLocation* location) {
  if (!path || std::strncmp(path, "usb:", 4) != 0) return false;
  const char* p = path + 4;
  char* end = nullptr;
  const unsigned long bus = std::strtoul(p, &end, 10);
  if (end == p || *end != '-' || bus > 255) return false;
  location->bus = static_cast<uint8_t>(bus);
  location->ports.clear();
  p = end + 1;
  while (true) {
    const unsigned long port = std::strtoul(p, &end, 10);
    if (end == p || port > 255 || location->ports.size() >= 7) return false;
    location->ports.push_back(static_cast<uint8_t>(port));
    if (*end == '\0') return true;
    if (*end != '.') return false;
    p = end + 1;
  }
}

struct SetEntry {
  libusb_device* device;  // referenced while the set lives
  UsbLocation location;
};

struct DeviceSet {
  Guid classGuid;
  std::vector<SetEntry> entries;
};

// What Initialize hands out: the claimed interface 0 with its pipes and their time-outs.
struct ClaimedInterface {
  libusb_device_handle* handle;
  InterfaceDescriptor descriptor;
  std::vector<PipeInformation> pipes;
  std::vector<unsigned> timeoutsMs;  // per pipe, 0: none
};

DeviceSet* AsSet(TransportHandle set) {
  return set == kNullHandle || set == kInvalidHandle ? nullptr : reinterpret_cast<DeviceSet*>(set);
}

ClaimedInterface* AsInterface(TransportHandle handle) {
  return handle == kNullHandle || handle == kInvalidHandle ? nullptr
                                                           : reinterpret_cast<ClaimedInterface*>(handle);
}

libusb_device_handle* AsFile(TransportHandle file) {
  return file == kNullHandle || file == kInvalidHandle ? nullptr
                                                       : reinterpret_cast<libusb_device_handle*>(file);
}

uint8_t SpeedCode(int speed) {
  switch (speed) {
    case LIBUSB_SPEED_LOW:
      return kSpeedLow;
    case LIBUSB_SPEED_FULL:
      return kSpeedFull;
    case LIBUSB_SPEED_HIGH:
      return kSpeedHigh;
    case LIBUSB_SPEED_UNKNOWN:
      return 0;
    default:
      return kSpeedSuper;
  }
}

// One WritePipeChunks call: its chunks, the transfers in flight and how the first failure went.
// Guarded by `mutex`, because a transfer may call back on another thread that is handling
// libusb's events at the time (libusb runs every completion on whichever thread handles them).
struct ChunkStream {
  std::mutex mutex;
  libusb_device_handle* handle = nullptr;
  uint8_t endpoint = 0;
  bool interrupt = false;
  unsigned timeoutMs = 0;
  const uint8_t* buffer = nullptr;
  uint32_t length = 0;
  int count = 0;
  int next = 0;      // the next chunk to submit
  int inFlight = 0;  // submitted transfers that have not called back
  int firstBad = 0;  // the first chunk that did not complete whole; `count` while none
  bool failedOk = false;
  uint32_t failedTransferred = 0;
  std::vector<libusb_transfer*> slots;
  std::vector<int> slotChunk;  // the chunk each slot carries, -1 while idle
  int done = 0;                // libusb_handle_events_completed's flag: set once nothing is in flight
};

void OnChunkDone(libusb_transfer* transfer);

// Records chunk `chunk` as the first failure if it comes before the one known, and cancels the
// transfers behind it (they call back as cancelled). Stream locked.
void FailChunk(ChunkStream& s, int chunk, bool ok, uint32_t transferred) {
  if (chunk >= s.firstBad) return;
  s.firstBad = chunk;
  s.failedOk = ok;
  s.failedTransferred = transferred;
  for (size_t i = 0; i < s.slots.size(); ++i) {
    if (s.slotChunk[i] > chunk) libusb_cancel_transfer(s.slots[i]);
  }
}

// Fills slot `slot` with the next chunk and submits it; a refused submission is that chunk's
// failure. Stream locked.
void SubmitNext(ChunkStream& s, size_t slot) {
  const int chunk = s.next++;
  libusb_transfer* transfer = s.slots[slot];
  auto* bytes = const_cast<uint8_t*>(s.buffer) + static_cast<size_t>(chunk) * s.length;
  if (s.interrupt) {
    libusb_fill_interrupt_transfer(transfer, s.handle, s.endpoint, bytes, static_cast<int>(s.length),
                                   OnChunkDone, &s, s.timeoutMs);
  } else {
    libusb_fill_bulk_transfer(transfer, s.handle, s.endpoint, bytes, static_cast<int>(s.length), OnChunkDone,
                              &s, s.timeoutMs);
  }
  s.slotChunk[slot] = chunk;
  if (libusb_submit_transfer(transfer) == LIBUSB_SUCCESS) {
    ++s.inFlight;
    return;
  }
  s.slotChunk[slot] = -1;
  FailChunk(s, chunk, false, 0);
}

void OnChunkDone(libusb_transfer* transfer) {
  auto& s = *static_cast<ChunkStream*>(transfer->user_data);
  std::lock_guard lock(s.mutex);
  const size_t slot =
      static_cast<size_t>(std::find(s.slots.begin(), s.slots.end(), transfer) - s.slots.begin());
  const int chunk = s.slotChunk[slot];
  s.slotChunk[slot] = -1;
  --s.inFlight;
  const uint32_t moved = static_cast<uint32_t>(std::max(transfer->actual_length, 0));
  const bool ok = transfer->status == LIBUSB_TRANSFER_COMPLETED;
  if (!ok || moved != s.length) {
    FailChunk(s, chunk, ok, moved);
  } else if (s.firstBad == s.count && s.next < s.count) {
    SubmitNext(s, slot);
  }
  if (s.inFlight == 0 && (s.firstBad < s.count || s.next == s.count)) s.done = 1;
}

}  // namespace

std::unique_ptr<Usb1PrimaryTransport> Usb1PrimaryTransport::Create(DiagnosticSink diagnostics) {
  libusb_context* context = nullptr;
  if (const int error = libusb_init(&context); error != LIBUSB_SUCCESS) {
    if (diagnostics) diagnostics(ErrorText("cannot initialise", error));
    return nullptr;
  }
  return std::unique_ptr<Usb1PrimaryTransport>(new Usb1PrimaryTransport(context, std::move(diagnostics)));
}

void Usb1PrimaryTransport::Diagnose(const std::string& what, int libusbError) const {
  if (diagnostics_) diagnostics_(ErrorText(what, libusbError));
}

Usb1PrimaryTransport::~Usb1PrimaryTransport() {
  libusb_exit(context_);
}

TransportHandle Usb1PrimaryTransport::GetClassDevices(const Guid& classGuid) {
  const std::optional<uint16_t> productId = LookUpGuidProduct(classGuid);
  if (!productId) return kInvalidHandle;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) return kInvalidHandle;
  auto* set = new DeviceSet{classGuid, {}};
  for (ssize_t i = 0; i < count; ++i) {
    libusb_device_descriptor descriptor{};
    if (libusb_get_device_descriptor(list[i], &descriptor) != LIBUSB_SUCCESS) continue;
    if (descriptor.idVendor != kProbeVendorId || descriptor.idProduct != *productId) continue;
    set->entries.push_back({libusb_ref_device(list[i]), LocationOf(list[i])});
  }
  libusb_free_device_list(list, 1);
  std::stable_sort(set->entries.begin(), set->entries.end(),
                   [](const SetEntry& a, const SetEntry& b) { return a.location < b.location; });
  return reinterpret_cast<TransportHandle>(set);
}

void Usb1PrimaryTransport::DestroyDeviceInfoList(TransportHandle handle) {
  DeviceSet* set = AsSet(handle);
  if (!set) return;
  for (SetEntry& entry : set->entries) libusb_unref_device(entry.device);
  delete set;
}

bool Usb1PrimaryTransport::EnumDeviceInterfaces(TransportHandle handle, const Guid& classGuid,
                                                uint32_t memberIndex, InterfaceData* data) {
  DeviceSet* set = AsSet(handle);
  if (!set || !data || !(set->classGuid == classGuid) || memberIndex >= set->entries.size()) return false;
  data->classGuid = classGuid;
  data->reserved = memberIndex;
  return true;
}

DetailResult Usb1PrimaryTransport::GetDeviceInterfaceDetail(TransportHandle handle, const InterfaceData& data,
                                                            char* path, size_t capacity,
                                                            size_t* requiredSize) {
  DeviceSet* set = AsSet(handle);
  if (!set || data.reserved >= set->entries.size()) return DetailResult::kFailed;
  const std::string text = set->entries[data.reserved].location.Path();
  if (requiredSize) *requiredSize = text.size() + 1;
  if (!path || capacity < text.size() + 1) return DetailResult::kInsufficientBuffer;
  std::memcpy(path, text.c_str(), text.size() + 1);
  return DetailResult::kOk;
}

TransportHandle Usb1PrimaryTransport::CreateFile(const char* path) {
  UsbLocation wanted;
  if (!ParsePath(path, &wanted)) return kInvalidHandle;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context_, &list);
  if (count < 0) {
    Diagnose("cannot list devices", static_cast<int>(count));
    return kInvalidHandle;
  }
  libusb_device_handle* handle = nullptr;
  for (ssize_t i = 0; i < count; ++i) {
    if (LocationOf(list[i]) == wanted) {
      // LIBUSB_ERROR_ACCESS here is the usual reason why a probe cannot be used: no udev rule.
      if (const int error = libusb_open(list[i], &handle); error != LIBUSB_SUCCESS) {
        handle = nullptr;
        Diagnose(std::string(path) + ": cannot open", error);
      }
      break;
    }
  }
  libusb_free_device_list(list, 1);
  return handle ? reinterpret_cast<TransportHandle>(handle) : kInvalidHandle;
}

bool Usb1PrimaryTransport::CloseHandle(TransportHandle file) {
  libusb_device_handle* handle = AsFile(file);
  if (!handle) return false;
  libusb_close(handle);
  return true;
}

bool Usb1PrimaryTransport::Initialize(TransportHandle file, TransportHandle* interfaceHandle) {
  libusb_device_handle* handle = AsFile(file);
  if (!handle || !interfaceHandle) return false;
  // Detaches a bound kernel driver on claim and gives it back on release; where the platform
  // cannot, the claim below tells whether the interface is free.
  libusb_set_auto_detach_kernel_driver(handle, 1);
  if (const int error = libusb_claim_interface(handle, 0); error != LIBUSB_SUCCESS) {
    Diagnose(DeviceName(handle) + ": cannot claim interface 0", error);
    return false;
  }

  libusb_config_descriptor* config = nullptr;
  if (const int error = libusb_get_active_config_descriptor(libusb_get_device(handle), &config);
      error != LIBUSB_SUCCESS) {
    Diagnose(DeviceName(handle) + ": cannot read the configuration descriptor", error);
    libusb_release_interface(handle, 0);
    return false;
  }
  auto* claimed = new ClaimedInterface{handle, {}, {}, {}};
  for (int i = 0; i < config->bNumInterfaces; ++i) {
    const libusb_interface& interface = config->interface[i];
    if (interface.num_altsetting < 1 || interface.altsetting[0].bInterfaceNumber != 0) continue;
    const libusb_interface_descriptor& setting = interface.altsetting[0];
    claimed->descriptor = {setting.bInterfaceNumber, setting.bAlternateSetting, setting.bNumEndpoints,
                           setting.bInterfaceClass};
    for (int e = 0; e < setting.bNumEndpoints; ++e) {
      const libusb_endpoint_descriptor& endpoint = setting.endpoint[e];
      claimed->pipes.push_back({static_cast<PipeType>(endpoint.bmAttributes & 0x03),
                                endpoint.bEndpointAddress, endpoint.wMaxPacketSize, endpoint.bInterval});
    }
    break;
  }
  libusb_free_config_descriptor(config);
  claimed->timeoutsMs.assign(claimed->pipes.size(), 0);
  *interfaceHandle = reinterpret_cast<TransportHandle>(claimed);
  return true;
}

bool Usb1PrimaryTransport::Free(TransportHandle interfaceHandle) {
  ClaimedInterface* claimed = AsInterface(interfaceHandle);
  if (!claimed) return false;
  libusb_release_interface(claimed->handle, 0);
  delete claimed;
  return true;
}

bool Usb1PrimaryTransport::QueryDeviceSpeed(TransportHandle interfaceHandle, uint8_t* speed) {
  ClaimedInterface* claimed = AsInterface(interfaceHandle);
  if (!claimed || !speed) return false;
  *speed = SpeedCode(libusb_get_device_speed(libusb_get_device(claimed->handle)));
  return true;
}

bool Usb1PrimaryTransport::QueryInterfaceSettings(TransportHandle interfaceHandle, uint8_t alternateSetting,
                                                  InterfaceDescriptor* descriptor) {
  ClaimedInterface* claimed = AsInterface(interfaceHandle);
  if (!claimed || !descriptor || alternateSetting != 0) return false;
  *descriptor = claimed->descriptor;
  descriptor->numEndpoints = static_cast<uint8_t>(claimed->pipes.size());
  return true;
}

bool Usb1PrimaryTransport::QueryPipe(TransportHandle interfaceHandle, uint8_t alternateSetting,
                                     uint8_t pipeIndex, PipeInformation* pipe) {
  ClaimedInterface* claimed = AsInterface(interfaceHandle);
  if (!claimed || !pipe || alternateSetting != 0 || pipeIndex >= claimed->pipes.size()) return false;
  *pipe = claimed->pipes[pipeIndex];
  return true;
}

bool Usb1PrimaryTransport::SetPipeTimeout(TransportHandle interfaceHandle, uint8_t pipeId,
                                          uint32_t timeoutMs) {
  ClaimedInterface* claimed = AsInterface(interfaceHandle);
  if (!claimed) return false;
  for (size_t i = 0; i < claimed->pipes.size(); ++i) {
    if (claimed->pipes[i].pipeId == pipeId) {
      claimed->timeoutsMs[i] = timeoutMs;
      return true;
    }
  }
  return false;
}

bool Usb1PrimaryTransport::Transfer(TransportHandle interfaceHandle, uint8_t pipeId, bool in, uint8_t* buffer,
                                    uint32_t length, uint32_t* transferred) {
  if (transferred) *transferred = 0;
  ClaimedInterface* claimed = AsInterface(interfaceHandle);
  if (!claimed || ((pipeId & 0x80) != 0) != in || (buffer == nullptr && length > 0) || length > INT_MAX)
    return false;
  for (size_t i = 0; i < claimed->pipes.size(); ++i) {
    const PipeInformation& pipe = claimed->pipes[i];
    if (pipe.pipeId != pipeId) continue;
    int moved = 0;
    int result = LIBUSB_ERROR_NOT_SUPPORTED;
    if (pipe.pipeType == PipeType::kBulk) {
      result = libusb_bulk_transfer(claimed->handle, pipeId, buffer, static_cast<int>(length), &moved,
                                    claimed->timeoutsMs[i]);
    } else if (pipe.pipeType == PipeType::kInterrupt) {
      result = libusb_interrupt_transfer(claimed->handle, pipeId, buffer, static_cast<int>(length), &moved,
                                         claimed->timeoutsMs[i]);
    }
    if (transferred) *transferred = static_cast<uint32_t>(std::max(moved, 0));
    return result == LIBUSB_SUCCESS;
  }
  return false;
}

bool Usb1PrimaryTransport::WritePipe(TransportHandle interfaceHandle, uint8_t pipeId, const uint8_t* buffer,
                                     uint32_t length, uint32_t* transferred) {
  // libusb takes one buffer type for both directions and does not write an OUT buffer.
  return Transfer(interfaceHandle, pipeId, false, const_cast<uint8_t*>(buffer), length, transferred);
}

bool Usb1PrimaryTransport::ReadPipe(TransportHandle interfaceHandle, uint8_t pipeId, uint8_t* buffer,
                                    uint32_t length, uint32_t* transferred) {
  return Transfer(interfaceHandle, pipeId, true, buffer, length, transferred);
}

int Usb1PrimaryTransport::WritePipeChunks(TransportHandle interfaceHandle, uint8_t pipeId,
                                          const uint8_t* buffer, uint32_t length, int count, bool* failedOk,
                                          uint32_t* failedTransferred) {
  *failedOk = false;
  *failedTransferred = 0;
  ClaimedInterface* claimed = AsInterface(interfaceHandle);
  if (count <= 0) return 0;
  if (!claimed || (pipeId & 0x80) != 0 || buffer == nullptr || length == 0 || length > INT_MAX) return 0;
  const auto pipe = std::find_if(claimed->pipes.begin(), claimed->pipes.end(),
                                 [pipeId](const PipeInformation& p) { return p.pipeId == pipeId; });
  if (pipe == claimed->pipes.end() ||
      (pipe->pipeType != PipeType::kBulk && pipe->pipeType != PipeType::kInterrupt))
    return 0;

  ChunkStream s;
  s.handle = claimed->handle;
  s.endpoint = pipeId;
  s.interrupt = pipe->pipeType == PipeType::kInterrupt;
  s.timeoutMs = claimed->timeoutsMs[static_cast<size_t>(pipe - claimed->pipes.begin())];
  s.buffer = buffer;
  s.length = length;
  s.count = count;
  s.firstBad = count;
  const int slots = std::min(count, kChunksInFlight);
  for (int i = 0; i < slots; ++i) {
    libusb_transfer* transfer = libusb_alloc_transfer(0);
    if (!transfer) break;
    s.slots.push_back(transfer);
  }
  if (static_cast<int>(s.slots.size()) < slots) {
    // Out of memory for transfers: the same chunks one after another.
    for (libusb_transfer* transfer : s.slots) libusb_free_transfer(transfer);
    return PrimaryTransport::WritePipeChunks(interfaceHandle, pipeId, buffer, length, count, failedOk,
                                             failedTransferred);
  }
  s.slotChunk.assign(s.slots.size(), -1);
  {
    std::lock_guard lock(s.mutex);
    for (size_t slot = 0; slot < s.slots.size() && s.firstBad == count; ++slot) SubmitNext(s, slot);
    if (s.inFlight == 0) s.done = 1;
  }
  while (true) {
    {
      std::lock_guard lock(s.mutex);
      if (s.done) break;
    }
    const int result = libusb_handle_events_completed(context_, &s.done);
    if (result < 0 && result != LIBUSB_ERROR_INTERRUPTED) {
      // Events cannot be handled: cancel what is in flight (each then calls back as failed) and
      // keep handling events until all have called back, as libusb's own synchronous calls do.
      std::lock_guard lock(s.mutex);
      for (size_t slot = 0; slot < s.slots.size(); ++slot) {
        if (s.slotChunk[slot] >= 0) libusb_cancel_transfer(s.slots[slot]);
      }
    }
  }
  for (libusb_transfer* transfer : s.slots) libusb_free_transfer(transfer);
  if (s.firstBad < count) {
    *failedOk = s.failedOk;
    *failedTransferred = s.failedTransferred;
  }
  return s.firstBad;
}

}  // namespace vorlink
