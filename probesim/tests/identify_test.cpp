// SPDX-License-Identifier: MIT
// What a host reads when it identifies probes: version texts, the JTAG ID and its preconditions.
#include <cstring>

#include "board_setup.h"

namespace probesim::test {
namespace {

const char* kBench = R"(
[[probe]]
target = "KELDA"
[[probe]]
target = "VTN3300"
firmware = " 2.11"
bootloader = "none"
[[probe]]
target = "custom"
jtag_id = 0x12345678
[probe.faults]
firmware_prefix = "ZOLT USB JTAX"
)";

TEST(Identify, VersionTextsCarryPrefixAndVersionAtTheirBytes) {
  ScratchDir dir;
  auto bench = MustLoad(kBench, dir.path());
  Host kelda(bench->Probe(0));
  auto fw = kelda.Exchange(Host::FirmwareQuery(), 22);
  ASSERT_TRUE(fw);
  ASSERT_EQ(fw->size(), 22u);
  EXPECT_EQ(std::string(fw->begin(), fw->begin() + 13), "ZOLT USB JTAG");
  EXPECT_EQ(std::string(fw->begin() + 17, fw->end()), " 2.12");
  auto boot = kelda.Exchange({0x08}, 33);
  ASSERT_TRUE(boot);
  ASSERT_EQ(boot->size(), 33u);
  EXPECT_EQ(std::string(boot->begin(), boot->begin() + 27), "ZOLT USB_ISP Bootloader Ver");
  EXPECT_EQ(std::string(boot->begin() + 28, boot->begin() + 33), " 2.20");

  Host vtn(bench->Probe(1));
  fw = vtn.Exchange(Host::FirmwareQuery(), 22);
  ASSERT_TRUE(fw);
  EXPECT_EQ(std::string(fw->begin() + 17, fw->end()), " 2.11");
  EXPECT_FALSE(vtn.Exchange({0x08}, 33)) << "a probe without bootloader does not answer";

  Host custom(bench->Probe(2));
  fw = custom.Exchange(Host::FirmwareQuery(), 22);
  ASSERT_TRUE(fw);
  EXPECT_EQ(std::string(fw->begin(), fw->begin() + 13), "ZOLT USB JTAX");
}

TEST(Identify, FirmwareQueryWithWrongTextOrLengthGetsNoAnswer) {
  ScratchDir dir;
  auto bench = MustLoad(kBench, dir.path());
  Host h(bench->Probe(0));
  Bytes wrongText = Host::FirmwareQuery();
  wrongText[5] = 'x';
  EXPECT_FALSE(h.Exchange(wrongText, 22));
  Bytes shortCommand = Host::FirmwareQuery();
  shortCommand.pop_back();
  EXPECT_FALSE(h.Exchange(shortCommand, 22));
  EXPECT_FALSE(h.Exchange({0x42, 0, 0, 0, 0}, 5)) << "unknown code";
  EXPECT_TRUE(h.Exchange(Host::FirmwareQuery(), 22)) << "the probe still answers afterwards";
}

TEST(Identify, JtagIdOnlyAfterBothResetsInOrder) {
  ScratchDir dir;
  auto bench = MustLoad(kBench, dir.path());
  Host h(bench->Probe(0));
  const std::array<uint8_t, 4> param{0, 1, 0, 1};
  EXPECT_EQ(h.JtagId(param), 0u) << "before any reset";
  h.Exchange(Host::Short(0x02), 5);
  h.Exchange(Host::Short(0x01), 5);
  EXPECT_EQ(h.JtagId(param), 0u) << "resets in the wrong order";
  Resets(h);
  EXPECT_EQ(h.JtagId(param), 0x00AECADDu);
  EXPECT_EQ(h.JtagId({1, 0, 1, 1}), 0xFFFFFFFFu) << "another product's parameter bytes";
}

TEST(Identify, EachProductReportsItsIdOneBitPerByte) {
  struct Case {
    const char* target;
    uint32_t id;
    std::array<uint8_t, 4> param;
  };
  const Case cases[] = {{"TARVIS", 0x0022F3A1, {0, 1, 0, 1}},
                        {"KELDA", 0x00AECADD, {0, 1, 0, 1}},
                        {"VTN3300", 0x100015B9, {1, 0, 1, 1}},
                        {"OKO", 0x100015B9, {1, 0, 1, 1}},
                        {"SOLANT", 0x1AEC0ADD, {0, 1, 0, 1}}};
  ScratchDir dir;
  for (const Case& c : cases) {
    auto bench = MustLoad(std::string("[[probe]]\ntarget = \"") + c.target + "\"\n", dir.path());
    Host h(bench->Probe(0));
    Resets(h);
    auto a = h.Exchange(Host::Short(0x11, c.param), 32);
    ASSERT_TRUE(a);
    ASSERT_EQ(a->size(), 32u) << c.target;
    for (int k = 0; k < 32; ++k)
      EXPECT_EQ((*a)[static_cast<size_t>(k)], (c.id >> k) & 1u) << c.target << " bit " << k;
  }
}

}  // namespace
}  // namespace probesim::test
