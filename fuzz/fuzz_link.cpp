// SPDX-License-Identifier: MIT
#include "fuzz_link.h"

#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>

namespace zolt::fuzz {
namespace {

const uint8_t* g_data = nullptr;
size_t g_size = 0;
std::atomic<int>* g_stop = nullptr;

int Open(int, int) {
  return 1;
}
int Write(int, unsigned char*, int length, int* transferred, int) {
  if (transferred != nullptr) *transferred = length;
  return 1;
}
int Read(int, unsigned char* buffer, int length, int* transferred, int) {
  if (transferred != nullptr) *transferred = 0;
  uint8_t control = 0xFF;
  while (g_size > 0) {
    control = *g_data++;
    --g_size;
    if (control != 0xFE) break;
    if (g_stop != nullptr) g_stop->store(1);
    control = 0xFF;
  }
  if (control == 0xFF || length < 0) return 0;
  const size_t want = control < static_cast<size_t>(length) ? control : static_cast<size_t>(length);
  if (g_size < want) {
    g_data += g_size;
    g_size = 0;
    return 0;
  }
  std::memcpy(buffer, g_data, want);
  g_data += want;
  g_size -= want;
  if (transferred != nullptr) *transferred = static_cast<int>(want);
  return 1;
}
void Close(int) {}

std::string g_imagePath;
void RemoveImage() {
  ::unlink(g_imagePath.c_str());
}

}  // namespace

void FeedLink(const uint8_t* data, size_t size, std::atomic<int>* stop) {
  g_data = data;
  g_size = size;
  g_stop = stop;
}

ProbeLink FuzzProbeLink() {
  return ProbeLink{Open, Write, Read, Close};
}

size_t LinkBytesLeft() {
  return g_size;
}

const char* FuzzImagePath() {
  if (g_imagePath.empty()) {
    const char* tmp = std::getenv("TMPDIR");
    std::string pattern =
        std::string(tmp != nullptr && *tmp != '\0' ? tmp : "/tmp") + "/zolt-fuzz-image.XXXXXX";
    const int fd = ::mkstemp(pattern.data());
    if (fd < 0) std::abort();
    uint8_t bytes[5000];
    for (size_t i = 0; i < sizeof bytes; ++i) bytes[i] = static_cast<uint8_t>(i * 31 + 7);
    if (::write(fd, bytes, sizeof bytes) != static_cast<ssize_t>(sizeof bytes)) std::abort();
    ::close(fd);
    g_imagePath = pattern;
    std::atexit(RemoveImage);
  }
  return g_imagePath.c_str();
}

}  // namespace zolt::fuzz
