// SPDX-License-Identifier: MIT
// The download exchange driven directly: placement in the flash file, block responses, the stop
// marker, and each download error code on its fault.
#include <numeric>

#include "board_setup.h"

namespace probesim::test {
namespace {

Bytes Image(size_t size, uint8_t seed = 1) {
  Bytes b(size);
  for (size_t i = 0; i < size; ++i) b[i] = static_cast<uint8_t>((i * 7 + seed) ^ (i >> 8));
  return b;
}

struct Reply {
  int code;
  uint32_t address;
};

Reply Decode(const std::optional<Bytes>& a) {
  if (!a || a->size() != 5) return {-1, 0};
  return {(*a)[0], static_cast<uint32_t>((*a)[1] | ((*a)[2] << 8) | ((*a)[3] << 16) | ((*a)[4] << 24))};
}

// Streams `image` as the host does: 64-byte chunks, a block response every 2048 bytes and after
// the last chunk, until the probe answers anything but "Q". `stopAtBlock` puts the stop marker
// over the first chunk of that block and every later one.
std::vector<Reply> Stream(Host& h, const Bytes& image, int stopAtBlock = -1) {
  std::vector<Reply> replies;
  size_t sent = 0;
  do {
    const size_t n = std::min<size_t>(64, image.size() - sent);
    Bytes chunk(image.begin() + static_cast<long>(sent), image.begin() + static_cast<long>(sent + n));
    if (stopAtBlock >= 0 && sent % 2048 == 0 && sent / 2048 >= static_cast<size_t>(stopAtBlock)) {
      const char marker[18] = "USBJTAG_Down_STOP";
      std::copy(marker, marker + std::min<size_t>(18, n), chunk.begin());
    }
    h.Write(chunk);
    sent += n;
    if ((sent % 2048 == 0 && sent > 0) || sent == image.size()) {
      replies.push_back(Decode(h.Read(5, 14000)));
      if (replies.back().code != 'Q') break;
    }
  } while (sent < image.size());
  return replies;
}

// The flash file holds `image` at `offset` and erased bytes elsewhere in [0, end).
void ExpectFlash(const Bytes& flash, size_t offset, const Bytes& image, size_t end) {
  ASSERT_GE(flash.size(), end);
  for (size_t i = 0; i < end; ++i) {
    const uint8_t want = i >= offset && i < offset + image.size() ? image[i - offset] : 0xFF;
    if (flash[i] != want) {
      ADD_FAILURE() << "flash byte 0x" << std::hex << i << " is 0x" << int(flash[i]) << ", expected 0x"
                    << int(want);
      return;
    }
  }
}

TEST(Download, NorFileLandsAtRegionOffsetPlusBlockTimesEraseBlock) {
  ScratchDir dir;
  auto bench = MustLoad("[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n", dir.path());
  const Bytes image = Image(5000);
  {
    Host h(bench->Probe(0));
    KeldaNorReady(h);
    EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 2, 5000, true)), 'Q');
    const auto replies = Stream(h, image);
    ASSERT_EQ(replies.size(), 3u);
    EXPECT_EQ(replies[0].code, 'Q');
    EXPECT_EQ(replies[1].code, 'Q');
    EXPECT_EQ(replies[2].code, 0x60);
  }
  EXPECT_EQ(PlacementOffset(*bench, 0, 0, 2), 0x20000u);
  const Bytes flash = ReadFile(FlashFilePath(*bench, 0));
  EXPECT_EQ(flash.size(), 512u * 1024);
  ExpectFlash(flash, 0x20000, image, flash.size());
}

TEST(Download, NandFileLandsAtBlockTimesBlockSizeAndFilesAreKeptBetweenRuns) {
  ScratchDir dir;
  const std::string toml = "[[probe]]\ntarget = \"KELDA\"\nflash = \"K9F1G08\"\nflash_file = \"nand.bin\"\n";
  const Bytes first = Image(4096, 3);
  const Bytes second = Image(100, 9);
  {
    auto bench = MustLoad(toml, dir.path());
    Host h(bench->Probe(0));
    KeldaNandReady(h);
    ASSERT_EQ(h.Code(Host::DownloadInfo(kNand, 0x1234, 3, 4096, false)), 'Q')
        << "the NOR offset plays no part";
    auto replies = Stream(h, first);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[1].code, 0x60);
    ASSERT_EQ(h.Code(Host::DownloadInfo(kNand, 0, 5, 100, true)), 'Q');
    replies = Stream(h, second);
    ASSERT_EQ(replies.size(), 1u);
    EXPECT_EQ(replies[0].code, 0x60);
  }
  auto again = MustLoad(toml, dir.path());  // a second run finds the file as the first left it
  EXPECT_EQ(FlashFilePath(*again, 0), dir.path() + "/nand.bin");
  const Bytes flash = ReadFile(dir.path() + "/nand.bin");
  ASSERT_EQ(flash.size(), 128u << 20);
  ExpectFlash(flash, 3 * 0x20000, first, 5 * 0x20000);
  ExpectFlash(Bytes(flash.begin() + 5 * 0x20000, flash.begin() + 6 * 0x20000), 0, second, 0x20000);
}

TEST(Download, StopMarkerEndsTheFileAndNothingOfItsBlockIsProgrammed) {
  ScratchDir dir;
  auto bench = MustLoad("[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n", dir.path());
  const Bytes image = Image(8192);
  {
    Host h(bench->Probe(0));
    KeldaNorReady(h);
    ASSERT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 8192, true)), 'Q');
    const auto replies = Stream(h, image, 1);
    ASSERT_EQ(replies.size(), 2u);
    EXPECT_EQ(replies[0].code, 'Q');
    EXPECT_EQ(replies[1].code, 0x60) << "the block that began with the marker";
    EXPECT_EQ(h.Code(Host::Short(0x01)), 'Q') << "the probe takes commands again";
  }
  ExpectFlash(ReadFile(FlashFilePath(*bench, 0)), 0, Bytes(image.begin(), image.begin() + 2048), 0x10000);
}

TEST(Download, EmptyFileIsAnsweredFinishedAfterItsEmptyChunk) {
  ScratchDir dir;
  auto bench = MustLoad("[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n", dir.path());
  Host h(bench->Probe(0));
  KeldaNorReady(h);
  ASSERT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 0, false)), 'Q');
  EXPECT_EQ(h.Write({}).status, TransferStatus::kOk);
  EXPECT_EQ(Decode(h.Read(5)).code, 0x60);
}

TEST(Download, NotAnsweredOrRefusedWhenTheProbeLacksItsRecords) {
  ScratchDir dir;
  auto bench = MustLoad("[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n", dir.path());
  Host h(bench->Probe(0));
  Resets(h);
  BoundarySetup(h, Product::kKelda, NorPinMap(Product::kKelda, 8, 0));
  SetFlashInfo(h, kNor, NorInfo{}.Record());
  EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 64, false)), 0x52) << "no SetFlashCfi yet";
  SetFlashCfi(h, CfiRecord(256 * 1024, {{4, 64 * 1024}}));
  EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 64, false)), 0x52) << "a layout that is not the part's";
  SetFlashCfi(h, Bytes(36, 0));
  EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 64, false)), 0x52) << "a part without CFI needs its layout";
  Bytes malformed = Host::DownloadInfo(kNor, 0, 0, 64, false);
  malformed[20] = '?';
  SetFlashCfi(h, CfiRecord(512 * 1024, {{8, 64 * 1024}}));
  EXPECT_EQ(h.Code(malformed), -1) << "a malformed command gets no answer";
  EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 64, false)), 'Q');
}

struct FaultCase {
  const char* name;
  const char* board;
  uint8_t type;
  uint32_t norOffset, block, size;
  bool verify;
  int eraseCode;  // the first answer
  int blockCode;  // the last block response (-1: none expected)
  uint32_t address;
};

const FaultCase kFaults[] = {
    {"NotOnSectorBoundary", "", kNor, 0x100, 0, 64, false, 0x53, -1, 0},
    {"DoesNotFit", "", kNor, 0, 7, 0x10001, false, 0x54, -1, 0},
    {"BlockBeyondFlash", "", kNor, 0, 9, 1, false, 0x54, -1, 0},
    {"OffsetInAnotherChipSelectRegion", "", kNor, 0x20000000, 0, 64, false, 0x54, -1, 0},
    {"BadNorSector", "bad_sectors = [0x10010]", kNor, 0, 0, 0x20000, false, 0x52, -1, 0x10000},
    {"NorProgramFailure", "program_fail = [0x100]", kNor, 0, 0, 4096, false, 'Q', 0x55, 0x100},
    {"StuckBitFoundByVerify", "stuck_bits = [{ address = 0x880, mask = 0x01 }]", kNor, 0, 0, 4096, true, 'Q',
     0x56, 0x880},
    {"ReadFaultDuringVerify", "read_fault = [0x40]", kNor, 0, 0, 100, true, 'Q', 0x59, 0x40},
    {"ReadFaultUnseenWithoutVerify", "read_fault = [0x40]", kNor, 0, 0, 100, false, 'Q', 0x60, 0},
    {"BadNandBlock", "bad_blocks = [4]", kNand, 0, 3, 0x30000, false, 0x57, -1, 0x80000},
    {"NandProgramFailure", "program_fail = [0x60010]", kNand, 0, 3, 64, true, 'Q', 0x58, 0x60010},
};

void PrintTo(const FaultCase& c, std::ostream* os) {
  *os << c.name;
}

class DownloadFault : public ::testing::TestWithParam<FaultCase> {};

TEST_P(DownloadFault, AnswersItsCodeWithTheFailingAddress) {
  const FaultCase& c = GetParam();
  ScratchDir dir;
  const std::string flash = c.type == kNor ? "EN29LV040A" : "K9F1G08";
  auto bench =
      MustLoad("[[probe]]\ntarget = \"KELDA\"\nflash = \"" + flash + "\"\n[probe.faults]\n" + c.board + "\n",
               dir.path());
  ASSERT_TRUE(bench);
  Host h(bench->Probe(0));
  c.type == kNor ? KeldaNorReady(h) : KeldaNandReady(h);
  const Reply erase =
      Decode(h.Exchange(Host::DownloadInfo(c.type, c.norOffset, c.block, c.size, c.verify), 5));
  EXPECT_EQ(erase.code, c.eraseCode);
  if (c.blockCode < 0) {
    if (c.eraseCode == 0x52 || c.eraseCode == 0x57) {
      EXPECT_EQ(erase.address, c.address);
    }
    return;
  }
  const auto replies = Stream(h, Bytes(c.size, 0x00));
  ASSERT_FALSE(replies.empty());
  EXPECT_EQ(replies.back().code, c.blockCode);
  if (c.blockCode != 0x60) {
    EXPECT_EQ(replies.back().address, c.address);
  }
  EXPECT_EQ(h.Code(Host::Short(0x02)), 'Q') << "after the error the probe takes commands again";
}

INSTANTIATE_TEST_SUITE_P(Faults, DownloadFault, ::testing::ValuesIn(kFaults),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(Download, StuckBitWithoutVerifyLeavesTheWrongBitInTheFile) {
  ScratchDir dir;
  auto bench = MustLoad(
      "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n[probe.faults]\n"
      "stuck_bits = [{ address = 3, mask = 0x80 }]\n",
      dir.path());
  {
    Host h(bench->Probe(0));
    KeldaNorReady(h);
    ASSERT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 64, false)), 'Q');
    EXPECT_EQ(Stream(h, Bytes(64, 0x00)).back().code, 0x60);
  }
  const Bytes flash = ReadFile(FlashFilePath(*bench, 0));
  EXPECT_EQ(flash[2], 0x00);
  EXPECT_EQ(flash[3], 0x80);
}

}  // namespace
}  // namespace probesim::test

namespace probesim::test {
namespace {

// Random faults come from the seed: the same bench gives the same failure, another seed another.
TEST(Download, RandomProgramFailuresFollowTheSeed) {
  auto firstFailure = [](uint64_t seed) {
    ScratchDir dir;
    auto bench = MustLoad("[bench]\nseed = " + std::to_string(seed) +
                              "\n[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n"
                              "[probe.faults]\nrandom_program_fails = 2\n",
                          dir.path());
    Host h(bench->Probe(0));
    KeldaNorReady(h);
    EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 512 * 1024, false)), 'Q');
    const auto replies = Stream(h, Bytes(512 * 1024, 0));
    EXPECT_EQ(replies.back().code, 0x55);
    return replies.back().address;
  };
  const uint32_t a = firstFailure(7);
  EXPECT_EQ(firstFailure(7), a);
  EXPECT_NE(firstFailure(8), a);
}

}  // namespace
}  // namespace probesim::test
