// SPDX-License-Identifier: MIT
// The fixture of the zolt-flash end-to-end tests: KELDA benches, a scratch folder, the run.
#pragma once

#include <gtest/gtest.h>

#include <filesystem>
#include <string>
#include <vector>

#include "testing/flash_child.h"
#include "testing/pattern_bytes.h"
#include "testing/scratch_dir.h"

namespace zolt::cli::testing {

using ::zolt::testing::Crc32;
using ::zolt::testing::FlashChild;
using ::zolt::testing::FlashProgram;
using ::zolt::testing::PatternBytes;
using ::zolt::testing::ProcessResult;
using ::zolt::testing::ReadFileBytes;
using ::zolt::testing::ScratchDir;
using ::zolt::testing::WaitForFileText;

// Three KELDA boards with an EN29LV040A (64 KiB erase blocks); the middle one cannot program
// one byte of the image placed at block 1, when `faulty`.
inline std::string KeldaBench(int boards, const std::string& timing, const std::string& middleFaults = "") {
  std::string toml = "[bench]\ntiming = \"" + timing + "\"\n";
  for (int i = 0; i < boards; ++i) {
    toml += "\n[[probe]]\nname = \"board-" + std::to_string(i) +
            "\"\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";
    if (i == 1 && !middleFaults.empty()) toml += "[probe.faults]\n" + middleFaults + "\n";
  }
  return toml;
}

inline const std::vector<std::string> kKeldaNor = {"--product", "KELDA", "--nor", "--nor-type", "EN29LV040A"};

inline std::vector<std::string> Args(std::vector<std::string> base, const std::vector<std::string>& more) {
  base.insert(base.end(), more.begin(), more.end());
  return base;
}

class ZoltFlash : public ::testing::Test {
 protected:
  FlashChild::Env BenchEnv(const std::string& benchToml) {
    std::filesystem::create_directories(dir / "state");
    return {{"VORLINK_BENCH", dir.Write("bench.toml", benchToml)},
            {"PROBESIM_STATE_DIR", dir / "state"},
            {"PROBESIM_LOG", dir / "probe.log"}};
  }
  ProcessResult Run(const std::vector<std::string>& args, const FlashChild::Env& env,
                    const std::string& program = FlashProgram()) {
    return FlashChild(program, args, env, dir.path()).Wait();
  }
  // The board's flash file holds `image` at `offset`.
  void ExpectFlashHolds(int board, const std::string& image, size_t offset) {
    std::string flash = ReadFileBytes(dir / ("state/bench-" + std::to_string(board) + ".bin"));
    ASSERT_GE(flash.size(), offset + image.size()) << "board " << board;
    EXPECT_TRUE(flash.compare(offset, image.size(), image) == 0) << "board " << board << " at " << offset;
  }

  ScratchDir dir;
};

}  // namespace zolt::cli::testing
