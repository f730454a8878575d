// The contents of one board's flash, kept in a file through a shared memory map. The file is made
// (all 0xFF, sized to the flash) at first use and kept afterwards.
//
// Not thread-safe: one probe owns its store and calls it under its own lock.
#pragma once

#include <cstdint>
#include <string>

namespace probesim {

class FlashStore {
 public:
  FlashStore(std::string path, uint64_t size) : path_(std::move(path)), size_(size) {}
  ~FlashStore();
  FlashStore(const FlashStore&) = delete;
  FlashStore& operator=(const FlashStore&) = delete;

  // Maps the file, creating it erased when missing. Blocks for the file creation (writes the
  // whole flash size once). False, with error() set, when it cannot.
  bool Ensure();
  uint8_t* data() { return data_; }
  uint64_t size() const { return size_; }
  const std::string& path() const { return path_; }
  const std::string& error() const { return error_; }
  // Schedules the mapped pages for writing back (does not wait).
  void Flush();

 private:
  std::string path_;
  uint64_t size_;
  uint8_t* data_ = nullptr;
  std::string error_;
};

}  // namespace probesim
