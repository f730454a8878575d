// SPDX-License-Identifier: MIT
#include "usb01_transport.h"

#include <libusb.h>
#include <usb.h>

#include <array>
#include <cerrno>
#include <cstdlib>
#include <string>

namespace vorlink {

namespace {

usb_dev_handle* AsHandle(TransportHandle handle) {
  return reinterpret_cast<usb_dev_handle*>(handle);
}

}  // namespace

// Passes `result` through; a negative one is described to the sink first.
int Usb01Transport::Diagnose(const char* what, int result) const {
  if (result < 0 && diagnostics_) {
    diagnostics_(std::string("libusb 0.1: ") + what + ": " + usb_strerror() + " (" + std::to_string(result) +
                 ")");
  }
  return result;
}

void Usb01Transport::Init() {
  usb_init();
}

int Usb01Transport::FindBusses() {
  return usb_find_busses();
}

int Usb01Transport::FindDevices() {
  return usb_find_devices();
}

std::vector<Libusb0Bus> Usb01Transport::GetBusses() {
  std::vector<Libusb0Bus> busses;
  for (usb_bus* bus = usb_get_busses(); bus; bus = bus->next) {
    Libusb0Bus& entry = busses.emplace_back();
    for (struct usb_device* device = bus->devices; device; device = device->next) {
      entry.devices.push_back({device->descriptor.idVendor, device->descriptor.idProduct,
                               reinterpret_cast<std::uintptr_t>(device)});
    }
  }
  return busses;
}

TransportHandle Usb01Transport::Open(std::uintptr_t device) {
  if (device == 0) return kNullHandle;
  usb_dev_handle* handle = usb_open(reinterpret_cast<struct usb_device*>(device));
  if (!handle && diagnostics_) diagnostics_(std::string("libusb 0.1: cannot open: ") + usb_strerror());
  return reinterpret_cast<TransportHandle>(handle);
}

int Usb01Transport::SetConfiguration(TransportHandle handle, int configuration) {
  return handle ? Diagnose("cannot set the configuration",
                           usb_set_configuration(AsHandle(handle), configuration))
                : -ENODEV;
}

int Usb01Transport::ClaimInterface(TransportHandle handle, int interface) {
  return handle ? Diagnose("cannot claim the interface", usb_claim_interface(AsHandle(handle), interface))
                : -ENODEV;
}

int Usb01Transport::ReleaseInterface(TransportHandle handle, int interface) {
  return handle ? usb_release_interface(AsHandle(handle), interface) : -ENODEV;
}

int Usb01Transport::BulkWrite(TransportHandle handle, int endpoint, const char* bytes, int size,
                              int timeoutMs) {
  return handle ? usb_bulk_write(AsHandle(handle), endpoint, bytes, size, timeoutMs) : -ENODEV;
}

int Usb01Transport::BulkRead(TransportHandle handle, int endpoint, char* bytes, int size, int timeoutMs) {
  return handle ? usb_bulk_read(AsHandle(handle), endpoint, bytes, size, timeoutMs) : -ENODEV;
}

int Usb01Transport::Close(TransportHandle handle) {
  return handle ? usb_close(AsHandle(handle)) : -ENODEV;
}

std::string Usb01Transport::Location(TransportHandle handle) {
  if (!handle) return {};
  const struct usb_device* device = usb_device(AsHandle(handle));
  if (!device || !device->bus) return {};
  // libusb-compat names the bus folder and the device file by their numbers ("001", "004").
  char* end = nullptr;
  const unsigned long bus = std::strtoul(device->bus->dirname, &end, 10);
  const bool numbered = end != device->bus->dirname && *end == '\0';
  const std::string fallback = std::string("libusb0:") + device->bus->dirname + "/" + device->filename;
  libusb_context* context = nullptr;
  if (!numbered || libusb_init(&context) != LIBUSB_SUCCESS) return fallback;
  std::string location;
  libusb_device** list = nullptr;
  const ssize_t count = libusb_get_device_list(context, &list);
  for (ssize_t i = 0; i < count; ++i) {
    if (libusb_get_bus_number(list[i]) != bus || libusb_get_device_address(list[i]) != device->devnum)
      continue;
    std::array<uint8_t, 8> ports{};
    const int depth = libusb_get_port_numbers(list[i], ports.data(), static_cast<int>(ports.size()));
    if (depth <= 0) break;
    location = "usb:" + std::to_string(bus) + "-";
    for (int p = 0; p < depth; ++p) {
      if (p != 0) location += '.';
      location += std::to_string(ports[static_cast<size_t>(p)]);
    }
    break;
  }
  if (count >= 0) libusb_free_device_list(list, 1);
  libusb_exit(context);
  return location.empty() ? fallback : location;
}

}  // namespace vorlink
