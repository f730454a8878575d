// SPDX-License-Identifier: MIT
// The pin patterns the pin toggle loads, against the documented cell lists, what the pattern
// commands refuse, and the busy-wait between two patterns.
#include "cell_lists.h"
#include "probe_fixture.h"

namespace zolt::testing {
namespace {

struct PatternCase {
  const char* name;
  int product;
  int cells;
  const char* high;
  const char* low;
};
const PatternCase kPatterns[] = {
    {"Kelda", kKelda, 298, "all 1 except 297",
     "all 0 except 3-9/2, 12-58/2, 61, 65-81/2, 82, 83, 85-149/2, 150, 151, 153-169/2, 170-174/2, 177-186, "
     "188-222/2, 241-255/2, 261, 266-296/2"},
    {"Vtn3300", kVtn3300, 298,
     "all 1 except 9-77/2, 80, 97-125/2, 130-136/2, 143, 160-226/2, 238-244/2, 256, 267-297/2",
     "all 0 except 46, 48, 72-76/2, 116-126/2, 127, 128"},
    {"Oko", kOko, 185, "all 1 except 18-42/2, 52-184/2", "all 0 except 39, 41, 46, 50, 51, 53-59/2"},
};

std::vector<uint8_t> Command(uint8_t code, const std::vector<uint8_t>& pattern) {
  std::vector<uint8_t> bytes;
  bytes.reserve(3 + pattern.size());
  bytes.push_back(code);
  bytes.push_back(uint8_t(pattern.size()));
  bytes.push_back(uint8_t(pattern.size() >> 8));
  bytes.insert(bytes.end(), pattern.begin(), pattern.end());
  return bytes;
}

// Failure messages name the case.
void PrintTo(const PatternCase& c, std::ostream* os) {
  *os << c.name;
}

class Patterns : public ProbeFixture, public ::testing::WithParamInterface<PatternCase> {};

TEST_P(Patterns, HighAndLowPatternsMatchTheDocumentedCellLists) {
  const PatternCase& c = GetParam();
  link.QueueReadBytes(kDevice, Answer(0x51));
  link.QueueReadBytes(kDevice, Answer(0x51));
  EXPECT_TRUE(probe.SetHighBoundary(kDevice, c.product, c.cells).ok());
  EXPECT_TRUE(probe.SetLowBoundary(kDevice, c.product, c.cells).ok());
  const auto writes = link.Writes(kDevice);
  ASSERT_EQ(writes.size(), 2u);
  EXPECT_EQ(Hex(writes[0]), Hex(Command(0x20, ParseCellList(c.cells, c.high))));
  EXPECT_EQ(Hex(writes[1]), Hex(Command(0x21, ParseCellList(c.cells, c.low))));
}

TEST_P(Patterns, AShorterLengthSendsTheFirstCellsAndALongerOneNothing) {
  const PatternCase& c = GetParam();
  link.QueueReadBytes(kDevice, Answer(0x51));
  EXPECT_TRUE(probe.SetLowBoundary(kDevice, c.product, 60).ok());
  auto low = ParseCellList(c.cells, c.low);
  low.resize(60);
  EXPECT_EQ(Hex(link.Writes(kDevice).at(0)), Hex(Command(0x21, low)));

  link.ClearCalls();
  EXPECT_FALSE(probe.SetHighBoundary(kDevice, c.product, c.cells + 1).ok());
  EXPECT_FALSE(probe.SetLowBoundary(kDevice, c.product, c.cells + 1).ok());
  EXPECT_FALSE(probe.SetHighBoundary(kDevice, c.product, -1).ok());
  EXPECT_TRUE(link.Calls().empty());
  EXPECT_TRUE(op.Messages().empty());
}

INSTANTIATE_TEST_SUITE_P(Products, Patterns, ::testing::ValuesIn(kPatterns),
                         [](const auto& info) { return std::string(info.param.name); });

TEST_F(ProbeFixture, PatternsOfProductsWithoutPinToggleAreRefusedUnsent) {
  for (int product : {int{kTarvis}, int{kSolant}, 5, -1}) {
    EXPECT_FALSE(probe.SetHighBoundary(kDevice, product, 10).ok());
    EXPECT_FALSE(probe.SetLowBoundary(kDevice, product, 10).ok());
  }
  EXPECT_TRUE(link.Calls().empty());
  EXPECT_TRUE(op.Messages().empty());
}

TEST_F(ProbeFixture, BoundaryImagesLongerThanTheProbeTakesAreRefusedUnsent) {
  std::vector<uint8_t> image(646, 1);
  EXPECT_FALSE(probe.InitBoundaryData(kDevice, image.data(), 646).ok());
  EXPECT_FALSE(probe.InitBoundaryData(kDevice, image.data(), -1).ok());
  EXPECT_TRUE(link.Calls().empty());
  link.QueueReadBytes(kDevice, Answer(0x51));
  EXPECT_TRUE(probe.InitBoundaryData(kDevice, image.data(), 645).ok());
  EXPECT_EQ(link.Writes(kDevice).at(0).size(), 648u);
}

}  // namespace
}  // namespace zolt::testing
