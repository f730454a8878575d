#include "flash_store.h"

#include <fcntl.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

namespace probesim {

FlashStore::~FlashStore() {
  if (data_ != nullptr) {
    msync(data_, size_, MS_ASYNC);
    munmap(data_, size_);
  }
}

bool FlashStore::Ensure() {
  if (data_ != nullptr) return true;
  bool created = false;
  int fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC);
  if (fd < 0 && errno == ENOENT) {
    fd = ::open(path_.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    created = fd >= 0;
  }
  if (fd < 0) {
    error_ = path_ + ": " + std::strerror(errno);
    return false;
  }
  struct stat st {};
  if (fstat(fd, &st) != 0 || (!created && static_cast<uint64_t>(st.st_size) != size_)) {
    error_ = path_ + ": holds " + std::to_string(st.st_size) + " bytes, the flash " + std::to_string(size_);
    ::close(fd);
    return false;
  }
  if (created && ftruncate(fd, static_cast<off_t>(size_)) != 0) {
    error_ = path_ + ": " + std::strerror(errno);
    ::close(fd);
    ::unlink(path_.c_str());
    return false;
  }
  void* map = mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  ::close(fd);
  if (map == MAP_FAILED) {
    error_ = path_ + ": " + std::strerror(errno);
    return false;
  }
  data_ = static_cast<uint8_t*>(map);
  if (created) {
    std::memset(data_, 0xFF, size_);
    msync(data_, size_, MS_ASYNC);
  }
  return true;
}

void FlashStore::Flush() {
  if (data_ != nullptr) msync(data_, size_, MS_ASYNC);
}

}  // namespace probesim
