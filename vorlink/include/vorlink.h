// The four exports of libVorlink.so, the USB link library between the programmer and its probes.
// All integers are 32-bit signed. Nonzero means success, 0 failure; the library shows nothing.
#pragma once

#ifdef __cplusplus
extern "C" {
#endif

#define VORLINK_EXPORT __attribute__((visibility("default")))

// Opens the probe with USB product ID `productId` (low 16 bits) at device index 0..15.
// Blocks for the enumeration; returns 1 when open and ready, 0 if not.
VORLINK_EXPORT int OpenDevice(int productId, int deviceIndex);

// Sends `length` bytes. `*transferred` receives the count. Blocks up to `timeoutMs`.
VORLINK_EXPORT int Write(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);

// Reads up to `length` bytes into `buffer`. `*transferred` receives the count. Blocks up to `timeoutMs`.
VORLINK_EXPORT int Read(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);

// Closes the probe at `deviceIndex`. Does nothing for a probe that is not open.
VORLINK_EXPORT void Close(int deviceIndex);

#ifdef __cplusplus
}
#endif
