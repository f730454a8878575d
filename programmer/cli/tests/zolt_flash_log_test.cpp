// SPDX-License-Identifier: MIT
// zolt-flash's stdout is the log and its stderr the message boxes, byte for byte: the same run
// is made once in this process through RunControl with a recording RunView, once by zolt-flash.
// One test per executable: libVorlink.so reads its bench when it is first loaded.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <filesystem>

#include "jobs/run_control.h"
#include "testing/flash_child.h"
#include "testing/pattern_bytes.h"
#include "testing/recording_operator.h"
#include "testing/scratch_dir.h"

namespace zolt::cli::testing {
namespace {

using ::zolt::testing::FlashChild;
using ::zolt::testing::FlashProgram;
using ::zolt::testing::PatternBytes;
using ::zolt::testing::ProcessResult;
using ::zolt::testing::ScratchDir;

TEST(ZoltFlashLog, StdoutIsTheLogAndStderrTheBoxesByteForByte) {
  ScratchDir dir;
  const std::string bench = dir.Write("bench.toml",
                                      "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n"
                                      "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n");
  const std::string image1 = dir.Write("first.bin", PatternBytes(5000, 7));
  const std::string image2 = dir.Write("second.bin", PatternBytes(2048, 8));
  std::filesystem::create_directories(dir / "core");
  std::filesystem::create_directories(dir / "cli");

  ::setenv("VORLINK_BENCH", bench.c_str(), 1);
  ::setenv("PROBESIM_STATE_DIR", (dir / "core").c_str(), 1);
  zolt::testing::RecordingOperator rec;
  rec.fields.productIndex = 1;
  rec.fields.nandSelected = false;
  rec.fields.norSelected = true;
  rec.norType = 1;
  rec.width = 8;
  rec.offset = 0;
  rec.imageEnabled = {true, true, false};
  rec.imagePath = {image1, image2, ""};
  rec.imageBlock = {2, 5, 2};
  rec.multiDevice = false;
  {
    RunControl run(rec);
    run.OnRun(rec.Request());
    run.WaitForIdle();
    ASSERT_EQ(run.LastOutcome(), RunOutcome::kComplete) << rec.Log();
  }

  ProcessResult r = FlashChild(FlashProgram(),
                               {"--product", "KELDA", "--nor", "--nor-type", "EN29LV040A", "--single",
                                "--image1", image1, "--block1", "2", "--image2", image2, "--block2", "5"},
                               {{"VORLINK_BENCH", bench}, {"PROBESIM_STATE_DIR", dir / "cli"}}, dir.path())
                        .Wait();
  EXPECT_EQ(r.exitCode, 0);
  EXPECT_EQ(r.out, rec.Log());
  // The one line zolt-flash adds for a virtual bench comes first; then the boxes, as they were shown.
  const std::string benchLine = r.err.substr(0, r.err.find('\n') + 1);
  EXPECT_EQ(benchLine.rfind("zolt-flash: virtual bench ", 0), 0u) << r.err;
  std::string boxes = benchLine;
  for (const std::string& text : rec.Messages()) boxes += "message: " + text + "\n";
  EXPECT_EQ(r.err, boxes);
  // Both sides agree, and the agreement is about real log text with its CR LF line ends.
  EXPECT_EQ(r.out.rfind("[Download to NOR FLASH]\r\n  **** NOR FLASH SETTING ", 0), 0u) << r.out;
  EXPECT_NE(r.out.find("\r\n  JTAG ID: 0x00AECADD\r\n"), std::string::npos);
  EXPECT_NE(r.out.find("  DEVICE #0: Downloading to sector #5 (second.bin)\r\n"), std::string::npos);
  EXPECT_EQ(r.err, benchLine + "message: Download Complete !\n");
}

}  // namespace
}  // namespace zolt::cli::testing
