// SPDX-License-Identifier: MIT
// Set-up sequences per product and flash type: the flash answers its ID after the right steps and
// reads as zero after a wrong or missing one, as a real board would.
#include <functional>

#include "board_setup.h"

namespace probesim::test {
namespace {

using Ids = std::array<uint16_t, 4>;
constexpr Ids kZero{0, 0, 0, 0};

struct Case {
  const char* name;
  const char* board;  // the [[probe]] body
  std::function<void(Host&)> setup;
  std::function<Ids(Host&)> readId;
  Ids expected;
};

NorInfo Sixteen(uint32_t base = 0) {
  NorInfo i;
  i.width = 16;
  i.unlock1 = 0xAAA;
  i.unlock2 = 0x554;
  i.dataMask = 0xFFFF;
  i.base = base;
  return i;
}

NorInfo SstSixteen() {
  NorInfo i = Sixteen();
  i.unlock1 = 0xAAAA;
  i.unlock2 = 0x5554;
  i.data1 = 0xAAAA;
  i.data2 = 0x5555;
  i.eraseSetup = 0x8080;
  i.sectorErase = 0x50;
  return i;
}

NorInfo EightTwice() {
  NorInfo i;
  i.interleave = 2;
  i.unlock1 = 0xAAA;
  i.unlock2 = 0x554;
  i.data1 = 0xAAAA;
  i.data2 = 0x5555;
  i.eraseSetup = 0x8080;
  i.id = 0x9090;
  i.reset = 0xF0F0;
  i.program = 0xA0A0;
  i.sectorErase = 0x3030;
  i.dataMask = 0xFFFF;
  return i;
}

void KeldaNor(Host& h, const NorInfo& info, int busWidth = 8, int region = 0) {
  Resets(h);
  BoundarySetup(h, Product::kKelda, NorPinMap(Product::kKelda, busWidth, region));
  SetFlashInfo(h, kNor, info.Record());
}

Ids Nor8(Host& h) {
  return h.FlashId(kNor, 1, 8, 1);
}

const Case kCases[] = {
    // Boards that answer.
    {"TarvisNand", "target = \"TARVIS\"\nflash = \"K9F1208\"",
     [](Host& h) {
       Resets(h);
       BoundarySetup(h, Product::kTarvis, NandPinMap(Product::kTarvis));
     },
     [](Host& h) { return h.FlashId(kNand); }, Ids{0xEC, 0x76, 0x5A, 0x3F}},
    {"TarvisNorInDebugMode", "target = \"TARVIS\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       TarvisDebugSetup(h);
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, Ids{0x1C, 0x4F, 0, 0}},
    {"KeldaTwoByteWideNorsSideBySide", "target = \"KELDA\"\nflash = \"EN29LV010A\"\ninterleave = 2",
     [](Host& h) { KeldaNor(h, EightTwice(), 16); }, [](Host& h) { return h.FlashId(kNor, 0, 8, 2); },
     Ids{0x1C1C, 0x6E6E, 0, 0}},
    {"KeldaCfiNorOnChipSelect1", "target = \"KELDA\"\nflash = \"S29GL064M\"\nchip_select = 1",
     [](Host& h) { KeldaNor(h, Sixteen(0x20000000), 16, 1); },
     [](Host& h) { return h.FlashId(kNor, 5, 16, 1); }, Ids{0x01, 0x227E, 0x2210, 0x2200}},
    {"Vtn3300WordModeNor", "target = \"VTN3300\"\nflash = \"S29AL004D\"\nboot = \"bottom\"",
     [](Host& h) {
       Resets(h);
       BoundarySetup(h, Product::kVtn3300, NorPinMap(Product::kVtn3300, 16, 0));
       SetFlashInfo(h, kNor, Sixteen().Record());
     },
     [](Host& h) { return h.FlashId(kNor, 3, 16, 1); }, Ids{0x01, 0x22BA, 0, 0}},
    {"OkoNand", "target = \"OKO\"\nflash = \"K9F2G08\"",
     [](Host& h) {
       Resets(h);
       BoundarySetup(h, Product::kOko, NandPinMap(Product::kOko));
     },
     [](Host& h) { return h.FlashId(kNand); }, Ids{0xEC, 0xDA, 0x10, 0x95}},
    {"SolantNorInDebugMode", "target = \"SOLANT\"\nflash = \"SST39VF6401\"",
     [](Host& h) {
       Resets(h);
       SolantDebugSetup(h);
       SetFlashInfo(h, kNor, SstSixteen().Record());
     },
     [](Host& h) { return h.FlashId(kNor, 8, 16, 1); }, Ids{0xBF, 0x236B, 0, 0}},

    // One step wrong or missing: the board does not answer.
    {"KeldaWithoutExtest", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       h.Exchange(Host::Prefixed(0x12, Model(Product::kKelda).image), 5);
       h.Exchange(Host::Prefixed(0x13, PinMapBytes(NorPinMap(Product::kKelda, 8, 0))), 5);
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"KeldaImageOneCellWrong", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       h.Exchange(Host::Short(0x04), 5);
       Bytes image = Model(Product::kKelda).image;
       image[3] ^= 1;
       h.Exchange(Host::Prefixed(0x12, image), 5);
       h.Exchange(Host::Prefixed(0x13, PinMapBytes(NorPinMap(Product::kKelda, 8, 0))), 5);
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"KeldaPinMapForAWiderBus", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) { KeldaNor(h, NorInfo{}, 16); }, Nor8, kZero},
    {"KeldaChipSelectOfAnotherRegion", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) { KeldaNor(h, NorInfo{}, 8, 1); }, Nor8, kZero},
    {"KeldaNandPinMapForANor", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       BoundarySetup(h, Product::kKelda, NandPinMap(Product::kKelda));
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"KeldaNorIdBeforeFlashInfo", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       BoundarySetup(h, Product::kKelda, NorPinMap(Product::kKelda, 8, 0));
     },
     Nor8, kZero},
    {"KeldaFlashInfoWithWordUnlockAddresses", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       NorInfo info;
       info.unlock1 = 0xAAA;
       info.unlock2 = 0x554;
       KeldaNor(h, info);
     },
     Nor8, kZero},
    {"KeldaFlashInfoForTwoDevices", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) { KeldaNor(h, EightTwice()); }, Nor8, kZero},
    {"KeldaFlashInfoSentAsNand", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       BoundarySetup(h, Product::kKelda, NorPinMap(Product::kKelda, 8, 0));
       SetFlashInfo(h, kNand, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"KeldaJtagTypeDebug", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       KeldaNor(h, NorInfo{});
       h.Exchange(Host::Short(0x03, {1, 0, 0, 0}), 5);
     },
     Nor8, kZero},
    {"KeldaIdAskedWithWrongWidth", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) { KeldaNor(h, NorInfo{}); }, [](Host& h) { return h.FlashId(kNor, 1, 16, 1); }, kZero},
    {"KeldaNorAskedAsNand", "target = \"KELDA\"\nflash = \"EN29LV040A\"",
     [](Host& h) { KeldaNor(h, NorInfo{}); }, [](Host& h) { return h.FlashId(kNand); }, kZero},
    {"TarvisNorWithPlainExtest", "target = \"TARVIS\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       h.Exchange(Host::Short(0x04), 5);
       h.Exchange(Host::Short(0x03, {1, 0, 0, 0}), 5);
       DebugScans(h);
       h.Exchange(Host::WordWrite(0x80000410, 0x5550), 5);
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"TarvisScansBeforeJtagType", "target = \"TARVIS\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       h.Exchange(Host::Short(0x04, {1, 0, 0, 1}), 5);
       DebugScans(h);
       h.Exchange(Host::Short(0x03, {1, 0, 0, 0}), 5);
       h.Exchange(Host::WordWrite(0x80000410, 0x5550), 5);
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"TarvisScansOutOfOrder", "target = \"TARVIS\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       h.Exchange(Host::Short(0x04, {1, 0, 0, 1}), 5);
       h.Exchange(Host::Short(0x03, {1, 0, 0, 0}), 5);
       h.Exchange(Host::Prefixed(0x05, {1, 0, 0, 1, 0, 1}), 5);
       h.Exchange(Host::Prefixed(0x05, {0, 0, 0, 0, 0}), 5);
       h.Exchange(Host::Prefixed(0x05, {0, 0, 0, 1, 1}), 5);
       h.Exchange(Host::WordWrite(0x80000410, 0x5550), 5);
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"TarvisConfigRegisterNotWritten", "target = \"TARVIS\"\nflash = \"EN29LV040A\"",
     [](Host& h) {
       Resets(h);
       h.Exchange(Host::Short(0x04, {1, 0, 0, 1}), 5);
       h.Exchange(Host::Short(0x03, {1, 0, 0, 0}), 5);
       DebugScans(h);
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"TarvisConfigRegisterIgnoresWrites",
     "target = \"TARVIS\"\nflash = \"EN29LV040A\"\n[probe.faults]\nconfig_register_ignores_writes = true",
     [](Host& h) {
       Resets(h);
       TarvisDebugSetup(h);
       EXPECT_EQ(ReadWord(h, 0x80000410), 0x1110u);
       SetFlashInfo(h, kNor, NorInfo{}.Record());
     },
     Nor8, kZero},
    {"SolantWithDebugSwitchOn",
     "target = \"SOLANT\"\nflash = \"SST39VF6401\"\n[probe.faults]\ndebug_switch = true",
     [](Host& h) {
       Resets(h);
       SolantDebugSetup(h);
       EXPECT_EQ(ReadWord(h, 0x80020004) & 0x20, 0x20u);
       EXPECT_NE(ReadWord(h, 0x80000400), 0x2220u);
       SetFlashInfo(h, kNor, SstSixteen().Record());
     },
     [](Host& h) { return h.FlashId(kNor, 8, 16, 1); }, kZero},
    {"SolantFlashInfoWithWrongEraseCommand", "target = \"SOLANT\"\nflash = \"SST39VF6401\"",
     [](Host& h) {
       Resets(h);
       SolantDebugSetup(h);
       NorInfo info = SstSixteen();
       info.sectorErase = 0x30;
       SetFlashInfo(h, kNor, info.Record());
     },
     [](Host& h) { return h.FlashId(kNor, 8, 16, 1); }, kZero},
};

void PrintTo(const Case& c, std::ostream* os) {
  *os << c.name;
}

class SetupSequence : public ::testing::TestWithParam<Case> {};

TEST_P(SetupSequence, FlashIdAnswersOnlyAfterTheRightSteps) {
  const Case& c = GetParam();
  ScratchDir dir;
  auto bench = MustLoad(std::string("[[probe]]\n") + c.board + "\n", dir.path());
  ASSERT_TRUE(bench);
  Host h(bench->Probe(0));
  c.setup(h);
  EXPECT_EQ(c.readId(h), c.expected);
}

INSTANTIATE_TEST_SUITE_P(Boards, SetupSequence, ::testing::ValuesIn(kCases),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(SetupSequence, DebugBusNeedsDebugModeAndKeepsWords) {
  ScratchDir dir;
  auto bench = MustLoad("[[probe]]\ntarget = \"TARVIS\"\nflash = \"EN29LV040A\"\n", dir.path());
  Host h(bench->Probe(0));
  Resets(h);
  EXPECT_EQ(h.Code(Host::WordWrite(0x80000410, 0x5550)), 'Q');
  EXPECT_EQ(ReadWord(h, 0x80000410), 0u) << "no debug mode yet: the bus reads nothing";
  TarvisDebugSetup(h);
  EXPECT_EQ(ReadWord(h, 0x80000410), 0x5550u);
  h.Exchange(Host::WordWrite(0x10002000, 0x12345678), 5);
  EXPECT_EQ(ReadWord(h, 0x10002000), 0x12345678u);
}

// Spot checks of the board tables against the boards' documentation.
TEST(BoardTables, PinMapsAndChipSelectCells) {
  auto field = [](const std::vector<PinMapField>& fields, uint16_t offset) -> int {
    for (const auto& f : fields) {
      if (f.offset == offset) return f.value;
    }
    return -1;
  };
  const auto vtn = NorPinMap(Product::kVtn3300, 16, 0);
  EXPECT_EQ(field(vtn, 82), 16);   // data cells in use
  EXPECT_EQ(field(vtn, 148), 1);   // data control cells in use
  EXPECT_EQ(field(vtn, 84), 143);  // the one data control cell
  EXPECT_EQ(field(vtn, 2), 116);   // chip select, region 0
  EXPECT_EQ(field(vtn, 214), 26);  // address cells
  EXPECT_EQ(field(NorPinMap(Product::kOko, 8, 6), 2), 39);
  EXPECT_EQ(field(NorPinMap(Product::kVtn3300, 8, 7), 2), 128);
  EXPECT_EQ(field(NorPinMap(Product::kKelda, 8, 1), 2), 184);
  EXPECT_TRUE(NorPinMap(Product::kKelda, 8, 7).empty()) << "KELDA has no chip select in region 7";
  EXPECT_TRUE(NorPinMap(Product::kOko, 32, 0).empty()) << "OKO carries no 32-bit NOR bus";
  EXPECT_EQ(field(NandPinMap(Product::kKelda), 18 + 2 * 7), 166 - 14);

  const auto& tarvis = Model(Product::kTarvis).image;
  ASSERT_EQ(tarvis.size(), 80u);
  EXPECT_EQ(std::count(tarvis.begin(), tarvis.end(), 0), 4);
  EXPECT_EQ(tarvis[32] + tarvis[33] + tarvis[38] + tarvis[40], 0);
  EXPECT_EQ(Model(Product::kOko).image.size(), 185u);
  EXPECT_EQ(Model(Product::kKelda).highPattern[297], 0);
}

}  // namespace
}  // namespace probesim::test
