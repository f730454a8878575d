// SPDX-License-Identifier: MIT
#include "trace.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <time.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>

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

std::unique_ptr<Trace> Trace::Open(const std::string& path, std::string* error) {
  static constexpr char kNotAFile[] = "not a regular file or character device";
  std::string ignored;
  std::string& why = error ? *error : ignored;
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NONBLOCK | O_NOCTTY, 0644);
  struct stat st {};
  if (fd < 0) {
    // A FIFO without a reader and a socket fail with ENXIO, a folder with EISDIR: say what they are.
    const int code = errno;
    const bool special = ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode) && !S_ISCHR(st.st_mode);
    why = special ? kNotAFile : std::strerror(code);
    return nullptr;
  }
  if (::fstat(fd, &st) != 0 || !(S_ISREG(st.st_mode) || S_ISCHR(st.st_mode))) {
    why = kNotAFile;
    ::close(fd);
    return nullptr;
  }
  // Blocking again: a terminal that is slow to take a line must not lose it.
  ::fcntl(fd, F_SETFL, ::fcntl(fd, F_GETFL) & ~O_NONBLOCK);
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

namespace {

void AppendTransfer(std::string& line, const std::string& timestamp, const char* function, int deviceIndex,
                    int length, int count, int timeoutMs, int result, const unsigned char* bytes,
                    int byteCount) {
  char text[128];
  std::snprintf(text, sizeof text, " dev=%d fn=%s len=%d count=%d timeout=%d result=%d data=", deviceIndex,
                function, length, count, timeoutMs, result);
  line += timestamp;
  line += text;
  static constexpr char kHex[] = "0123456789abcdef";
  if (bytes && byteCount > 0) {
    line.reserve(line.size() + 2 * static_cast<size_t>(byteCount) + 1);
    for (int i = 0; i < byteCount; ++i) {
      line += kHex[bytes[i] >> 4];
      line += kHex[bytes[i] & 0x0F];
    }
  }
}

}  // namespace

void Trace::Transfer(const char* function, int deviceIndex, int length, int count, int timeoutMs, int result,
                     const unsigned char* bytes, int byteCount) {
  std::string line;
  AppendTransfer(line, Timestamp(), function, deviceIndex, length, count, timeoutMs, result, bytes,
                 byteCount);
  WriteLine(line);
}

void Trace::Chunks(int deviceIndex, int length, int count, int timeoutMs, int result, int completed,
                   int failedResult, int failedTransferred, const unsigned char* bytes, int attempted) {
  const std::string timestamp = Timestamp();
  char text[192];
  std::snprintf(text, sizeof text,
                " dev=%d fn=WriteChunks len=%d chunks=%d timeout=%d result=%d completed=%d failed=%d/%d",
                deviceIndex, length, count, timeoutMs, result, completed, failedResult, failedTransferred);
  std::string lines = timestamp + text;
  // The chunks' lines read as the Writes that would have sent them, so that a run through Write
  // and a run through WriteChunks give the same Write lines.
  for (int i = 0; bytes && length > 0 && i < attempted; ++i) {
    const bool whole = i < completed;
    lines += '\n';
    AppendTransfer(lines, timestamp, "Write", deviceIndex, length, whole ? length : failedTransferred,
                   timeoutMs, whole ? 1 : failedResult,
                   bytes + static_cast<size_t>(i) * static_cast<size_t>(length), length);
  }
  WriteLine(lines);
}

void Trace::Close(int deviceIndex) {
  std::string line = Timestamp() + " dev=" + std::to_string(deviceIndex) + " fn=Close";
  WriteLine(line);
}

void Trace::Location(int deviceIndex, int size, int result, const char* text) {
  std::string line = Timestamp() + " dev=" + std::to_string(deviceIndex) +
                     " fn=DeviceLocation size=" + std::to_string(size) + " result=" + std::to_string(result) +
                     " location=";
  // The location ends the line; a control character in a bench probe's name would break it.
  for (const char* c = text; c && *c; ++c)
    line += static_cast<unsigned char>(*c) < 0x20 || *c == 0x7F ? '?' : *c;
  WriteLine(line);
}

void Trace::Note(const std::string& text) {
  std::string line = Timestamp() + " note ";
  for (char c : text) line += (c == '\n' || c == '\r') ? ' ' : c;
  WriteLine(line);
}

}  // namespace vorlink
