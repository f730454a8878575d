// SPDX-License-Identifier: MIT
// Image slots whose erase would wipe an image written before in the same job: a table of slot
// layouts on NOR and NAND parts, through the download job on the fake bench.
#include <algorithm>

#include "job_fixture.h"
#include "jobs/download_job.h"

namespace zolt::testing {
namespace {

constexpr int kDevice = 2;
constexpr uint32_t kKiB = 1024;

struct Slot {
  uint32_t size;
  uint32_t block;
};

struct Layout {
  const char* name;
  bool nand;
  int norType, width, interleave;
  std::array<uint16_t, 4> flashId;
  uint32_t offset;
  std::vector<Slot> slots;  // image files #1, #2, #3 in order
  int overlapping;          // the file refused (0-based), or -1 when all are streamed
};

// EN29LV040A: 64 KiB sectors (128 KiB side by side); S29AL004D bottom boot: 16, 2 x 8, 32 KiB, then
// 64 KiB main sectors;
// K9F5608: 16 KiB blocks; K9F1G08: 128 KiB blocks.
const Layout kLayouts[] = {
    // The reported case: 200 KB at block 0 reaches blocks 0 to 3, so block 1 would wipe its tail.
    {"NOR tail erased by the next block", false, 1, 8, 1, {0x1C, 0x4F, 0, 0}, 0, {{200000, 0}, {4096, 1}}, 1},
    {"NOR touching blocks", false, 1, 8, 1, {0x1C, 0x4F, 0, 0}, 0, {{64 * kKiB, 0}, {4096, 1}}, -1},
    {"NOR one byte into the next block",
     false,
     1,
     8,
     1,
     {0x1C, 0x4F, 0, 0},
     0,
     {{64 * kKiB + 1, 0}, {10, 1}},
     1},
    {"NOR same block, small files", false, 1, 8, 1, {0x1C, 0x4F, 0, 0}, 0, {{100, 3}, {100, 3}}, 1},
    {"NOR later file erases forward into an earlier one",
     false,
     1,
     8,
     1,
     {0x1C, 0x4F, 0, 0},
     0,
     {{100, 2}, {128 * kKiB + 1, 0}},
     1},
    {"NOR later file ends where an earlier one starts",
     false,
     1,
     8,
     1,
     {0x1C, 0x4F, 0, 0},
     0,
     {{100, 2}, {128 * kKiB, 0}},
     -1},
    {"NOR third file overlaps the second, not the first",
     false,
     1,
     8,
     1,
     {0x1C, 0x4F, 0, 0},
     0,
     {{100, 0}, {70 * kKiB, 4}, {100, 5}},
     2},
    {"NOR three separate slots", false, 1, 8, 1, {0x1C, 0x4F, 0, 0}, 0, {{100, 0}, {100, 1}, {100, 7}}, -1},
    {"NOR empty file in a written block erases nothing",
     false,
     1,
     8,
     1,
     {0x1C, 0x4F, 0, 0},
     0,
     {{100, 0}, {0, 0}},
     -1},
    // Side by side the blocks are twice as large: what overlaps at interleave 1 may not here.
    {"NOR interleave 2, within one 128 KiB block",
     false,
     1,
     8,
     2,
     {0x1C, 0x4F4F, 0, 0},
     0,
     {{100 * kKiB, 0}, {100, 1}},
     -1},
    {"NOR interleave 2, into the next block",
     false,
     1,
     8,
     2,
     {0x1C, 0x4F4F, 0, 0},
     0,
     {{130 * kKiB, 0}, {100, 1}},
     1},
    // The NOR offset moves every file by the same amount, but not by whole blocks.
    {"NOR offset pushes a file over a block edge",
     false,
     1,
     8,
     1,
     {0x1C, 0x4F, 0, 0},
     0x8000,
     {{0x9000, 0}, {100, 1}},
     1},
    {"NOR offset in chip-select region 1 counts within it",
     false,
     1,
     8,
     1,
     {0x1C, 0x4F, 0, 0},
     0x20008000,
     {{0x9000, 0}, {100, 1}},
     1},
    {"NOR offset leaves the file inside its block",
     false,
     1,
     8,
     1,
     {0x1C, 0x4F, 0, 0},
     0x8000,
     {{0x7000, 0}, {100, 1}},
     -1},
    {"NOR bottom-boot part counts main sectors",
     false,
     3,
     8,
     1,
     {0x01, 0x22BA, 0, 0},
     0,
     {{64 * kKiB, 0}, {100, 1}},
     -1},
    {"NOR EN29LV010A 16 KiB sectors",
     false,
     0,
     8,
     1,
     {0x1C, 0x6E, 0, 0},
     0,
     {{16 * kKiB + 1, 0}, {100, 1}},
     1},
    // CFI parts: the part's main sector, since the job's CFI record is empty for them.
    {"NOR S29GL128 128 KiB sectors",
     false,
     6,
     16,
     1,
     {0x01, 0x227E, 0x2221, 0x2201},
     0,
     {{100 * kKiB, 0}, {100, 1}},
     -1},
    {"NOR S29GL064M 64 KiB sectors",
     false,
     5,
     16,
     1,
     {0x01, 0x227E, 0x2210, 0x2200},
     0,
     {{100 * kKiB, 0}, {100, 1}},
     1},
    {"NOR SST39VF6401 64 KiB blocks",
     false,
     8,
     16,
     1,
     {0xBF, 0x236B, 0, 0},
     0,
     {{100 * kKiB, 0}, {100, 1}},
     1},
    // NAND places by block alone; the NOR offset plays no part.
    {"NAND tail erased by the next block", true, 0, 0, 0, {0xEC, 0x75, 0, 0}, 0, {{20000, 0}, {100, 1}}, 1},
    {"NAND touching blocks", true, 0, 0, 0, {0xEC, 0x75, 0, 0}, 0x8000, {{16 * kKiB, 0}, {100, 1}}, -1},
    {"NAND same block", true, 0, 0, 0, {0xEC, 0xF1, 0, 0x95}, 0, {{2048, 5}, {2048, 5}}, 1},
    {"NAND 128 KiB blocks keep a 100 KiB file to itself",
     true,
     0,
     0,
     0,
     {0xEC, 0xF1, 0, 0x95},
     0,
     {{100 * kKiB, 0}, {100, 1}},
     -1},
};

class SlotOverlapTest : public JobFixture {
 protected:
  std::vector<std::string> Codes() const {
    std::vector<std::string> out;
    for (const std::string& e : bench.Commands(kDevice)) {
      if (e.rfind("cmd=", 0) == 0) out.push_back(e.substr(4));
    }
    return out;
  }
};

TEST_F(SlotOverlapTest, AFileWhoseEraseReachesAnEarlierImageIsRefusedBeforeItIsAnnounced) {
  const int product = kKelda;
  for (const Layout& l : kLayouts) {
    SCOPED_TRACE(l.name);
    bench.Reset();
    const size_t logStart = op.Log().size();
    FakeProbeConfig config = ProbeFor(product);
    config.flashId = l.flashId;
    bench.Configure(kDevice, config);
    SetDownload(product, l.nand, l.norType, l.width, l.interleave, l.offset);
    op.imageEnabled = {false, false, false};
    op.imagePath = {"", "", ""};
    std::vector<std::string> paths;
    for (size_t f = 0; f < l.slots.size(); ++f) {
      paths.push_back(
          ImageFile(dir, "image" + std::to_string(f) + ".bin", l.slots[f].size, static_cast<int>(f)));
      op.imageEnabled[f] = true;
      op.imagePath[f] = paths.back();
      op.imageBlock[f] = l.slots[f].block;
    }
    RecordingObserver observer;
    ctx.observer = &observer;
    ctx.failedDeviceCount.store(0);
    MarkSlots({kDevice});
    TakeRequest();
    DownloadJob(ctx);
    ctx.observer = nullptr;

    const std::string log = op.Log().substr(logStart);
    const auto codes = Codes();
    const auto files = bench.Files(kDevice);
    const long announced = std::count(codes.begin(), codes.end(), "0x18");
    if (l.overlapping < 0) {
      // As without the check: every file announced and streamed, the JTAG reset, no failure.
      EXPECT_EQ(announced, static_cast<long>(l.slots.size()));
      EXPECT_EQ(codes.back(), "0x01");
      EXPECT_EQ(ctx.failedDeviceCount.load(), 0);
      EXPECT_EQ(log.find("overlaps"), std::string::npos) << log;
      for (size_t f = 0; f < l.slots.size(); ++f) EXPECT_EQ(files[f].bytes.size(), l.slots[f].size);
      continue;
    }
    // The files before it went out whole; the refused one never reached the probe, so nothing
    // of it was erased; the job ends failed there, as after any failed file (no JTAG reset).
    EXPECT_EQ(announced, l.overlapping);
    EXPECT_EQ(codes.back(), "0x18");
    EXPECT_EQ(ctx.failedDeviceCount.load(), 1);
    const std::string line =
        "  DEVICE #2: '" + paths[l.overlapping] + "' overlaps an image written before\r\n";
    EXPECT_TRUE(log.ends_with(line + "\r\n")) << log;
    const std::string name = paths[l.overlapping].substr(paths[l.overlapping].rfind('/') + 1);
    EXPECT_EQ(log.find("(" + name + ")"), std::string::npos);
    ASSERT_FALSE(observer.events.empty());
    EXPECT_EQ(observer.events[observer.events.size() - 2],
              "file 2 " + std::to_string(l.overlapping) + " " + name + " " +
                  std::to_string(l.slots[l.overlapping].size) + " 0 failed");
    EXPECT_EQ(observer.events.back(), "end 2 failed: " + line);
  }
}

// A file that did not open was never announced: its slot holds nothing a later file could wipe.
TEST_F(SlotOverlapTest, AFileThatDidNotOpenClaimsNoBlocks) {
  FakeProbeConfig config = ProbeFor(kKelda);
  bench.Configure(kDevice, config);
  SetDownload(kKelda, false, 1);
  op.imageEnabled = {true, true, false};
  op.imagePath = {dir.path() + "/missing.bin", ImageFile(dir, "b.bin", 100)};
  op.imageBlock = {0, 0, 0};
  MarkSlots({kDevice});
  TakeRequest();
  DownloadJob(ctx);
  EXPECT_EQ(bench.Files(kDevice).size(), 1u);
  EXPECT_EQ(op.Log().find("overlaps"), std::string::npos);
  EXPECT_NE(op.Log().find("Downloading done.(0[s], b.bin)"), std::string::npos);
}

}  // namespace
}  // namespace zolt::testing
