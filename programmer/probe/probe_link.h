// ProbeLink: the four entry points of libVorlink.so as the programmer binds them at each RUN.
// Every probe command and every job reaches a probe only through these.
#pragma once

namespace zolt {

using OpenDeviceFn = int (*)(int productId, int deviceIndex);
using WriteFn = int (*)(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);
using ReadFn = int (*)(int deviceIndex, unsigned char* buffer, int length, int* transferred, int timeoutMs);
using CloseFn = void (*)(int deviceIndex);

struct ProbeLink {
  OpenDeviceFn OpenDevice = nullptr;
  WriteFn Write = nullptr;
  ReadFn Read = nullptr;
  CloseFn Close = nullptr;
};

// USB product ID with which the programmer opens all of its probes.
inline constexpr int kProbeProductId = 0x16;
// Device indices 0..15.
inline constexpr int kMaxProbes = 16;
// Time-out of every probe command exchange, in milliseconds.
inline constexpr int kCommandTimeoutMs = 500;
// The probe's acknowledgement byte, the letter "Q".
inline constexpr unsigned char kProbeAck = 0x51;

}  // namespace zolt
