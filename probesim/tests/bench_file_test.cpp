// SPDX-License-Identifier: MIT
// Bench files: every mistake is refused with one message naming file, line and key; the example
// benches all load.
#include "bench_file.h"

#include <filesystem>

#include "host.h"

namespace probesim::test {
namespace {

struct Mistake {
  const char* name;
  const char* toml;
  const char* message;  // expected start of the error (after "test.toml:")
};

const Mistake kMistakes[] = {
    {"Syntax", "[[probe]]\ntarget = \"KELDA\nflash = 1\n", "2: (syntax): "},
    {"UnknownTopLevelKey", "probes = 1\n", "1: probes: unknown key"},
    {"UnknownProbeKey", "[[probe]]\ntarget = \"KELDA\"\nfirmwre = \" 2.12\"\n",
     "3: probe[0].firmwre: unknown key"},
    {"UnknownBenchKey", "[bench]\nspeed = 2\n[[probe]]\ntarget = \"KELDA\"\n", "2: bench.speed: unknown key"},
    {"UnknownFaultKey", "[[probe]]\ntarget = \"KELDA\"\n[probe.faults]\nunplug = 3\n",
     "4: probe[0].faults.unplug: unknown key"},
    {"MissingTarget", "[[probe]]\nflash = \"K9F1208\"\n", "1: probe[0].target: missing"},
    {"UnknownTarget", "[[probe]]\ntarget = \"KELDO\"\n", "2: probe[0].target: \"KELDO\" is not"},
    {"UnknownFlash", "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV080\"\n",
     "3: probe[0].flash: unknown flash part \"EN29LV080\""},
    {"WrongType", "[[probe]]\ntarget = \"KELDA\"\ninterleave = \"two\"\nflash = \"EN29LV040A\"\n",
     "3: probe[0].interleave: an integer is needed"},
    {"OutOfRange", "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\ninterleave = 3\n",
     "4: probe[0].interleave: 3 is outside 1 to 2"},
    {"FirmwareTooLong", "[[probe]]\ntarget = \"KELDA\"\nfirmware = \" 2.120\"\n",
     "3: probe[0].firmware: at most 5"},
    {"BadTiming", "[bench]\ntiming = \"fast\"\n[[probe]]\ntarget = \"KELDA\"\n",
     "2: bench.timing: \"fast\" is not"},
    {"BadBus", "[[probe]]\ntarget = \"KELDA\"\nbus = \"super\"\n", "3: probe[0].bus: \"super\" is not"},
    {"BadUsb", "[[probe]]\ntarget = \"KELDA\"\nusb = \"winusb\"\n", "3: probe[0].usb: "},
    {"CustomWithoutId", "[[probe]]\ntarget = \"custom\"\n", "2: probe[0].jtag_id: a custom target needs"},
    {"FlashOnCustomTarget", "[[probe]]\ntarget = \"custom\"\njtag_id = 1\nflash = \"K9F1208\"\n",
     "4: probe[0].flash: a custom target has no NAND"},
    {"NandOnSolant", "[[probe]]\ntarget = \"SOLANT\"\nflash = \"K9F1208\"\n",
     "3: probe[0].flash: a SOLANT target has no NAND"},
    {"OtherNorOnTarvis", "[[probe]]\ntarget = \"TARVIS\"\nflash = \"AM29LV040B\"\n",
     "3: probe[0].flash: a TARVIS board carries"},
    {"WidthThePartLacks", "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nwidth = 16\n",
     "4: probe[0].width: EN29LV040A has no 16-bit mode"},
    {"BusTooWideForOko", "[[probe]]\ntarget = \"OKO\"\nflash = \"S29AL008D\"\ninterleave = 2\n",
     "4: probe[0].interleave: a OKO board has no 32-bit NOR bus"},
    {"NorKeyOnNand", "[[probe]]\ntarget = \"KELDA\"\nflash = \"K9F1208\"\ninterleave = 1\n",
     "4: probe[0].interleave: only for a NOR flash"},
    {"KeldaChipSelect7", "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nchip_select = 7\n",
     "4: probe[0].chip_select: KELDA has no chip-select cell"},
    {"BottomBootOnUniformPart", "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nboot = \"bottom\"\n",
     "4: probe[0].boot: EN29LV040A has no bottom-boot"},
    {"FlashFileWithoutFlash", "[[probe]]\ntarget = \"KELDA\"\nflash_file = \"x.bin\"\n",
     "3: probe[0].flash_file: the board has no flash"},
    {"SameFlashFileTwice",
     "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nflash_file = \"a.bin\"\n"
     "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nflash_file = \"a.bin\"\n",
     "8: probe[1].flash_file: "},
    {"DebugSwitchOnKelda", "[[probe]]\ntarget = \"KELDA\"\n[probe.faults]\ndebug_switch = true\n",
     "4: probe[0].faults.debug_switch: only a SOLANT target"},
    {"ConfigRegisterOnOko",
     "[[probe]]\ntarget = \"OKO\"\n[probe.faults]\nconfig_register_ignores_writes = true\n",
     "4: probe[0].faults.config_register_ignores_writes: only TARVIS and SOLANT"},
    {"BadBlocksOnNor",
     "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n[probe.faults]\nbad_blocks = [1]\n",
     "5: probe[0].faults.bad_blocks: needs a NAND flash"},
    {"ProgramFailBeyondFlash",
     "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n[probe.faults]\nprogram_fail = [0x80000]\n",
     "5: probe[0].faults.program_fail: 524288 lies beyond the flash"},
    {"HoldAtTransferZero", "[[probe]]\ntarget = \"KELDA\"\n[probe.faults]\nhold_at_transfer = 0\n",
     "4: probe[0].faults.hold_at_transfer: 0 is outside 1 to "},
    {"BadAnswerKey", "[[probe]]\ntarget = \"KELDA\"\n[probe.faults]\nno_answer = [\"erase\"]\n",
     "4: probe[0].faults.no_answer: \"erase\" is not a command code"},
    {"StuckBitWithoutMask",
     "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n[probe.faults]\nstuck_bits = [{ address = 1 "
     "}]\n",
     "5: probe[0].faults.stuck_bits: address and mask are needed"},
};

void PrintTo(const Mistake& c, std::ostream* os) {
  *os << c.name;
}

class BenchFileMistake : public ::testing::TestWithParam<Mistake> {};

TEST_P(BenchFileMistake, IsRefusedWithFileLineAndKey) {
  const Mistake& m = GetParam();
  ScratchDir dir;
  auto result = LoadBenchFromString(m.toml, "test.toml", dir.path());
  EXPECT_FALSE(result.bench);
  EXPECT_EQ(result.error.rfind(std::string("test.toml:") + m.message, 0), 0u) << result.error;
}

INSTANTIATE_TEST_SUITE_P(Mistakes, BenchFileMistake, ::testing::ValuesIn(kMistakes),
                         [](const auto& info) { return std::string(info.param.name); });

TEST(BenchFile, ExistingFlashFileOfAnotherSizeIsRefused) {
  ScratchDir dir;
  { std::ofstream(dir.path() + "/old.bin") << "too short"; }
  auto result =
      LoadBenchFromString("[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nflash_file = \"old.bin\"\n",
                          "test.toml", dir.path());
  EXPECT_FALSE(result.bench);
  EXPECT_NE(result.error.find("test.toml:4: probe[0].flash_file: "), std::string::npos) << result.error;
  EXPECT_NE(result.error.find("holds 9 bytes"), std::string::npos) << result.error;
}

TEST(BenchFile, ABenchWithoutProbesHasNoneAttached) {
  ScratchDir dir;
  for (const char* toml : {"", "[bench]\ntiming = \"realistic\"\n"}) {
    auto result = LoadBenchFromString(toml, "test.toml", dir.path());
    ASSERT_TRUE(result.bench) << result.error;
    EXPECT_EQ(result.bench->ProbeCount(), 0u);
  }
}

// Transfers in flight share the bus at its packet rate: full speed unless the latency is that of
// high speed, or as `bus` says (per probe over the [bench] default).
TEST(BenchFile, BusSpeedFollowsTheLatencyUnlessGiven) {
  ScratchDir dir;
  const BenchConfig config = ParseBenchFile(
      "[bench]\nusb_latency_us = 125\n[[probe]]\ntarget = \"KELDA\"\n[[probe]]\ntarget = \"KELDA\"\n"
      "usb_latency_us = 1000\n[[probe]]\ntarget = \"KELDA\"\nbus = \"full\"\n[[probe]]\ntarget = \"KELDA\"\n"
      "usb_latency_us = 1000\nbus = \"high\"\n",
      "bus.toml", dir.path());
  ASSERT_EQ(config.probes.size(), 4u);
  const double full = 1000.0 / 19, high = 125.0 / 13;
  EXPECT_DOUBLE_EQ(config.probes[0].timing.PacketUs(), high);
  EXPECT_DOUBLE_EQ(config.probes[1].timing.PacketUs(), full);
  EXPECT_DOUBLE_EQ(config.probes[2].timing.PacketUs(), full);
  EXPECT_DOUBLE_EQ(config.probes[3].timing.PacketUs(), high);
}

TEST(BenchFile, MissingFileIsReported) {
  auto result = LoadBench("/nonexistent/bench.toml");
  EXPECT_FALSE(result.bench);
  EXPECT_EQ(result.error.rfind("/nonexistent/bench.toml:0: (file): cannot read", 0), 0u) << result.error;
}

TEST(BenchFile, DefaultsAndFlashFilePlaces) {
  ScratchDir dir;
  ::setenv("PROBESIM_STATE_DIR", dir.path().c_str(), 1);
  const std::string path = dir.path() + "/line.toml";
  {
    std::ofstream(path) << "[[probe]]\ntarget = \"KELDA\"\nflash = \"K9F5608\"\n[[probe]]\ntarget = "
                           "\"OKO\"\nflash = \"EN29LV010A\"\nflash_file = \"/tmp/../" +
                               dir.path().substr(1) + "/abs.bin\"\n";
  }
  auto result = LoadBench(path);
  ::unsetenv("PROBESIM_STATE_DIR");
  ASSERT_TRUE(result.bench) << result.error;
  EXPECT_EQ(FlashFilePath(*result.bench, 0), dir.path() + "/line-0.bin");
  EXPECT_EQ(FlashFilePath(*result.bench, 1), dir.path() + "/abs.bin");
  EXPECT_EQ(FlashSize(*result.bench, 0), 32u << 20);
  EXPECT_FALSE(std::filesystem::exists(dir.path() + "/line-0.bin")) << "made only at first use";
}

TEST(BenchFile, EveryExampleBenchLoads) {
  ScratchDir dir;
  int count = 0;
  for (const auto& entry : std::filesystem::directory_iterator(PROBESIM_EXAMPLES_DIR)) {
    if (entry.path().extension() != ".toml") continue;
    ::setenv("PROBESIM_STATE_DIR", dir.path().c_str(), 1);
    auto result = LoadBench(entry.path().string());
    ::unsetenv("PROBESIM_STATE_DIR");
    EXPECT_TRUE(result.bench) << result.error;
    ++count;
  }
  EXPECT_GE(count, 2);
}

}  // namespace
}  // namespace probesim::test
