// SPDX-License-Identifier: MIT
// zolt-flash --history paths that cannot keep a line, for a normal run and a station: a read-only
// file system (the file there or not yet), a folder named as the file, a path through a regular
// file, files of the kernel (/proc), and the mode bits of the file or its folder. Each is refused
// as a usage error naming the file before any probe is touched, so no board is programmed without
// the record the operator asked for. Root ignores mode bits, so those cases run only for others;
// the read-only file system needs the right to mount a tmpfs.
#include <gtest/gtest.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <string>
#include <vector>

#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

// A tmpfs on `dir`/`name` holding `history.jsonl`, then made read-only; unmounted when it goes.
class ReadOnlyTmpfs {
 public:
  ReadOnlyTmpfs(const ScratchDir& dir, const std::string& name, const std::string& lines)
      : path_(dir / name) {
    std::filesystem::create_directories(path_);
    if (::mount("tmpfs", path_.c_str(), "tmpfs", 0, "size=64k") != 0) return;
    mounted_ = true;
    dir.Write(name + "/history.jsonl", lines);
    ready_ = ::mount("tmpfs", path_.c_str(), "tmpfs", MS_REMOUNT | MS_RDONLY, "size=64k") == 0;
  }
  ~ReadOnlyTmpfs() {
    if (mounted_) ::umount2(path_.c_str(), MNT_DETACH);
  }
  ReadOnlyTmpfs(const ReadOnlyTmpfs&) = delete;
  ReadOnlyTmpfs& operator=(const ReadOnlyTmpfs&) = delete;
  bool ready() const { return ready_; }

 private:
  std::string path_;
  bool mounted_ = false;
  bool ready_ = false;
};

class ZoltFlashHistoryRefused : public ZoltFlash {};

TEST_F(ZoltFlashHistoryRefused, AHistoryThatCannotKeepALineStopsTheRunBeforeAnyProbe) {
  const std::string image = dir.Write("image.bin", PatternBytes(3000, 31));
  const std::string earlier = "{\"event\":\"ended\",\"sequence\":1,\"note\":\"earlier\"}\n";
  const ReadOnlyTmpfs readOnly(dir, "ro", earlier);
  const std::string plain = dir.Write("plain.txt", "not a folder\n");
  std::filesystem::create_directories(dir / "locked");
  ::chmod((dir / "locked").c_str(), 0555);
  const std::string readOnlyFile = dir.Write("read-only.jsonl", earlier);
  ::chmod(readOnlyFile.c_str(), 0444);
  const bool root = ::geteuid() == 0;

  const std::string kernel = ": a file of the kernel (/proc, /sys) keeps no history; name a regular file";
  struct Case {
    const char* name;
    std::string path;
    std::string cause;    // the end of the one stderr line, after the path
    bool runs;            // false: the case cannot be set up here
    std::string holds;    // an existing file: what it must still hold
    std::string notMade;  // a file that must not be made
  };
  const Case cases[] = {
      {"a file on a read-only file system", dir / "ro/history.jsonl", ": Read-only file system",
       readOnly.ready(), earlier, ""},
      {"a new file on a read-only file system", dir / "ro/new.jsonl", ": Read-only file system",
       readOnly.ready(), "", dir / "ro/new.jsonl"},
      {"a path through a regular file", plain + "/history.jsonl", ": Not a directory", true, "", ""},
      {"a new name ending in a slash", dir / "new.jsonl/", ": Is a directory", true, "", dir / "new.jsonl"},
      // /proc/self/status opens for writing for root only (and takes no write); /proc/self/comm
      // opens for its owner too, and takes a write as a command (a rename).
      {"a file of /proc that takes no write", "/proc/self/status", root ? kernel : ": Permission denied",
       true, "", ""},
      {"a file of /proc that takes a write", "/proc/self/comm", kernel, true, "", ""},
      {"a folder without write permission", dir / "locked/history.jsonl", ": Permission denied", !root, "",
       dir / "locked/history.jsonl"},
      {"a file without write permission", readOnlyFile, ": Permission denied", !root, earlier, ""},
  };
  for (const Case& c : cases) {
    if (!c.runs) {
      std::printf("(not set up here: %s)\n", c.name);
      continue;
    }
    for (const bool station : {false, true}) {
      SCOPED_TRACE(std::string(c.name) + (station ? ", a station" : ", a normal run"));
      std::filesystem::remove(dir / "probe.log");
      std::filesystem::remove_all(dir / "state");
      std::vector<std::string> args = Args(kKeldaNor, {"--image1", image, "--history", c.path});
      if (station) args = Args(args, {"--station", "--poll", "10", "--boards", "1"});
      ProcessResult r = Run(args, BenchEnv(KeldaBench(1, "instant")));
      EXPECT_EQ(r.exitCode, 2) << r.err;
      EXPECT_EQ(r.err, "zolt-flash: --history: cannot append to " + c.path + c.cause + "\n");
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(ReadFileBytes(dir / "probe.log"), "") << "no probe saw a command";
      EXPECT_FALSE(std::filesystem::exists(dir / "state/bench-0.bin")) << "the board's probe was opened";
      if (!c.holds.empty()) {
        EXPECT_EQ(ReadFileBytes(c.path), c.holds) << "the file was changed";
      }
      if (!c.notMade.empty()) {
        EXPECT_FALSE(std::filesystem::exists(c.notMade)) << "the file was made";
      }
    }
  }
  ::chmod((dir / "locked").c_str(), 0755);
}

}  // namespace
}  // namespace zolt::cli::testing
