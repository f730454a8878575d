// SPDX-License-Identifier: MIT
// The primary transport: the device-interface enumeration and pipe operations the link library's
// primary open, transfers and close are written against. On Linux it is served by libusb-1.0
// (usb1_primary_transport.h) or by the virtual bench (bench_transport.h); tests use fakes.
//
// Threads: any thread may call any operation. Operations on one interface handle (and its file
// handle) come from one thread at a time, because the link library drives each device index
// from one thread at a time; operations on different handles may run concurrently, so an
// implementation shares no unguarded state between handles.
//
// Failures are reported as false (or kInvalidHandle), never as exceptions; no operation shows
// anything.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>

#include "guid.h"
#include "transport_handle.h"

namespace vorlink {

// One entry of a device-interface set, as EnumDeviceInterfaces returns it. `reserved` belongs to
// the transport (it tells which device of the set the entry is).
struct InterfaceData {
  Guid classGuid;
  std::uintptr_t reserved;
};

struct InterfaceDescriptor {
  uint8_t interfaceNumber;
  uint8_t alternateSetting;
  uint8_t numEndpoints;
  uint8_t interfaceClass;
};

// USB transfer types, numbered as in the endpoint descriptor.
enum class PipeType : uint8_t { kControl = 0, kIsochronous = 1, kBulk = 2, kInterrupt = 3 };

struct PipeInformation {
  PipeType pipeType;
  uint8_t pipeId;  // the endpoint address; bit 7 set: IN
  uint16_t maximumPacketSize;
  uint8_t interval;
};

enum class DetailResult {
  kOk,
  kInsufficientBuffer,  // the buffer cannot hold the path; *requiredSize tells how large it must be
  kFailed
};

// Device speeds as the query reports them (0 when unknown).
inline constexpr uint8_t kSpeedLow = 1;
inline constexpr uint8_t kSpeedFull = 2;
inline constexpr uint8_t kSpeedHigh = 3;
inline constexpr uint8_t kSpeedSuper = 4;

class PrimaryTransport {
 public:
  virtual ~PrimaryTransport() = default;

  // Takes a snapshot of the present device interfaces of `classGuid`, in a stable order.
  // Blocks for the enumeration. kInvalidHandle on failure (also for an unknown class when the
  // transport cannot enumerate it).
  virtual TransportHandle GetClassDevices(const Guid& classGuid) = 0;
  // Releases a set from GetClassDevices. Never blocks.
  virtual void DestroyDeviceInfoList(TransportHandle set) = 0;
  // The `memberIndex`-th interface of the set; false when the set has no such member.
  virtual bool EnumDeviceInterfaces(TransportHandle set, const Guid& classGuid, uint32_t memberIndex,
                                    InterfaceData* data) = 0;
  // Copies the interface's device path, terminator included, into `path`. With a `capacity` too
  // small (0 to ask for the size) returns kInsufficientBuffer and sets *requiredSize; kFailed
  // for a bad set or entry.
  virtual DetailResult GetDeviceInterfaceDetail(TransportHandle set, const InterfaceData& data, char* path,
                                                size_t capacity, size_t* requiredSize) = 0;

  // Opens the device a path names for reading and writing. kInvalidHandle on failure (no such
  // device any more, permission, unplugged).
  virtual TransportHandle CreateFile(const char* path) = 0;
  // Closes a handle from CreateFile. false for a handle that is not open.
  virtual bool CloseHandle(TransportHandle file) = 0;

  // Claims the device's interface 0 and returns its interface handle; false on failure.
  virtual bool Initialize(TransportHandle file, TransportHandle* interfaceHandle) = 0;
  // Releases an interface handle from Initialize. false for a handle that is not live.
  virtual bool Free(TransportHandle interfaceHandle) = 0;

  virtual bool QueryDeviceSpeed(TransportHandle interfaceHandle, uint8_t* speed) = 0;
  virtual bool QueryInterfaceSettings(TransportHandle interfaceHandle, uint8_t alternateSetting,
                                      InterfaceDescriptor* descriptor) = 0;
  // The pipe (endpoint) at `pipeIndex` of the alternate setting, in descriptor order.
  virtual bool QueryPipe(TransportHandle interfaceHandle, uint8_t alternateSetting, uint8_t pipeIndex,
                         PipeInformation* pipe) = 0;
  // Sets the time-out, in milliseconds, that later transfers on this pipe use (0: none). Kept
  // per pipe until changed or the interface handle is freed.
  virtual bool SetPipeTimeout(TransportHandle interfaceHandle, uint8_t pipeId, uint32_t timeoutMs) = 0;

  // Synchronous transfers on a pipe. Block up to the pipe's time-out. *transferred receives the
  // bytes moved, also when the transfer fails or times out part-way. true only when the whole
  // transfer completed (a read may complete short).
  virtual bool WritePipe(TransportHandle interfaceHandle, uint8_t pipeId, const uint8_t* buffer,
                         uint32_t length, uint32_t* transferred) = 0;
  virtual bool ReadPipe(TransportHandle interfaceHandle, uint8_t pipeId, uint8_t* buffer, uint32_t length,
                        uint32_t* transferred) = 0;

  // Writes `count` transfers of `length` bytes each, taken one after the other from `buffer`, on an
  // OUT pipe, each with the pipe's time-out, keeping them in flight together in order (bulk OUT
  // has flow control, so the device sees the same packets in the same order as from one WritePipe
  // after another). Returns how many completed whole (`count` when all did) and stops at the
  // first that did not: for that one *failedOk tells whether it completed at all (short) and
  // *failedTransferred its bytes; the transfers after it are cancelled. By default one WritePipe
  // after another, which gives the same results without the overlap.
  virtual int WritePipeChunks(TransportHandle interfaceHandle, uint8_t pipeId, const uint8_t* buffer,
                              uint32_t length, int count, bool* failedOk, uint32_t* failedTransferred) {
    for (int i = 0; i < count; ++i) {
      uint32_t moved = 0;
      const bool ok =
          WritePipe(interfaceHandle, pipeId, buffer + static_cast<size_t>(i) * length, length, &moved);
      if (!ok || moved != length) {
        *failedOk = ok;
        *failedTransferred = moved;
        return i;
      }
    }
    return count;
  }

  // Where the device a CreateFile handle opened sits, for the programmer's records: by default
  // the device path it was opened by ("usb:1-1.4"). Empty when unknown. Called once per open.
  virtual std::string Location(TransportHandle file, const char* devicePath) {
    (void)file;
    return devicePath != nullptr ? devicePath : "";
  }
};

}  // namespace vorlink
