// SPDX-License-Identifier: MIT
// The exports of libVorlink.so, the USB link library between the programmer and its probes: the
// four entry points, DeviceLocation and WriteChunks.
// All integers are 32-bit signed. Nonzero means success, 0 failure; the library shows nothing and
// sets no error state of its own.
//
// Threads: any thread may call any export. Calls for one device index must not overlap (the
// programmer drives each probe from one thread at a time); calls for different device indices
// may run at the same time. The library takes no lock of its own.
//
// Environment, read once when the library loads: VORLINK_TRACE=<file> appends one line per call
// to that file; VORLINK_BENCH=<bench file> serves every probe from the virtual bench instead of
// USB (docs/vorlink.md).
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define VORLINK_EXPORT __attribute__((visibility("default")))

// Opens the probe with USB product ID `productId` (low 16 bits) at device index 0..15: the
// index-th such probe in bus and port order, or, when no such probe is listed at index 0, the
// probe as libusb 0.1 finds it (after which only index 0 opens); a listed probe that cannot be
// opened (another program holds it) is not looked for there. Opening an index that is open
// releases it first. Blocks for the enumeration and the claim of the probe's interface.
// Returns 1 when open and ready; 0 for no such probe, a probe that cannot be opened or claimed,
// or an index outside 0..15.
VORLINK_EXPORT int OpenDevice(int productId, int deviceIndex);

// Sends `length` bytes on the probe's bulk OUT pipe. Blocks until sent or for up to `timeoutMs`
// milliseconds (0: no time-out). `*transferred` (when not null) receives the bytes sent, or,
// under libusb 0.1, the library's negative error code. Returns 0 on a time-out, a transfer error,
// an unplugged probe, a device index that is not open or outside 0..15, a negative length or a
// null buffer with a positive length.
VORLINK_EXPORT int Write(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);

// Reads up to `length` bytes from the probe's bulk IN pipe into `buffer`. Blocks as `Write`
// does; `*transferred` receives the bytes read (or the negative libusb 0.1 error code). Results
// as for `Write`.
VORLINK_EXPORT int Read(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);

// Releases the probe at `deviceIndex` so that it can be opened again. Does not block for long.
// Does nothing for a probe that is not open, a second time, or an index outside 0..15.
VORLINK_EXPORT void Close(int deviceIndex);

// Writes where the probe open at `deviceIndex` sits as NUL-terminated text into `buffer`: at most
// `size` bytes, the NUL included, cut to fit. "usb:<bus>-<port path>" for a probe on USB (for
// example "usb:1-1.4"; through libusb 0.1 "libusb0:<bus>/<device>" when the port path cannot be
// found), "bench:<probe name>" on the virtual bench. Returns the location's full length without
// the NUL, so that a result >= `size` means it was cut and a null `buffer` with `size` 0 asks for
// the length (as snprintf). Returns 0 when the index is not open, under libusb 0.1 for any index
// but 0, for an index outside 0..15, a negative `size` or a null `buffer` with a positive `size`;
// buffer[0] is then NUL when the buffer can hold it. Never blocks. Calls for one index must not
// overlap that index's OpenDevice or Close.
// Exists from version 2.0.0 of the library; a programmer binds it by name and treats a library
// without it as one that knows no locations.
VORLINK_EXPORT int DeviceLocation(int deviceIndex, char* buffer, int size);

// Writes `count` chunks of `length` bytes each, taken one after the other from `buffer`
// (count x length bytes), to the probe's bulk OUT pipe as `Write` would, one chunk per transfer,
// but keeping them all in flight: the probe sees the same packets in the same order, only the
// gaps between them shrink. Each chunk has the time-out `timeoutMs` (0: none), counted from
// when it is submitted (all are submitted at the start). Blocks until all have completed or
// the first has failed. Returns nonzero when every chunk was accepted whole (each as a `Write`
// returning nonzero with *transferred == length). Otherwise returns 0 and sets *completed to the
// number of chunks before the first one that did not complete whole, *failedResult to what
// `Write` would have returned for it (nonzero for a short transfer, 0 for a failed or timed-out
// one) and *failedTransferred to its byte count (under libusb 0.1 the negative error code, as
// `Write`'s *transferred); the chunks after it are cancelled and not sent. Bad arguments return 0
// with *completed, *failedResult and *failedTransferred 0 where they can be written: a device
// index that is not open or outside 0..15, count < 0, length <= 0, count x length above INT_MAX, a
// null buffer with count > 0, a null out-pointer. count 0 on an open index returns nonzero and
// sends nothing. Under libusb 0.1 the chunks go one after another (same results, no overlap).
// Threads as `Write`: calls for one device index must not overlap.
// Exists from version 2.0.0 of the library; a programmer binds it by name and falls back to one
// `Write` per chunk without it.
VORLINK_EXPORT int WriteChunks(int deviceIndex, unsigned char* buffer, int length, int count, int timeoutMs,
                               int* completed, int* failedResult, int* failedTransferred);

#ifdef __cplusplus
}
#endif
