#include "usb01_transport.h"

#include <usb.h>

#include <cerrno>

namespace vorlink {

namespace {

usb_dev_handle* AsHandle(TransportHandle handle) {
  return reinterpret_cast<usb_dev_handle*>(handle);
}

}  // namespace

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
  return reinterpret_cast<TransportHandle>(usb_open(reinterpret_cast<struct usb_device*>(device)));
}

int Usb01Transport::SetConfiguration(TransportHandle handle, int configuration) {
  return handle ? usb_set_configuration(AsHandle(handle), configuration) : -ENODEV;
}

int Usb01Transport::ClaimInterface(TransportHandle handle, int interface) {
  return handle ? usb_claim_interface(AsHandle(handle), interface) : -ENODEV;
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

}  // namespace vorlink
