// SPDX-License-Identifier: MIT
#include "jobs/job_steps.h"

#include <cctype>
#include <cstring>
#include <thread>

namespace zolt {

int ClaimDeviceSlot(std::array<std::atomic<uint8_t>, kMaxProbes>& slots) {
  for (int i = 0; i < kMaxProbes; ++i) {
    if (slots[i].load() == 1 && slots[i].exchange(0) == 1) return i;
  }
  return -1;
}

uint32_t VersionNumber(const char* text) {
  char digits[8] = {};
  int length = 0;
  for (int i = 0; text[i] != '\0' && i < 7; ++i) {
    if (i != 2) digits[length++] = text[i];
  }
  const char* p = digits;
  while (*p != '\0' && std::isspace(static_cast<unsigned char>(*p))) ++p;
  uint32_t value = 0;
  for (; *p >= '0' && *p <= '9'; ++p) value = value * 10 + static_cast<uint32_t>(*p - '0');
  return value;
}

void DelayMs(const TickClock& clock, int ms) {
  const uint32_t start = clock.NowMs();
  while (static_cast<int32_t>(clock.NowMs() - start) <= ms) std::this_thread::yield();
}

const char* DisplayName(const char* path) {
  const char* slash = std::strrchr(path, '/');
  return slash != nullptr ? slash + 1 : path;
}

}  // namespace zolt
