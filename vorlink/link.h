// SPDX-License-Identifier: MIT
// The link library's own logic: the 16 device records, LinkMode, the primary open with its
// fall-back to libusb0, and the transfers and close of either transport. It reaches USB only
// through the two transport interfaces, so it runs the same over libusb, the virtual bench or
// test fakes.
//
// Threads: no locks. Calls for one device index must not overlap; calls for different device
// indices may come from different threads at once (they share only LinkMode, which is atomic,
// and, under libusb0, nothing, because only device index 0 is served there).
//
// Every result is 1 for success and 0 for failure; nothing is shown or thrown.
#pragma once

#include <array>
#include <atomic>
#include <string>

#include "device_record.h"
#include "libusb0_transport.h"
#include "primary_transport.h"

namespace vorlink {

// The libusb0 identity of the probe.
inline constexpr uint16_t kProbeVendorId = 0x1F3A;
inline constexpr int kLibusb0Configuration = 1;
inline constexpr int kLibusb0Interface = 0;
inline constexpr int kLibusb0BulkOut = 0x01;
inline constexpr int kLibusb0BulkIn = 0x82;

class Link {
 public:
  // The transports must outlive the Link. `initialMode` is the load-time choice: kPrimary, or
  // kLibusb0 when the primary transport could not be initialised.
  Link(PrimaryTransport& primary, Libusb0Transport& libusb0, LinkMode initialMode);
  Link(const Link&) = delete;
  Link& operator=(const Link&) = delete;

  // Opens device index 0..15 of product `productId` (low 16 bits). Blocks for the enumeration.
  // Under the primary transport tries the primary open; if that fails and the index is 0, tries
  // libusb0 and, when that succeeds, switches LinkMode to libusb0 for good. Under libusb0 only
  // index 0 opens. An index outside 0..15 fails without touching anything.
  int OpenDevice(int productId, int deviceIndex);

  // Transfers on the device index's bulk-out / bulk-in pipe. Block up to `timeoutMs`.
  // *transferred (when not null) receives the bytes moved; 0 when the call fails before any
  // transfer (closed or never opened record, index out of range, bad arguments).
  int Write(int deviceIndex, const unsigned char* buffer, int length, int* transferred, int timeoutMs);
  int Read(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);

  // Writes `count` chunks of `length` bytes, one after the other from `buffer`, on the device
  // index's bulk-out pipe, all in flight together under the primary transport (one after another
  // under libusb0), each with the time-out `timeoutMs`. Returns 1 when every chunk was accepted
  // whole; otherwise 0 with *completed = the chunks before the first one that was not,
  // *failedResult / *failedTransferred = what Write would have given for that one (the chunks
  // after it are not sent). Bad arguments (index outside 0..15 or not open, count < 0, length <= 0,
  // count x length beyond INT_MAX, a null buffer with count > 0, a null out-pointer) return 0 with
  // every writable out-value 0. count 0 on an open index returns 1 and sends nothing.
  // *attempted (optional, for the trace) receives the chunks that reached the transport: the
  // completed ones and the failed one.
  int WriteChunks(int deviceIndex, const unsigned char* buffer, int length, int count, int timeoutMs,
                  int* completed, int* failedResult, int* failedTransferred, int* attempted = nullptr);

  // Releases the device index's probe. Never blocks for long; does nothing for a probe that is
  // not open or an index outside 0..15.
  void Close(int deviceIndex);

  // Where the probe open at `deviceIndex` sits ("usb:1-1.4", "bench:line-1"), as NUL-terminated
  // text cut to fit `size` bytes. Returns the location's full length without the NUL (so a null
  // buffer with size 0 asks for the length), or 0 when the index is not open, its location is
  // unknown, the index is outside 0..15, `size` is negative or the buffer is null with a positive
  // size. buffer[0] is NUL whenever 0 is returned for a valid buffer and a positive size. Never
  // blocks: the text was taken when the index was opened.
  int DeviceLocation(int deviceIndex, char* buffer, int size) const;

  LinkMode Mode() const { return mode_.load(std::memory_order_acquire); }

  // For tests and diagnostics: the record of a device index (0..15).
  const DeviceRecord& Record(int deviceIndex) const { return records_[deviceIndex]; }
  bool Libusb0HandleOpen() const { return libusb0Handle_ != kNullHandle; }

 private:
  // `*listed`: the primary transport lists an interface at `memberIndex` (opened or not).
  bool PrimaryOpen(DeviceRecord& record, int productId, int memberIndex, bool* listed);
  bool PrimaryOpenOnInterface(DeviceRecord& record, TransportHandle file);
  void PrimaryClose(DeviceRecord& record);
  int PrimaryTransfer(DeviceRecord& record, bool write, unsigned char* buffer, int length, int* transferred,
                      int timeoutMs);

  bool Libusb0Open(int productId);
  void Libusb0Close();
  int Libusb0Transfer(bool write, unsigned char* buffer, int length, int* transferred, int timeoutMs);

  int Transfer(int deviceIndex, bool write, unsigned char* buffer, int length, int* transferred,
               int timeoutMs);

  PrimaryTransport& primary_;
  Libusb0Transport& libusb0_;
  std::atomic<LinkMode> mode_;
  std::array<DeviceRecord, kDeviceRecordCount> records_{};
  // Each record's location, taken by its open (written only by OpenDevice of that index).
  std::array<std::string, kDeviceRecordCount> locations_{};
  // The one libusb0 device handle, serving device index 0 while LinkMode is libusb0;
  // kNullHandle whenever no device is open through it.
  TransportHandle libusb0Handle_ = kNullHandle;
  std::string libusb0Location_;  // of the device libusb0Handle_ has open
};

}  // namespace vorlink
