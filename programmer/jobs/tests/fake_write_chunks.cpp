// SPDX-License-Identifier: MIT
// The fake bench's optional WriteChunks export, in a library of its own: binding it by path gives
// a link library with all five entry points (the four others come from FakeVorlink, which it links).
#include "fake_probe.h"

extern "C" __attribute__((visibility("default"))) int WriteChunks(int deviceIndex, unsigned char* buffer,
                                                                  int length, int count, int timeoutMs,
                                                                  int* completed, int* failedResult,
                                                                  int* failedTransferred) {
  return zolt::testing::FakeBench::ChunkLink().WriteChunks(deviceIndex, buffer, length, count, timeoutMs,
                                                           completed, failedResult, failedTransferred);
}
