// SPDX-License-Identifier: MIT
// NullPrimaryTransport: the primary transport of a library whose libusb-1.0 did not start. It
// enumerates no device and opens nothing, so every operation fails at once: the link then serves
// device index 0 through libusb 0.1 only and never reaches this object, which exists so that the
// link always has both transports. Any thread; never blocks; holds no state.
#pragma once

#include "primary_transport.h"

namespace vorlink {

class NullPrimaryTransport final : public PrimaryTransport {
 public:
  TransportHandle GetClassDevices(const Guid&) override { return kInvalidHandle; }
  void DestroyDeviceInfoList(TransportHandle) override {}
  bool EnumDeviceInterfaces(TransportHandle, const Guid&, uint32_t, InterfaceData*) override { return false; }
  DetailResult GetDeviceInterfaceDetail(TransportHandle, const InterfaceData&, char*, size_t,
                                        size_t*) override {
    return DetailResult::kFailed;
  }
  TransportHandle CreateFile(const char*) override { return kInvalidHandle; }
  bool CloseHandle(TransportHandle) override { return false; }
  bool Initialize(TransportHandle, TransportHandle*) override { return false; }
  bool Free(TransportHandle) override { return false; }
  bool QueryDeviceSpeed(TransportHandle, uint8_t*) override { return false; }
  bool QueryInterfaceSettings(TransportHandle, uint8_t, InterfaceDescriptor*) override { return false; }
  bool QueryPipe(TransportHandle, uint8_t, uint8_t, PipeInformation*) override { return false; }
  bool SetPipeTimeout(TransportHandle, uint8_t, uint32_t) override { return false; }
  bool WritePipe(TransportHandle, uint8_t, const uint8_t*, uint32_t, uint32_t* transferred) override {
    if (transferred) *transferred = 0;
    return false;
  }
  bool ReadPipe(TransportHandle, uint8_t, uint8_t*, uint32_t, uint32_t* transferred) override {
    if (transferred) *transferred = 0;
    return false;
  }
};

}  // namespace vorlink
