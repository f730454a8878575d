#include "trace.h"

#include <fcntl.h>
#include <time.h>
#include <unistd.h>

#include <cstdio>

namespace vorlink {

namespace {

std::string Timestamp() {
  timespec now{};
  clock_gettime(CLOCK_MONOTONIC, &now);
  char text[32];
  std::snprintf(text, sizeof text, "%lld.%06ld", static_cast<long long>(now.tv_sec), now.tv_nsec / 1000);
  return text;
}

}  // namespace

std::unique_ptr<Trace> Trace::Open(const std::string& path) {
  const int fd = ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC, 0644);
  if (fd < 0) return nullptr;
  return std::unique_ptr<Trace>(new Trace(fd));
}

Trace::~Trace() {
  ::close(fd_);
}

void Trace::WriteLine(std::string& line) {
  line += '\n';
  // One write() per line: with O_APPEND the kernel appends it whole, whatever other threads do.
  [[maybe_unused]] const ssize_t written = ::write(fd_, line.data(), line.size());
}

void Trace::OpenDevice(int deviceIndex, int productId, int result, bool viaLibusb0) {
  char text[96];
  std::snprintf(text, sizeof text, " dev=%d fn=OpenDevice pid=0x%04x result=%d via=%s", deviceIndex,
                productId & 0xFFFF, result, viaLibusb0 ? "libusb0" : "primary");
  std::string line = Timestamp() + text;
  WriteLine(line);
}

void Trace::Transfer(const char* function, int deviceIndex, int length, int count, int timeoutMs, int result,
                     const unsigned char* bytes, int byteCount) {
  char text[128];
  std::snprintf(text, sizeof text, " dev=%d fn=%s len=%d count=%d timeout=%d result=%d data=", deviceIndex,
                function, length, count, timeoutMs, result);
  std::string line = Timestamp() + text;
  static constexpr char kHex[] = "0123456789abcdef";
  if (bytes && byteCount > 0) {
    line.reserve(line.size() + 2 * static_cast<size_t>(byteCount) + 1);
    for (int i = 0; i < byteCount; ++i) {
      line += kHex[bytes[i] >> 4];
      line += kHex[bytes[i] & 0x0F];
    }
  }
  WriteLine(line);
}

void Trace::Close(int deviceIndex) {
  std::string line = Timestamp() + " dev=" + std::to_string(deviceIndex) + " fn=Close";
  WriteLine(line);
}

void Trace::Note(const std::string& text) {
  std::string line = Timestamp() + " note ";
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  WriteLine(line);
}

}  // namespace vorlink
