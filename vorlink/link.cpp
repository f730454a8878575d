// SPDX-License-Identifier: MIT
#include "link.h"

#include <algorithm>
#include <climits>
#include <cstdint>
#include <cstring>
#include <vector>

#include "guid.h"
#include "pipe_classification.h"

namespace vorlink {

namespace {

bool ValidIndex(int deviceIndex) {
  return deviceIndex >= 0 && deviceIndex < kDeviceRecordCount;
}

bool LiveInterface(TransportHandle handle) {
  return handle != kNullHandle && handle != kInvalidHandle;
}

// Cut at an embedded NUL, so that the length reported is the length of the text the caller gets.
std::string TextUpToNul(std::string text) {
  text.resize(std::strlen(text.c_str()));
  return text;
}

int Fail(int* transferred) {
  if (transferred) *transferred = 0;
  return 0;
}

}  // namespace

Link::Link(PrimaryTransport& primary, Libusb0Transport& libusb0, LinkMode initialMode)
    : primary_(primary), libusb0_(libusb0), mode_(initialMode) {}

int Link::OpenDevice(int productId, int deviceIndex) {
  if (!ValidIndex(deviceIndex)) return 0;
  if (Mode() == LinkMode::kLibusb0) {
    // Both transports reach the same probes on Linux, and libusb0 has one handle: it serves
    // device index 0 alone, so a walk over all indices cannot open one probe sixteen times.
    return deviceIndex == 0 && Libusb0Open(productId) ? 1 : 0;
  }
  locations_[deviceIndex].clear();
  bool listed = false;
  if (PrimaryOpen(records_[deviceIndex], productId, deviceIndex, &listed)) {
    DeviceRecord& record = records_[deviceIndex];
    locations_[deviceIndex] = TextUpToNul(primary_.Location(record.fileHandle, record.devicePath));
    return 1;
  }
  // On Linux libusb 0.1 reaches the very probes the primary transport lists: a probe listed at
  // index 0 that does not open (another program holds it, no permission) would not open through
  // libusb0 either, and the fall-back would take another probe (the last one) and keep libusb0 for
  // the rest of the process. Only a probe the primary transport does not list is looked for there.
  if (deviceIndex != 0 || listed) return 0;
  if (!Libusb0Open(productId)) return 0;
  mode_.store(LinkMode::kLibusb0, std::memory_order_release);
  return 1;
}

bool Link::PrimaryOpen(DeviceRecord& record, int productId, int memberIndex, bool* listed) {
  // An open record is released first: its interface stays claimed otherwise, and the new open
  // of the same probe would find it busy.
  PrimaryClose(record);

  const std::optional<Guid> classGuid = LookUpProductGuid(productId);
  if (!classGuid) return false;
  const TransportHandle set = primary_.GetClassDevices(*classGuid);
  if (set == kInvalidHandle) return false;

  TransportHandle file = kInvalidHandle;
  InterfaceData data{};
  size_t required = 0;
  *listed = primary_.EnumDeviceInterfaces(set, *classGuid, static_cast<uint32_t>(memberIndex), &data);
  if (*listed &&
      primary_.GetDeviceInterfaceDetail(set, data, nullptr, 0, &required) ==
          DetailResult::kInsufficientBuffer &&
      required > 0 && required <= static_cast<size_t>(kDevicePathCapacity)) {
    // A path that would not fit the record fails the open instead of overrunning it.
    std::vector<char> detail(required);
    if (primary_.GetDeviceInterfaceDetail(set, data, detail.data(), detail.size(), &required) ==
        DetailResult::kOk) {
      detail.back() = '\0';
      std::memset(record.devicePath, 0, sizeof record.devicePath);
      std::strncpy(record.devicePath, detail.data(), sizeof record.devicePath - 1);
      file = primary_.CreateFile(record.devicePath);
    }
  }
  primary_.DestroyDeviceInfoList(set);
  if (file == kInvalidHandle) return false;

  if (!PrimaryOpenOnInterface(record, file)) {
    primary_.CloseHandle(file);
    return false;
  }
  record.fileHandle = file;
  return true;
}

bool Link::PrimaryOpenOnInterface(DeviceRecord& record, TransportHandle file) {
  TransportHandle interfaceHandle = kNullHandle;
  if (!primary_.Initialize(file, &interfaceHandle) || !LiveInterface(interfaceHandle)) {
    record.interfaceHandle = kInvalidHandle;
    return false;
  }
  record.interfaceHandle = interfaceHandle;
  InterfaceDescriptor descriptor{};
  if (!primary_.QueryDeviceSpeed(interfaceHandle, &record.deviceSpeed) ||
      !primary_.QueryInterfaceSettings(interfaceHandle, 0, &descriptor)) {
    // Freed at once, so the record reads as closed and no interface stays claimed.
    primary_.Free(interfaceHandle);
    record.interfaceHandle = kInvalidHandle;
    return false;
  }
  ClassifyPipes(primary_, interfaceHandle, descriptor.numEndpoints, record);
  return true;
}

void Link::PrimaryClose(DeviceRecord& record) {
  if (LiveInterface(record.interfaceHandle)) primary_.Free(record.interfaceHandle);
  if (record.interfaceHandle != kNullHandle) record.interfaceHandle = kInvalidHandle;
  if (record.fileHandle != kInvalidHandle) {
    primary_.CloseHandle(record.fileHandle);
    record.fileHandle = kInvalidHandle;
  }
}

int Link::PrimaryTransfer(DeviceRecord& record, bool write, unsigned char* buffer, int length,
                          int* transferred, int timeoutMs) {
  if (!LiveInterface(record.interfaceHandle)) return Fail(transferred);
  const uint8_t pipe = write ? record.bulkOutPipe : record.bulkInPipe;
  // The time-out travels as the pipe's policy. Its result is ignored: a pipe that refuses it
  // keeps its previous time-out, and the transfer's own result tells the caller what happened.
  primary_.SetPipeTimeout(record.interfaceHandle, pipe, static_cast<uint32_t>(timeoutMs));
  uint32_t moved = 0;
  const bool ok =
      write ? primary_.WritePipe(record.interfaceHandle, pipe, buffer, static_cast<uint32_t>(length), &moved)
            : primary_.ReadPipe(record.interfaceHandle, pipe, buffer, static_cast<uint32_t>(length), &moved);
  if (transferred) *transferred = static_cast<int>(moved);
  return ok ? 1 : 0;
}

bool Link::Libusb0Open(int productId) {
  Libusb0Close();
  libusb0_.Init();
  libusb0_.FindBusses();
  libusb0_.FindDevices();
  const auto wanted = static_cast<uint16_t>(productId & 0xFFFF);
  // The last matching device in walk order is the one used. Only it is opened, so no handle of
  // an earlier match is left open behind it.
  const Libusb0Device* match = nullptr;
  const std::vector<Libusb0Bus> busses = libusb0_.GetBusses();
  for (const Libusb0Bus& bus : busses) {
    for (const Libusb0Device& device : bus.devices) {
      if (device.idVendor == kProbeVendorId && device.idProduct == wanted) match = &device;
    }
  }
  if (!match) return false;
  const TransportHandle handle = libusb0_.Open(match->device);
  if (handle == kNullHandle) return false;
  if (libusb0_.SetConfiguration(handle, kLibusb0Configuration) < 0 ||
      libusb0_.ClaimInterface(handle, kLibusb0Interface) < 0) {
    libusb0_.Close(handle);
    return false;
  }
  libusb0Handle_ = handle;
  libusb0Location_ = TextUpToNul(libusb0_.Location(handle));
  return true;
}

void Link::Libusb0Close() {
  if (libusb0Handle_ == kNullHandle) return;
  libusb0_.ReleaseInterface(libusb0Handle_, kLibusb0Interface);
  libusb0_.Close(libusb0Handle_);
  libusb0Handle_ = kNullHandle;
  libusb0Location_.clear();
}

int Link::Libusb0Transfer(bool write, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  if (libusb0Handle_ == kNullHandle) return Fail(transferred);
  char* bytes = reinterpret_cast<char*>(buffer);
  const int result = write ? libusb0_.BulkWrite(libusb0Handle_, kLibusb0BulkOut, bytes, length, timeoutMs)
                           : libusb0_.BulkRead(libusb0Handle_, kLibusb0BulkIn, bytes, length, timeoutMs);
  if (transferred) *transferred = result;
  // A negative result is an error or a time-out: reporting it as success would let a probe that
  // stopped answering pass every command.
  return result < 0 ? 0 : 1;
}

int Link::Transfer(int deviceIndex, bool write, unsigned char* buffer, int length, int* transferred,
                   int timeoutMs) {
  if (!ValidIndex(deviceIndex) || length < 0 || (buffer == nullptr && length > 0)) return Fail(transferred);
  if (Mode() == LinkMode::kLibusb0) {
    if (deviceIndex != 0) return Fail(transferred);
    return Libusb0Transfer(write, buffer, length, transferred, timeoutMs);
  }
  return PrimaryTransfer(records_[deviceIndex], write, buffer, length, transferred, timeoutMs);
}

int Link::Write(int deviceIndex, const unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  // Neither transport writes through the pointer on the way out.
  return Transfer(deviceIndex, true, const_cast<unsigned char*>(buffer), length, transferred, timeoutMs);
}

int Link::Read(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs) {
  return Transfer(deviceIndex, false, buffer, length, transferred, timeoutMs);
}

int Link::WriteChunks(int deviceIndex, const unsigned char* buffer, int length, int count, int timeoutMs,
                      int* completed, int* failedResult, int* failedTransferred, int* attempted) {
  for (int* out : {completed, failedResult, failedTransferred, attempted}) {
    if (out) *out = 0;
  }
  if (!completed || !failedResult || !failedTransferred || !ValidIndex(deviceIndex) || count < 0 ||
      length <= 0 || (buffer == nullptr && count > 0) || int64_t{count} * length > INT_MAX) {
    return 0;
  }
  if (Mode() == LinkMode::kLibusb0) {
    if (deviceIndex != 0 || libusb0Handle_ == kNullHandle) return 0;
    // libusb 0.1 has no asynchronous writes: one after another, with Write's results.
    for (int i = 0; i < count; ++i) {
      int moved = 0;
      unsigned char* chunk = const_cast<unsigned char*>(buffer) + static_cast<size_t>(i) * length;
      const int result = Libusb0Transfer(true, chunk, length, &moved, timeoutMs);
      if (result == 0 || moved != length) {
        *completed = i;
        *failedResult = result;
        *failedTransferred = moved;
        if (attempted) *attempted = i + 1;
        return 0;
      }
    }
    *completed = count;
    if (attempted) *attempted = count;
    return 1;
  }
  DeviceRecord& record = records_[deviceIndex];
  if (!LiveInterface(record.interfaceHandle)) return 0;
  if (count == 0) return 1;
  // As for Write, the time-out travels as the pipe's policy and a refusal keeps the previous one.
  primary_.SetPipeTimeout(record.interfaceHandle, record.bulkOutPipe, static_cast<uint32_t>(timeoutMs));
  bool failedOk = false;
  uint32_t failedMoved = 0;
  const int done = primary_.WritePipeChunks(record.interfaceHandle, record.bulkOutPipe, buffer,
                                            static_cast<uint32_t>(length), count, &failedOk, &failedMoved);
  *completed = std::clamp(done, 0, count);
  if (attempted) *attempted = std::min(*completed + 1, count);
  if (*completed == count) return 1;
  *failedResult = failedOk ? 1 : 0;
  *failedTransferred = static_cast<int>(failedMoved);
  return 0;
}

void Link::Close(int deviceIndex) {
  if (!ValidIndex(deviceIndex)) return;
  // A record opened through the primary transport before LinkMode changed is still released.
  PrimaryClose(records_[deviceIndex]);
  if (Mode() == LinkMode::kLibusb0 && deviceIndex == 0) Libusb0Close();
}

int Link::DeviceLocation(int deviceIndex, char* buffer, int size) const {
  if (size < 0 || (buffer == nullptr && size > 0)) return 0;
  if (size > 0) buffer[0] = '\0';
  if (!ValidIndex(deviceIndex)) return 0;
  // The same rule as the transfers: under libusb0 only index 0 reaches a probe.
  const std::string* location = nullptr;
  if (Mode() == LinkMode::kLibusb0) {
    if (deviceIndex == 0 && libusb0Handle_ != kNullHandle) location = &libusb0Location_;
  } else if (LiveInterface(records_[deviceIndex].interfaceHandle)) {
    location = &locations_[deviceIndex];
  }
  if (location == nullptr || location->empty()) return 0;
  const size_t length = std::min<size_t>(location->size(), INT_MAX);
  if (size > 0) {
    const size_t copied = std::min(length, static_cast<size_t>(size) - 1);
    std::memcpy(buffer, location->data(), copied);
    buffer[copied] = '\0';
  }
  return static_cast<int>(length);
}

}  // namespace vorlink
