// SPDX-License-Identifier: MIT
#include "jobs/history_file.h"

#include <fcntl.h>
#include <linux/magic.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <sys/vfs.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "core/json_text.h"
#include "jobs/board_record_json.h"

namespace zolt {
namespace {

// Another program's append is a write and an fsync: far below this, unless its disk hangs.
constexpr int kLockWaitMs = 10000;
constexpr int kLockPollMs = 5;

std::string Cause(const std::string& path, const std::string& what) {
  return path + ": " + what;
}

// Why a file of this kind cannot hold a history, or "" for a regular file.
std::string RefusedKind(mode_t mode) {
  if (S_ISREG(mode)) return {};
  if (S_ISDIR(mode)) return std::strerror(EISDIR);
  if (S_ISFIFO(mode)) return "a FIFO keeps nothing; name a regular file";
  if (S_ISCHR(mode) || S_ISBLK(mode)) return "a device keeps no history; name a regular file";
  if (S_ISSOCK(mode)) return "a socket keeps no history; name a regular file";
  return "not a regular file";
}

// The kernel's own file systems (/proc, /sys and their kin) show their files as regular files, but
// a write there is a command to the kernel or fails, and nothing keeps it: such a history would
// lose every line only once the boards are being programmed. "" for a file system that keeps data.
std::string RefusedFileSystem(int fd) {
  struct statfs fs {};
  if (::fstatfs(fd, &fs) != 0) return {};  // the writes will tell
  switch (static_cast<unsigned long>(fs.f_type)) {
    case PROC_SUPER_MAGIC:
    case SYSFS_MAGIC:
    case CGROUP_SUPER_MAGIC:
    case CGROUP2_SUPER_MAGIC:
    case DEBUGFS_MAGIC:
    case TRACEFS_MAGIC:
    case SECURITYFS_MAGIC:
    case SELINUX_MAGIC:
    case PSTOREFS_MAGIC:
    case EFIVARFS_MAGIC:
    case BPF_FS_MAGIC:
    case BINFMTFS_MAGIC:
      return "a file of the kernel (/proc, /sys) keeps no history; name a regular file";
    default:
      return {};
  }
}

// Takes the advisory lock, waiting at most kLockWaitMs for another program's append to end.
bool LockForAppend(int fd) {
  for (int waited = 0;; waited += kLockPollMs) {
    if (::flock(fd, LOCK_EX | LOCK_NB) == 0) return true;
    if ((errno != EWOULDBLOCK && errno != EINTR) || waited >= kLockWaitMs) return false;
    ::usleep(kLockPollMs * 1000);
  }
}

}  // namespace

std::unique_ptr<HistoryFile> HistoryFile::Open(const std::string& path, std::string* error) {
  std::string ignored;
  std::string& why = error != nullptr ? *error : ignored;
  if (path.empty()) {
    why = "an empty path names no file";
    return nullptr;
  }
  // O_NONBLOCK only for the open itself: a FIFO with no reader fails at once (ENXIO) instead of
  // waiting for one, and one with a reader is refused below.
  const int fd =
      ::open(path.c_str(), O_WRONLY | O_APPEND | O_CREAT | O_CLOEXEC | O_NOCTTY | O_NONBLOCK, 0644);
  if (fd < 0) {
    const int e = errno;
    struct stat st {};
    if (e == ENXIO && ::stat(path.c_str(), &st) == 0 && !S_ISREG(st.st_mode)) {
      why = Cause(path, RefusedKind(st.st_mode));
    } else {
      why = Cause(path, std::strerror(e));
    }
    return nullptr;
  }
  struct stat st {};
  if (::fstat(fd, &st) != 0) {
    why = Cause(path, std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  std::string refused = RefusedKind(st.st_mode);
  if (refused.empty()) refused = RefusedFileSystem(fd);
  if (!refused.empty()) {
    why = Cause(path, refused);
    ::close(fd);
    return nullptr;
  }
  const int flags = ::fcntl(fd, F_GETFL);
  if (flags < 0 || ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) != 0) {
    why = Cause(path, std::strerror(errno));
    ::close(fd);
    return nullptr;
  }
  return std::unique_ptr<HistoryFile>(new HistoryFile(path, fd));
}

HistoryFile::~HistoryFile() {
  ::close(fd_);
}

bool HistoryFile::IsFile(const std::string& other) const {
  struct stat mine {
  }, theirs{};
  return ::fstat(fd_, &mine) == 0 && ::stat(other.c_str(), &theirs) == 0 && mine.st_dev == theirs.st_dev &&
         mine.st_ino == theirs.st_ino;
}

bool HistoryFile::Append(const BoardRecord& record, bool ended, std::string* error) {
  return AppendLine(JsonText(BoardRecordJson(record, ended), -1) + "\n", error);
}

bool HistoryFile::AppendLine(const std::string& line, std::string* error) {
  std::string ignored;
  std::string& why = error != nullptr ? *error : ignored;
  std::lock_guard lock(mu_);
  // Programs that share the file take turns (an advisory lock), so that a line cut short can be
  // taken back before anyone appends after it. One that holds the lock for too long is not waited
  // for: O_APPEND alone still keeps whole writes apart.
  const bool locked = LockForAppend(fd_);
  ssize_t n;
  do {
    n = ::write(fd_, line.data(), line.size());
  } while (n < 0 && errno == EINTR);
  const int writeError = errno;
  bool cut = false;
  if (n > 0 && static_cast<size_t>(n) < line.size()) {
    // Never the rest on its own: it could land after another program's line. The part written
    // goes again while it is still the file's end (with O_APPEND the offset is the end of our
    // write), so the file keeps whole lines only.
    const off_t end = ::lseek(fd_, 0, SEEK_CUR);
    struct stat st {};
    cut = end >= n && ::fstat(fd_, &st) == 0 && st.st_size == end && ::ftruncate(fd_, end - n) == 0;
  }
  const int syncResult = n > 0 ? ::fsync(fd_) : 0;
  const int syncError = errno;
  if (locked) ::flock(fd_, LOCK_UN);
  if (n < 0) {
    why = Cause(path_, std::strerror(writeError));
    return false;
  }
  if (static_cast<size_t>(n) < line.size()) {
    why = Cause(path_, "only " + std::to_string(n) + " of " + std::to_string(line.size()) +
                           " bytes could be written (a full disk or the file size limit); " +
                           (cut ? "the part was taken back" : "the part stays as a broken line"));
    return false;
  }
  if (syncResult != 0) {
    why = Cause(path_, std::strerror(syncError));
    return false;
  }
  return true;
}

}  // namespace zolt
