// SPDX-License-Identifier: MIT
#include "cli/summary_file.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <climits>
#include <cstdlib>
#include <cstring>

namespace zolt::cli {
namespace {

// The kernel's own limit for a chain of symbolic links.
constexpr int kMaxLinkHops = 40;

std::string ErrnoText(int error) {
  return std::strerror(error);
}

bool SameFile(const struct stat& a, const struct stat& b) {
  return a.st_dev == b.st_dev && a.st_ino == b.st_ino;
}

// Follows a chain of symbolic links to the name that does not exist yet (a dangling link names the
// file to create). Returns "" with `error` set when the chain does not end.
std::string FollowLinks(std::string path, std::string& error) {
  for (int hop = 0; hop < kMaxLinkHops; ++hop) {
    struct stat st {};
    if (::lstat(path.c_str(), &st) != 0 || !S_ISLNK(st.st_mode)) return path;
    std::string target(PATH_MAX, '\0');
    const ssize_t n = ::readlink(path.c_str(), target.data(), target.size());
    if (n < 0) {
      error = ErrnoText(errno);
      return {};
    }
    target.resize(static_cast<size_t>(n));
    if (target.empty() || target.front() != '/') {
      const size_t slash = path.rfind('/');
      target = (slash == std::string::npos ? std::string() : path.substr(0, slash + 1)) + target;
    }
    path = target;
  }
  error = ErrnoText(ELOOP);
  return {};
}

std::string WriteAll(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return ErrnoText(errno);
    }
    done += static_cast<size_t>(n);
  }
  return {};
}

// `path` made absolute, so that names given relative and absolute compare equal.
std::string Absolute(const std::string& path) {
  if (!path.empty() && path.front() == '/') return path;
  std::string cwd(PATH_MAX, '\0');
  if (::getcwd(cwd.data(), cwd.size()) == nullptr) return path;
  cwd.resize(std::strlen(cwd.c_str()));
  return cwd + "/" + path;
}

}  // namespace

std::string ProtectedRole(const std::string& path, const std::vector<ProtectedFile>& protectedFiles) {
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    std::string error;
    const std::string target = FollowLinks(Absolute(path), error);
    if (target.empty()) return {};
    for (const ProtectedFile& f : protectedFiles) {
      std::string ignored;
      if (!f.path.empty() && FollowLinks(Absolute(f.path), ignored) == target) return "it is " + f.role;
    }
    return {};
  }
  for (const ProtectedFile& f : protectedFiles) {
    struct stat other {};
    if (!f.path.empty() && ::stat(f.path.c_str(), &other) == 0 && SameFile(st, other))
      return "it is " + f.role;
  }
  struct stat out {};
  if (::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) && SameFile(st, out))
    return "it is stdout (the log)";
  if (::fstat(STDERR_FILENO, &out) == 0 && S_ISREG(out.st_mode) && SameFile(st, out))
    return "it is stderr (the messages)";
  return {};
}

SummaryFile::~SummaryFile() {
  if (streamFd_ >= 0) ::close(streamFd_);
}

std::string SummaryFile::Open(const std::string& path, const std::vector<ProtectedFile>& protectedFiles) {
  path_ = path;
  struct stat st {};
  if (::stat(path.c_str(), &st) != 0) {
    if (errno != ENOENT) return ErrnoText(errno);
    // Nothing there yet (or a link to nothing): the file is made where the last link points.
    std::string error;
    target_ = FollowLinks(Absolute(path), error);
    if (!error.empty()) return error;
    for (const ProtectedFile& f : protectedFiles) {
      std::string ignored;
      if (!f.path.empty() && FollowLinks(Absolute(f.path), ignored) == target_) return "it is " + f.role;
    }
    return {};
  }
  if (S_ISDIR(st.st_mode)) return ErrnoText(EISDIR);
  if (S_ISBLK(st.st_mode)) return "a block device is never written; name a regular file";
  if (S_ISSOCK(st.st_mode)) return "a socket cannot take it; name a regular file";
  if (S_ISFIFO(st.st_mode) || S_ISCHR(st.st_mode)) {
    // Without blocking: a FIFO nobody reads would otherwise hold the program here for ever.
    streamFd_ = ::open(path.c_str(), O_WRONLY | O_NONBLOCK | O_NOCTTY | O_CLOEXEC);
    if (streamFd_ < 0) {
      if (errno == ENXIO && S_ISFIFO(st.st_mode)) return "a FIFO with no reader; start its reader first";
      return ErrnoText(errno);
    }
    return {};
  }
  if (!S_ISREG(st.st_mode)) return "not a regular file";

  // A regular file: it must not be one the run reads or writes its output to.
  for (const ProtectedFile& f : protectedFiles) {
    struct stat other {};
    if (!f.path.empty() && ::stat(f.path.c_str(), &other) == 0 && SameFile(st, other))
      return "it is " + f.role;
  }
  struct stat out {};
  if (::fstat(STDOUT_FILENO, &out) == 0 && S_ISREG(out.st_mode) && SameFile(st, out))
    return "it is stdout (the log)";
  if (::fstat(STDERR_FILENO, &out) == 0 && S_ISREG(out.st_mode) && SameFile(st, out))
    return "it is stderr (the messages)";

  char* resolved = ::realpath(path.c_str(), nullptr);
  if (resolved == nullptr) return ErrnoText(errno);
  target_ = resolved;
  std::free(resolved);
  keepMode_ = true;
  mode_ = st.st_mode & 07777;
  return {};
}

std::string SummaryFile::Write(const std::string& text) {
  return Streams() ? WriteStream(text) : Replace(text);
}

std::string SummaryFile::Replace(const std::string& text) {
  const std::string temp = target_ + ".tmp." + std::to_string(::getpid());
  const int fd = ::open(temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0644);
  std::string error;
  if (fd >= 0) {
    if (keepMode_ && ::fchmod(fd, mode_) != 0) error = ErrnoText(errno);
    if (error.empty()) error = WriteAll(fd, text);
    if (error.empty() && ::fsync(fd) != 0) error = ErrnoText(errno);
    if (::close(fd) != 0 && error.empty()) error = ErrnoText(errno);
    if (error.empty() && ::rename(temp.c_str(), target_.c_str()) != 0) error = ErrnoText(errno);
    if (error.empty()) return {};
    ::unlink(temp.c_str());
    // A full disk or an I/O error: the old summary is left as it was rather than cut short.
    return error;
  }
  // Only a folder we may not create in (the file itself writable) is written in place, not
  // atomically; any other reason (a full disk) leaves the old summary whole. Never through a link
  // or into something that is no longer a regular file.
  if (errno != EACCES && errno != EPERM) return ErrnoText(errno);
  const int direct = ::open(target_.c_str(), O_WRONLY | O_CREAT | O_NOFOLLOW | O_NONBLOCK | O_CLOEXEC, 0644);
  if (direct < 0) return ErrnoText(errno);
  struct stat st {};
  if (::fstat(direct, &st) != 0 || !S_ISREG(st.st_mode)) {
    ::close(direct);
    return "no longer a regular file";
  }
  error = ::ftruncate(direct, 0) == 0 ? WriteAll(direct, text) : ErrnoText(errno);
  if (::close(direct) != 0 && error.empty()) error = ErrnoText(errno);
  return error;
}

std::string SummaryFile::WriteStream(const std::string& text) {
  using Clock = std::chrono::steady_clock;
  const auto deadline = Clock::now() + kStreamWriteLimit;
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = ::write(streamFd_, text.data() + done, text.size() - done);
    if (n >= 0) {
      done += static_cast<size_t>(n);
      continue;
    }
    if (errno == EINTR) continue;
    if (errno != EAGAIN && errno != EWOULDBLOCK) return ErrnoText(errno);
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    if (left <= 0) {
      return "the reader took nothing for " + std::to_string(kStreamWriteLimit.count()) + " s";
    }
    pollfd p{streamFd_, POLLOUT, 0};
    ::poll(&p, 1, static_cast<int>(left));
  }
  return {};
}

}  // namespace zolt::cli
