// SPDX-License-Identifier: MIT
// zolt-flash's view of a run: a device's percentage counts the bytes the jobs will send, by the
// same rule run control sums the run with.
#include "cli/cli_operator.h"

#include <fcntl.h>
#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <string>

namespace zolt::cli {
namespace {

// A temporary file of `bytes` bytes (sparse: nothing is written), removed at the end.
class SparseFile {
 public:
  explicit SparseFile(uint64_t bytes) {
    const char* tmp = std::getenv("TMPDIR");
    path_ = std::string(tmp && *tmp ? tmp : "/tmp") + "/zolt-cli-image-XXXXXX";
    const int fd = ::mkstemp(path_.data());
    if (fd < 0 || ::ftruncate(fd, static_cast<off_t>(bytes)) != 0) path_.clear();
    if (fd >= 0) ::close(fd);
  }
  ~SparseFile() {
    if (!path_.empty()) ::unlink(path_.c_str());
  }
  const std::string& path() const { return path_; }

 private:
  std::string path_;
};

TEST(CliOperator, ADevicePercentCountsOnlyTheFilesTheJobsWillSend) {
  SparseFile small(1000), huge(uint64_t(1) << 32);  // exactly 4 GiB: refused by the job
  ASSERT_FALSE(small.path().empty());
  ASSERT_FALSE(huge.path().empty());
  FlashOptions options;
  options.imageEnabled = {true, true, true};
  options.imagePath = {small.path(), huge.path(), "/nonexistent/zolt-image"};
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
