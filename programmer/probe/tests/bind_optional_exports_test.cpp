// SPDX-License-Identifier: MIT
// The link library's optional WriteChunks export: bound when the library has it, null (and nothing
// said) when it has not, also after an earlier bind that found it.
#include <dlfcn.h>
#include <unistd.h>

#include <string>

#include "probe/identify.h"
#include "probe_fixture.h"

namespace zolt::testing {
namespace {

std::string BesideTheTest(const char* name) {
  char path[4096];
  const ssize_t n = readlink("/proc/self/exe", path, sizeof path - 1);
  std::string p(path, n > 0 ? static_cast<size_t>(n) : 0);
  return p.substr(0, p.rfind('/') + 1) + name;
}

TEST(BindProbeLink, BindsWriteChunksWhenTheLibraryHasItAndLeavesItNullSilentlyOtherwise) {
  RecordingOperator op;
  ProbeLink link;
  ASSERT_EQ(BindProbeLink(link, op, "libzolt_chunk_link.so"), 1);
  void* chunks = dlopen(BesideTheTest("libzolt_chunk_link.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(chunks, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(link.WriteChunks), dlsym(chunks, "WriteChunks"));
  EXPECT_NE(link.Write, nullptr);
  EXPECT_EQ(link.DeviceLocation, nullptr);

  // The next RUN binds a library with only the four: the entry found before must not survive.
  ASSERT_EQ(BindProbeLink(link, op, "libzolt_four_export_link.so"), 1);
  EXPECT_EQ(link.WriteChunks, nullptr);
  EXPECT_EQ(link.DeviceLocation, nullptr);
  void* four = dlopen(BesideTheTest("libzolt_four_export_link.so").c_str(), RTLD_NOW | RTLD_NOLOAD);
  ASSERT_NE(four, nullptr);
  EXPECT_EQ(reinterpret_cast<void*>(link.Write), dlsym(four, "Write"));
  EXPECT_TRUE(op.Messages().empty());
  EXPECT_TRUE(op.ErrorMessages().empty());
  EXPECT_EQ(op.Log(), "");
}

}  // namespace
}  // namespace zolt::testing
