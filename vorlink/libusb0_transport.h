// SPDX-License-Identifier: MIT
// The libusb0 transport: exactly the libusb 0.1 calls the link library's fall-back uses, so
// that the real usb.h (usb01_transport.h), the virtual bench (bench_transport.h) or a test fake
// can serve them.
//
// Threads: libusb 0.1 is not thread-safe, and the link library only ever uses one libusb0
// device (device index 0), from one thread at a time. An implementation need not guard itself.
//
// Results follow libusb 0.1: 0 or a count on success, a negative errno value on failure.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "transport_handle.h"

namespace vorlink {

struct Libusb0Device {
  uint16_t idVendor;
  uint16_t idProduct;
  std::uintptr_t device;  // what Open takes; belongs to the transport
};

struct Libusb0Bus {
  std::vector<Libusb0Device> devices;  // in list order
};

class Libusb0Transport {
 public:
  virtual ~Libusb0Transport() = default;

  // usb_init, usb_find_busses, usb_find_devices: (re)scan the buses. Block for the scan.
  virtual void Init() = 0;
  virtual int FindBusses() = 0;
  virtual int FindDevices() = 0;
  // usb_get_busses, walked into lists: every bus and every device on it, in list order. The
  // `device` values stay valid until the next FindBusses/FindDevices.
  virtual std::vector<Libusb0Bus> GetBusses() = 0;

  // usb_open: kNullHandle on failure.
  virtual TransportHandle Open(std::uintptr_t device) = 0;
  virtual int SetConfiguration(TransportHandle handle, int configuration) = 0;
  virtual int ClaimInterface(TransportHandle handle, int interface) = 0;
  virtual int ReleaseInterface(TransportHandle handle, int interface) = 0;
  // Block up to `timeoutMs`. Bytes moved, or a negative error code (time-out included).
  virtual int BulkWrite(TransportHandle handle, int endpoint, const char* bytes, int size, int timeoutMs) = 0;
  virtual int BulkRead(TransportHandle handle, int endpoint, char* bytes, int size, int timeoutMs) = 0;
  // usb_close: the handle is gone afterwards whatever the result.
  virtual int Close(TransportHandle handle) = 0;

  // Where the device an Open handle reaches sits ("usb:1-1.4" where the port path can be found);
  // empty when unknown. Not a libusb 0.1 call; called once per open, may block for a bus scan.
  virtual std::string Location(TransportHandle handle) {
    (void)handle;
    return {};
  }
};

}  // namespace vorlink
