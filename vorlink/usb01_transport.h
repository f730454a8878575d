// SPDX-License-Identifier: MIT
// The libusb0 transport over the real libusb 0.1 (usb.h): each operation is the one call it is
// named after. Threads and results: see libusb0_transport.h.
#pragma once

#include <string>
#include <utility>

#include "diagnostic_sink.h"
#include "libusb0_transport.h"

namespace vorlink {

class Usb01Transport final : public Libusb0Transport {
 public:
  // `diagnostics`, when set, receives usb_strerror() of every failed open, configuration and claim.
  explicit Usb01Transport(DiagnosticSink diagnostics = nullptr) : diagnostics_(std::move(diagnostics)) {}
  void Init() override;
  int FindBusses() override;
  int FindDevices() override;
  std::vector<Libusb0Bus> GetBusses() override;
  TransportHandle Open(std::uintptr_t device) override;
  int SetConfiguration(TransportHandle handle, int configuration) override;
  int ClaimInterface(TransportHandle handle, int interface) override;
  int ReleaseInterface(TransportHandle handle, int interface) override;
  int BulkWrite(TransportHandle handle, int endpoint, const char* bytes, int size, int timeoutMs) override;
  int BulkRead(TransportHandle handle, int endpoint, char* bytes, int size, int timeoutMs) override;
  int Close(TransportHandle handle) override;
  // "usb:<bus>-<port path>" of the device, found through libusb-1.0 by its bus number and
  // address; "libusb0:<bus folder>/<device file>" (for example "libusb0:001/004") when libusb-1.0
  // does not know it. Libusb 0.1 itself knows no port path, and its address changes at every
  // plug.
  std::string Location(TransportHandle handle) override;

 private:
  int Diagnose(const char* what, int result) const;
  DiagnosticSink diagnostics_;
};

}  // namespace vorlink
