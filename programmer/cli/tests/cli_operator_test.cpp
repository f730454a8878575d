// SPDX-License-Identifier: MIT
// zolt-flash's view of a run: a device's percentage counts the bytes the jobs will send, by the
// same rule run control sums the run with.
#include "cli/cli_operator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <string>

#include "testing/scratch_dir.h"

namespace zolt::cli {
namespace {

// A file of `bytes` bytes in `dir` (sparse: nothing is written).
std::string SparseFile(const testing::ScratchDir& dir, const char* name, uint64_t bytes) {
  const std::string path = dir / name;
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY | O_CLOEXEC, 0600);
  const bool made = fd >= 0 && ::ftruncate(fd, static_cast<off_t>(bytes)) == 0;
  if (fd >= 0) ::close(fd);
  return made ? path : std::string();
}

TEST(CliOperator, ADevicePercentCountsOnlyTheFilesTheJobsWillSend) {
  testing::ScratchDir dir("zolt-cli-operator");
  const std::string small = SparseFile(dir, "small.bin", 1000);
  const std::string huge = SparseFile(dir, "huge.bin", uint64_t(1) << 32);  // exactly 4 GiB: refused
  ASSERT_FALSE(small.empty());
  ASSERT_FALSE(huge.empty());
  FlashOptions options;
  options.imageEnabled = {true, true, true};
  options.imagePath = {small, huge, dir / "missing.bin"};
  const int null = ::open("/dev/null", O_WRONLY | O_CLOEXEC);
  ASSERT_GE(null, 0);
  {
    Console console(null, null, false);
    CliOperator op(options, console);
    std::array<uint8_t, 16> slots{};
    slots[2] = 1;
    op.ShowDeviceStates(slots);
    op.UpdateFileProgress(2, 0, 500, 1000);
    EXPECT_EQ(op.DevicePercent(2), 50);
    op.UpdateFileProgress(2, 0, 1000, 1000);
    EXPECT_EQ(op.DevicePercent(2), 100);  // the 4 GiB slot and the missing one count nothing
  }
  ::close(null);
}

}  // namespace
}  // namespace zolt::cli
