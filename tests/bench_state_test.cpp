// SPDX-License-Identifier: MIT
// zolt-flash on a bench whose state folder it cannot use: the flash file held by another process,
// a full file system, no folder at all (HOME unset). Each ends with exit 1 and no probe, nothing
// written that looks like flash, and the reason in the trace; once the cause is gone the same run
// programs the board.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <sys/mount.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>

#include "testing/flash_child.h"
#include "testing/pattern_bytes.h"
#include "testing/scratch_dir.h"

namespace zolt::reliability {
namespace {

using ::zolt::testing::FlashChild;
using ::zolt::testing::PatternBytes;
using ::zolt::testing::ProcessResult;
using ::zolt::testing::ReadFileBytes;
using ::zolt::testing::RunFlash;
using ::zolt::testing::ScratchDir;

namespace fs = std::filesystem;

constexpr size_t kImageSize = 100000;
const char kBench[] = "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";

std::vector<std::string> Args(const std::string& image) {
  return {"--product", "KELDA", "--nor", "--nor-type", "EN29LV040A", "--image1", image};
}

TEST(BenchState, FlashFileInUseByAnotherProcessIsNotProgrammed) {
  ScratchDir dir;
  const std::string bench = dir.Write("b.toml", kBench);
  const std::string image = dir.Write("image.bin", PatternBytes(kImageSize, 7));
  const std::string state = dir / "state";
  const FlashChild::Env env = {
      {"VORLINK_BENCH", bench}, {"PROBESIM_STATE_DIR", state}, {"VORLINK_TRACE", dir / "trace"}};
  // A first run makes the flash file; the test then holds it as a second programmer would.
  ASSERT_EQ(RunFlash(Args(image), env, dir.path()).exitCode, 0);
  const std::string flash = state + "/b-0.bin";
  const std::string before = ReadFileBytes(flash);
  const std::string other = dir.Write("other.bin", PatternBytes(kImageSize, 9));
  const int fd = ::open(flash.c_str(), O_RDONLY | O_CLOEXEC);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::flock(fd, LOCK_EX | LOCK_NB), 0);
  const ProcessResult busy = RunFlash(Args(other), env, dir.path());
  ::close(fd);
  EXPECT_EQ(busy.exitCode, 1) << busy.err;
  EXPECT_NE(busy.err.find("message: Cannot Found Valid Device or JTAG ID"), std::string::npos) << busy.err;
  EXPECT_EQ(ReadFileBytes(flash), before) << "the held flash was written";
  EXPECT_NE(ReadFileBytes(dir / "trace")
                .find("note bench: probe[0]: flash file " + flash + ": in use by another process"),
            std::string::npos);

  ASSERT_EQ(RunFlash(Args(other), env, dir.path()).exitCode, 0);
  EXPECT_EQ(ReadFileBytes(flash).substr(0, kImageSize), PatternBytes(kImageSize, 9));
}

TEST(BenchState, FullStateFolderEndsWithoutProbeAndWithoutAFlashFile) {
  ScratchDir dir;
  const std::string state = dir / "state";
  fs::create_directory(state);
  if (::mount("tmpfs", state.c_str(), "tmpfs", 0, "size=256k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  const FlashChild::Env env = {{"VORLINK_BENCH", dir.Write("b.toml", kBench)},
                               {"PROBESIM_STATE_DIR", state},
                               {"VORLINK_TRACE", dir / "trace"}};
  const ProcessResult result =
      RunFlash(Args(dir.Write("image.bin", PatternBytes(kImageSize, 3))), env, dir.path());
  const bool leftFile = fs::exists(state + "/b-0.bin");
  const bool empty = fs::is_empty(state);
  ::umount2(state.c_str(), MNT_DETACH);
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_FALSE(leftFile);
  EXPECT_TRUE(empty) << "a temporary file was left";
  EXPECT_NE(ReadFileBytes(dir / "trace")
                .find("flash file " + state +
                      "/b-0.bin: cannot be made: cannot reserve 524288 bytes: No space "
                      "left on device"),
            std::string::npos);
}

TEST(BenchState, WithoutHomeThereIsNoSharedDefaultFolder) {
  ScratchDir dir;
  // The child inherits this process's environment: take HOME and XDG_STATE_HOME out of it.
  std::vector<std::pair<std::string, std::string>> saved;
  for (const char* name : {"HOME", "XDG_STATE_HOME"}) {
    if (const char* value = std::getenv(name)) saved.emplace_back(name, value);
    ::unsetenv(name);
  }
  const FlashChild::Env env = {{"VORLINK_BENCH", dir.Write("b.toml", kBench)},
                               {"VORLINK_TRACE", dir / "trace"}};
  const ProcessResult result =
      RunFlash(Args(dir.Write("image.bin", PatternBytes(kImageSize, 3))), env, dir.path());
  for (const auto& [name, value] : saved) ::setenv(name.c_str(), value.c_str(), 1);
  EXPECT_EQ(result.exitCode, 1) << result.err;
  EXPECT_NE(ReadFileBytes(dir / "trace")
                .find("probe[0].flash_file: no folder for flash files: set PROBESIM_STATE_DIR"),
            std::string::npos)
      << ReadFileBytes(dir / "trace");
}

}  // namespace
}  // namespace zolt::reliability
