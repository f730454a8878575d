// SPDX-License-Identifier: MIT
// Measuring an image file, the one rule for the whole programmer: a file counts when it is a
// regular file (after links) of less than 4 GiB, since the download announcement carries its size
// in 32 bits. Run control sums what a run will send with it, the streaming step refuses what it
// refuses, and zolt-flash's progress counts the same bytes. Any thread; fstat only, never reads.
#pragma once

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdint>
#include <string>

namespace zolt {

struct ImageSize {
  enum class Kind {
    kRegular,    // `bytes` is its size, below 4 GiB
    kNotOpened,  // missing, unreadable, or not a regular file (a folder, a device, a FIFO)
    kTooLarge,   // a regular file of 4 GiB or more; `bytes` is its size
  };
  Kind kind = Kind::kNotOpened;
  uint64_t bytes = 0;
};

// Of a file already open as `fd` (a negative `fd` is one that did not open).
inline ImageSize MeasureImage(int fd) {
  struct stat status {};
  if (fd < 0 || ::fstat(fd, &status) != 0 || !S_ISREG(status.st_mode)) return {};
  const auto bytes = static_cast<uint64_t>(status.st_size);
  return {bytes > UINT32_MAX ? ImageSize::Kind::kTooLarge : ImageSize::Kind::kRegular, bytes};
}

// Opens `path` without blocking (a FIFO named by mistake cannot hang), measures it and closes it.
inline ImageSize MeasureImage(const std::string& path) {
  const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK);
  const ImageSize size = MeasureImage(fd);
  if (fd >= 0) ::close(fd);
  return size;
}

// The bytes a run will send of `path`: its size, or 0 for a file the download refuses.
inline uint64_t CountedImageBytes(const std::string& path) {
  const ImageSize size = MeasureImage(path);
  return size.kind == ImageSize::Kind::kRegular ? size.bytes : 0;
}

}  // namespace zolt
