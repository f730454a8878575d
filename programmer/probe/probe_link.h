// SPDX-License-Identifier: MIT
// ProbeLink: the four entry points of libVorlink.so as the programmer binds them at each RUN.
// Every probe command and every job reaches a probe only through these.
//
// What the programmer relies on (the library's own header, vorlink.h, is the reference):
//  - OpenDevice(productId, device): blocks for the enumeration; nonzero when the probe at device
//    index 0..15 is open, 0 otherwise.
//  - Write / Read(device, buffer, length, &transferred, timeoutMs): block up to `timeoutMs`;
//    nonzero when the transfer was accepted, 0 on failure or time-out. The buffer and the count
//    belong to the caller for the length of the call.
//  - Close(device): never fails; nothing happens for a probe that is not open.
//  - Threads: calls for different device indices may run at once; calls for one index must not
//    overlap. The entries are written only by BindProbeLink, before any job starts.
//  - An entry is null until bound, and stays null after a bind that did not find it.
//  - DeviceLocation is optional: a library with only the four entries leaves it null, and the
//    programmer then calls a probe's location "unknown" (ProbeLocation).
//  - WriteChunks is optional too: a library without it leaves it null, and data goes out one
//    synchronous Write per chunk.
#pragma once

#include <string>

namespace zolt {

using OpenDeviceFn = int (*)(int productId, int deviceIndex);
using WriteFn = int (*)(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);
using ReadFn = int (*)(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);
using CloseFn = void (*)(int deviceIndex);
// Writes the location of the probe open at `deviceIndex` ("usb:<bus>-<port path>", "bench:<name>")
// as NUL-terminated text into `buffer` (at most `size` bytes, cut to fit); returns the location's
// full length without the NUL, or 0 when the index is not open (buffer[0] is then NUL).
using DeviceLocationFn = int (*)(int deviceIndex, char* buffer, int size);
// Writes `count` chunks of `length` bytes each from `buffer` (count x length contiguous bytes),
// keeping them all in flight, each with the time-out `timeoutMs`. Nonzero when every chunk was
// accepted whole (and when `count` is 0). Otherwise 0, with *completed = the chunks before the
// first one that did not go out whole, *failedResult = what Write would have returned for that
// chunk and *failedTransferred = its byte count; the chunks after it were not sent.
using WriteChunksFn = int (*)(int deviceIndex, unsigned char* buffer, int length, int count, int timeoutMs,
                              int* completed, int* failedResult, int* failedTransferred);

struct ProbeLink {
  OpenDeviceFn OpenDevice = nullptr;
  WriteFn Write = nullptr;
  ReadFn Read = nullptr;
  CloseFn Close = nullptr;
  DeviceLocationFn DeviceLocation = nullptr;  // optional export
  WriteChunksFn WriteChunks = nullptr;        // optional export
};

// The location of the probe open at `device`, "unknown" when the library has no DeviceLocation
// export or does not know it. Any thread; the device must not be opened or closed meanwhile.
inline std::string ProbeLocation(const ProbeLink& link, int device) {
  if (link.DeviceLocation == nullptr) return "unknown";
  char buffer[512] = {};
  const int length = link.DeviceLocation(device, buffer, static_cast<int>(sizeof buffer));
  if (length <= 0 || buffer[0] == '\0') return "unknown";
  buffer[sizeof buffer - 1] = '\0';
  return buffer;
}

// USB product ID with which the programmer opens all of its probes.
inline constexpr int kProbeProductId = 0x16;
// Device indices 0..15.
inline constexpr int kMaxProbes = 16;
// Time-out of every probe command exchange, in milliseconds.
inline constexpr int kCommandTimeoutMs = 500;
// The probe's acknowledgement byte, the letter "Q".
inline constexpr unsigned char kProbeAck = 0x51;

}  // namespace zolt
