// SPDX-License-Identifier: MIT
// The contents of one board's flash, kept in a file through a shared memory map while the probe is
// open.
//
// Attach (at every open of the probe) opens the file, making it first when it is missing, takes
// an exclusive flock on it and maps it; Detach (at close) unmaps it and drops the lock. So two
// processes on one bench state never program one flash at once: the second finds the file locked
// and its probe does not open, as a real probe refuses a second owner.
//
// A new file is made under a temporary name in the same folder (".probesim-<pid>-<n>.part"), its
// space reserved with posix_fallocate, filled with 0xFF and synced, and only then moved to its
// name. A creation that is killed or runs out of space therefore never leaves a file of the right
// size that is not erased flash, and writes through the map never meet a hole the disk cannot fill
// (which would be SIGBUS). Existing files get their space reserved at every attach as well.
//
// Not thread-safe: one probe owns its store and calls it under its own lock.
#pragma once

#include <cstdint>
#include <string>

namespace probesim {

class FlashStore {
 public:
  // `fresh`: the flash of a board that was just placed on its probe. Its first Attach makes the
  // file anew, erased, also when a file of that name exists (an earlier bench process's board);
  // one that another process has locked is left alone and the attach fails "in use".
  FlashStore(std::string path, uint64_t size, bool fresh = false)
      : path_(std::move(path)), size_(size), fresh_(fresh) {}
  ~FlashStore() { Detach(); }
  FlashStore(const FlashStore&) = delete;
  FlashStore& operator=(const FlashStore&) = delete;

  // True when the file is mapped and locked (also when it already was). False with `why` set
  // ("flash file <path>: in use by another process", "... cannot be made: cannot reserve N bytes:
  // No space left on device", ...) when it cannot be; nothing is left behind then. Blocks for the
  // creation of a new file (writes and syncs the whole flash size once).
  bool Attach(std::string& why);
  // Writes the map back (asynchronously), unmaps and unlocks. Does nothing when not attached.
  void Detach();
  bool attached() const { return data_ != nullptr; }

  uint8_t* data() { return data_; }
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }
  // Schedules the mapped pages for writing back (does not wait).
  void Flush();

 private:
  enum class Made { kMade, kExists, kFailed };
  Made MakeErased(int& fd, std::string& why, bool replace) const;
  bool ReplaceWithErased(int& fd, std::string& why) const;

  std::string path_;
  uint64_t size_;
  bool fresh_;
  int fd_ = -1;
  uint8_t* data_ = nullptr;
};

}  // namespace probesim
