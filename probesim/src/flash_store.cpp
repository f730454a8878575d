// SPDX-License-Identifier: MIT
#include "flash_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/mman.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <filesystem>
#include <vector>

namespace probesim {
namespace {

std::string ErrorText(int error) {
  return std::strerror(error);
}

// posix_fallocate returns its error instead of setting errno.
int Reserve(int fd, uint64_t size) {
  int result;
  do {
    result = posix_fallocate(fd, 0, static_cast<off_t>(size));
  } while (result == EINTR);
  return result;
}

bool FillErased(int fd, uint64_t size, std::string& why) {
  const std::vector<uint8_t> erased(uint64_t{1} << 16, 0xFF);
  uint64_t done = 0;
  while (done < size) {
    const size_t n = static_cast<size_t>(std::min<uint64_t>(erased.size(), size - done));
    const ssize_t written = ::pwrite(fd, erased.data(), n, static_cast<off_t>(done));
    if (written < 0 && errno == EINTR) continue;
    if (written <= 0) {
      why = "cannot write: " + ErrorText(written < 0 ? errno : ENOSPC);
      return false;
    }
    done += static_cast<uint64_t>(written);
  }
  // On disk before it gets its name, so that not even a power cut leaves a named file of holes.
  if (::fdatasync(fd) != 0 && errno != EINVAL) {
    why = "cannot sync: " + ErrorText(errno);
    return false;
  }
  return true;
}

// Moves `temp` to `path` unless `path` exists. 0, or the errno (EEXIST: someone was first).
int PutInPlace(const std::string& temp, const std::string& path) {
  if (::renameat2(AT_FDCWD, temp.c_str(), AT_FDCWD, path.c_str(), RENAME_NOREPLACE) == 0) return 0;
  if (errno != EINVAL && errno != ENOSYS) return errno;
  // A file system without RENAME_NOREPLACE (NFS): a hard link refuses an existing name as well.
  if (::link(temp.c_str(), path.c_str()) != 0) return errno;
  ::unlink(temp.c_str());
  return 0;
}

}  // namespace

FlashStore::Made FlashStore::MakeErased(int& fd, std::string& why, bool replace) const {
  const std::filesystem::path folder = std::filesystem::path(path_).parent_path();
  std::error_code ec;
  std::filesystem::create_directories(folder, ec);
  if (ec) {
    why = "cannot create its folder " + folder.string() + ": " + ec.message();
    return Made::kFailed;
  }
  // The name depends neither on the flash file's name (which may already be as long as a name
  // can be) nor on anything another process could guess and hold open.
  static std::atomic<unsigned> counter{0};
  std::string temp;
  fd = -1;
  for (int attempt = 0; attempt < 100 && fd < 0; ++attempt) {
    temp = (folder / (".probesim-" + std::to_string(::getpid()) + "-" + std::to_string(counter++) + ".part"))
               .string();
    fd = ::open(temp.c_str(), O_RDWR | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
    if (fd < 0 && errno != EEXIST) break;
  }
  if (fd < 0) {
    why = "cannot create " + temp + ": " + ErrorText(errno);
    return Made::kFailed;
  }
  auto fail = [&](std::string text) {
    ::close(fd);
    fd = -1;
    ::unlink(temp.c_str());
    why = std::move(text);
    return Made::kFailed;
  };
  // Locked before it has its name: nobody can take the new file between the rename and Attach.
  if (::flock(fd, LOCK_EX | LOCK_NB) != 0) return fail("cannot lock " + temp + ": " + ErrorText(errno));
  if (const int error = Reserve(fd, size_); error != 0) {
    return fail("cannot reserve " + std::to_string(size_) + " bytes: " + ErrorText(error));
  }
  std::string fillError;
  if (!FillErased(fd, size_, fillError)) return fail(fillError);
  // A fresh board's file takes the place of whatever had its name (rename replaces a symbolic
  // link itself, never its target, and fails on a folder).
  if (const int error =
          replace ? (::rename(temp.c_str(), path_.c_str()) == 0 ? 0 : errno) : PutInPlace(temp, path_);
      error != 0) {
    if (error == EEXIST) {
      fail("");
      return Made::kExists;
    }
    return fail("cannot move " + temp + " to its name: " + ErrorText(error));
  }
  return Made::kMade;
}

// A fresh board: the file is made erased in place of an existing one, unless another process holds
// that one (its lock is taken for the replacement, so no other bench can start using it meanwhile).
bool FlashStore::ReplaceWithErased(int& fd, std::string& why) const {
  const int old = ::open(path_.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK | O_NOCTTY | O_NOFOLLOW);
  if (old >= 0 && ::flock(old, LOCK_EX | LOCK_NB) != 0) {
    why = errno == EWOULDBLOCK ? "in use by another process" : "cannot be locked: " + ErrorText(errno);
    ::close(old);
    return false;
  }
  std::string detail;
  const Made result = MakeErased(fd, detail, true);
  if (old >= 0) ::close(old);
  if (result != Made::kMade) {
    why = "cannot be made: " + detail;
    return false;
  }
  return true;
}

bool FlashStore::Attach(std::string& why) {
  if (data_ != nullptr) return true;
  const std::string what = "flash file " + path_ + ": ";
  int fd = -1;
  bool made = false;
  if (fresh_) {
    std::string detail;
    if (!ReplaceWithErased(fd, detail)) {
      why = what + detail;
      return false;
    }
    made = true;
  }
  // Another process may make the file between our open and our creation; then take its file.
  for (int attempt = 0; attempt < 3 && fd < 0; ++attempt) {
    // O_NONBLOCK: a FIFO put in the file's place must not stop the probe's open.
    fd = ::open(path_.c_str(), O_RDWR | O_CLOEXEC | O_NONBLOCK | O_NOCTTY);
    if (fd >= 0) break;
    if (errno != ENOENT) {
      why = what + "cannot be opened: " + ErrorText(errno);
      return false;
    }
    std::string detail;
    const Made result = MakeErased(fd, detail, false);
    if (result == Made::kFailed) {
      why = what + "cannot be made: " + detail;
      return false;
    }
    made = result == Made::kMade;
  }
  if (fd < 0) {
    why = what + "cannot be opened: " + ErrorText(ENOENT);
    return false;
  }
  auto fail = [&](std::string text) {
    ::close(fd);
    why = what + text;
    return false;
  };
  struct stat st {};
  if (::fstat(fd, &st) != 0) return fail("cannot be examined: " + ErrorText(errno));
  if (!S_ISREG(st.st_mode)) return fail("not a regular file");
  if (!made && ::flock(fd, LOCK_EX | LOCK_NB) != 0) {
    return fail(errno == EWOULDBLOCK ? "in use by another process" : "cannot be locked: " + ErrorText(errno));
  }
  if (static_cast<uint64_t>(st.st_size) != size_) {
    return fail("holds " + std::to_string(st.st_size) + " bytes, the flash " + std::to_string(size_));
  }
  // A file from elsewhere may be sparse; its holes are reserved now rather than found missing by a
  // write through the map.
  if (!made) {
    if (const int error = Reserve(fd, size_); error != 0 && error != EOPNOTSUPP) {
      return fail("cannot reserve " + std::to_string(size_) + " bytes: " + ErrorText(error));
    }
  }
  void* map = ::mmap(nullptr, size_, PROT_READ | PROT_WRITE, MAP_SHARED, fd, 0);
  if (map == MAP_FAILED) return fail("cannot be mapped: " + ErrorText(errno));
  fd_ = fd;
  data_ = static_cast<uint8_t*>(map);
  fresh_ = false;  // made; later opens keep what the board's flash holds
  return true;
}

void FlashStore::Detach() {
  if (data_ == nullptr) return;
  ::msync(data_, size_, MS_ASYNC);
  ::munmap(data_, size_);
  ::close(fd_);  // drops the lock
  data_ = nullptr;
  fd_ = -1;
}

void FlashStore::Flush() {
  if (data_ != nullptr) ::msync(data_, size_, MS_ASYNC);
}

}  // namespace probesim
