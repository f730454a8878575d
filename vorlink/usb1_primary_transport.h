// SPDX-License-Identifier: MIT
// The primary transport over libusb-1.0.
//
// A class GUID from the product table stands for the USB devices with vendor ID 0x1F3A and the
// product ID of that row. A set lists those devices in a stable order (bus number, then port
// path), so member n names the same physical probe while nothing is re-plugged. A device path
// reads "usb:<bus>-<port>.<port>..." (for example "usb:1-1.4"). CreateFile opens the device,
// Initialize claims interface 0 (the kernel driver, if one is bound, is detached and given back
// on Free), and the pipes are the endpoints of interface 0, alternate setting 0, with their real
// transfer types. Time-outs are kept per pipe and applied to that pipe's transfers.
//
// Threads: see primary_transport.h; libusb-1.0 itself is thread-safe.
#pragma once

#include <memory>
#include <string>
#include <utility>

#include "diagnostic_sink.h"
#include "primary_transport.h"

struct libusb_context;

namespace vorlink {

class Usb1PrimaryTransport final : public PrimaryTransport {
 public:
  // Initialises a libusb-1.0 context of its own; null when libusb cannot be initialised (no
  // usbfs, for example). Blocks for libusb's start-up. `diagnostics`, when set, receives the
  // libusb error of every failed init, open, claim and descriptor read.
  static std::unique_ptr<Usb1PrimaryTransport> Create(DiagnosticSink diagnostics = nullptr);
  ~Usb1PrimaryTransport() override;

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
  // Asynchronous transfers, submitted in order and completed on the calling thread by handling
  // libusb's events (no thread of its own): at most kChunksInFlight at a time, each next one
  // submitted as one completes. The first that does not complete whole cancels the rest, and the
  // call returns only once every submitted transfer has called back. Several threads may run it
  // at once for different interfaces (libusb_handle_events_completed with a flag per call).
  int WritePipeChunks(TransportHandle interfaceHandle, uint8_t pipeId, const uint8_t* buffer, uint32_t length,
                      int count, bool* failedOk, uint32_t* failedTransferred) override;
  // More than a block's 32 chunks; bounds what one call asks of usbfs's buffer memory.
  static constexpr int kChunksInFlight = 64;

 private:
  Usb1PrimaryTransport(libusb_context* context, DiagnosticSink diagnostics)
      : context_(context), diagnostics_(std::move(diagnostics)) {}
  void Diagnose(const std::string& what, int libusbError) const;
  bool Transfer(TransportHandle interfaceHandle, uint8_t pipeId, bool in, uint8_t* buffer, uint32_t length,
                uint32_t* transferred);
  libusb_context* context_;
  DiagnosticSink diagnostics_;
};

}  // namespace vorlink
