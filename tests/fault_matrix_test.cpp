// SPDX-License-Identifier: MIT
// The fault matrix, end to end: the real zolt-flash and libVorlink.so on virtual benches where one
// board misbehaves in one phase of the run. Whatever the fault, the run must end (the hang guard
// is far beyond the probe's longest time-out), show the operator the texts a production line knows,
// count exactly the faulty job as failed, leave every good board holding its image, and never end a
// run with a failed board in "Download Complete !" or exit status 0.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>
#include <set>
#include <string>
#include <utility>
#include <vector>

#include "testing/flash_child.h"
#include "testing/scratch_dir.h"

namespace zolt::reliability {
namespace {

using ::zolt::testing::FlashChild;
using ::zolt::testing::ProcessResult;
using ::zolt::testing::ReadFileBytes;
using ::zolt::testing::RunFlash;
using ::zolt::testing::ScratchDir;

// A 5000-byte image: three 2048-byte blocks, the last one short. Byte i is (i * 31 + 7) & 0xFF,
// so no byte is 0xFF at the stuck-bit address 0x200 and the image never matches erased flash.
std::string Image() {
  std::string bytes(5000, '\0');
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<char>((i * 31 + 7) & 0xFF);
  return bytes;
}

// Boards of the matrix. Each case runs on one kind of board; the faults are added to it.
enum class Board { kKeldaNor, kKeldaNand, kTarvisNor, kSolantNor };

std::string BoardToml(Board board) {
  switch (board) {
    case Board::kKeldaNor:
      return "target = \"KELDA\"\nflash = \"EN29LV040A\"\n";
    case Board::kKeldaNand:
      return "target = \"KELDA\"\nflash = \"K9F1G08\"\n";
    case Board::kTarvisNor:
      return "target = \"TARVIS\"\nflash = \"EN29LV040A\"\n";
    case Board::kSolantNor:
      return "target = \"SOLANT\"\nflash = \"S29AL008D\"\n";
  }
  return "";
}

std::vector<std::string> BoardArgs(Board board) {
  switch (board) {
    case Board::kKeldaNor:
      return {"--product", "KELDA", "--nor", "--nor-type", "EN29LV040A"};
    case Board::kKeldaNand:
      return {"--product", "KELDA", "--nand"};
    case Board::kTarvisNor:
      return {"--product", "TARVIS", "--nor"};
    case Board::kSolantNor:
      return {"--product", "SOLANT", "--nor", "--nor-type", "S29AL008D"};
  }
  return {};
}

std::string ProbeToml(int index, Board board, const std::string& faults, const std::string& probeKeys = "") {
  std::string toml = "\n[[probe]]\nname = \"board-" + std::to_string(index) + "\"\n" + BoardToml(board) +
                     "flash_file = \"board-" + std::to_string(index) + ".bin\"\n" + probeKeys;
  if (!faults.empty()) toml += "[probe.faults]\n" + faults + "\n";
  return toml;
}

// How a run ends for the operator.
enum class End {
  kNotStarted,  // identification found no board: the run never began
  kJobFailed,   // the board's job counted as failed
  kComplete,    // the fault did not keep the board from being programmed
};

struct FaultCase {
  FaultCase(const char* name, const char* phase, Board board, std::string faults,
            std::vector<std::string> moreArgs, End end, std::vector<std::string> messages,
            std::vector<std::string> logTexts, bool realistic = false, std::string probeKeys = "")
      : name(name),
        phase(phase),
        board(board),
        faults(std::move(faults)),
        moreArgs(std::move(moreArgs)),
        end(end),
        messages(std::move(messages)),
        logTexts(std::move(logTexts)),
        realistic(realistic),
        probeKeys(std::move(probeKeys)) {}

  const char* name;
  const char* phase;  // where the fault strikes, as in docs/reliability.md
  Board board;
  std::string faults;                 // [probe.faults] lines
  std::vector<std::string> moreArgs;  // zolt-flash options beyond the board's and the image
  End end;
  std::vector<std::string> messages;  // message boxes, in order (stderr "message: " lines)
  std::vector<std::string> logTexts;  // texts the log (stdout) must hold
  bool realistic;                     // realistic timing at 1/100 scale: the time-outs are waited
  std::string probeKeys;              // [[probe]] keys beyond the board's
};

std::ostream& operator<<(std::ostream& out, const FaultCase& c) {
  return out << c.name;
}

const char* const kNotFound = "Cannot Found Valid Device or JTAG ID";
const char* const kBlockResponse = "  ERROR, File Downloading Response!\r\n";

std::vector<FaultCase> SingleBoardCases() {
  const Board nor = Board::kKeldaNor;
  const Board nand = Board::kKeldaNand;
  return {
      // Identification: the board never takes part, so the run does not start.
      {"UnplugDuringIdentification",
       "identification",
       nor,
       "unplug_after_transfers = 1",
       {},
       End::kNotStarted,
       {kNotFound},
       {}},
      {"NoAnswerToFirmwareVersion",
       "identification",
       nor,
       "no_answer = [0x98]",
       {},
       End::kNotStarted,
       {kNotFound},
       {}},
      {"GarbledFirmwareVersion",
       "identification",
       nor,
       "garbled_answer = [0x98]",
       {},
       End::kNotStarted,
       {kNotFound},
       {}},
      {"WrongFirmwarePrefix",
       "identification",
       nor,
       "firmware_prefix = \"ACME USB JTAG\"",
       {},
       End::kNotStarted,
       {kNotFound},
       {}},
      {"NoAnswerToJtagReset",
       "identification",
       nor,
       "no_answer = [0x01]",
       {},
       End::kNotStarted,
       {"Cannot Read 'JTAG Reset' Response", kNotFound},
       {}},
      {"LateJtagId",
       "identification",
       nor,
       "late_answer = [0x11]",
       {},
       End::kNotStarted,
       {"Cannot Read 'JTAG ID' Response", kNotFound},
       {}},
      {"GarbledJtagId",
       "identification",
       nor,
       "garbled_answer = [0x11]",
       {},
       End::kNotStarted,
       {kNotFound},
       {}},

      // Opening and checking the probe in the job.
      {"UnplugBetweenIdentificationAndJob",
       "firmware check",
       nor,
       "unplug_after_transfers = 8",
       {},
       End::kJobFailed,
       {"Cannot Write 'GET Firmware Version' Command"},
       {}},
      {"FirmwareTooOld",
       "firmware check",
       nor,
       "",
       {},
       End::kJobFailed,
       {"DEVICE #0: Sorry, upgrate firmware of USB JTAG"},
       {},
       false,
       "firmware = \" 2.11\"\n"},
      {"WrongBootloaderPrefix",
       "firmware check",
       nor,
       "bootloader_prefix = \"ACME USB_ISP Bootloader Ver\"",
       {},
       End::kComplete,
       {"Download Complete !"},
       {}},

      // Target set-up.
      {"NoAnswerToExtest",
       "set-up",
       nor,
       "no_answer = [0x04]",
       {},
       End::kJobFailed,
       {},
       {"DEVICE #0: Cannot SET EXTEST\r\n"}},
      {"LateBoundaryData",
       "set-up",
       nor,
       "late_answer = [0x12]",
       {},
       End::kJobFailed,
       {},
       {"Cannot INIT BOUNDARY Data\r\n"}},
      {"GarbledConfigBoundary",
       "set-up",
       nor,
       "garbled_answer = [0x13]",
       {},
       End::kJobFailed,
       {},
       {" Cannot SET CONFIG BOUNDARY\r\n"}},
      {"UnplugDuringSetUp",
       "set-up",
       nor,
       "unplug_after_transfers = 14",
       {},
       End::kJobFailed,
       {},
       {"Cannot INIT BOUNDARY Data\r\n"}},
      {"NoAnswerToFlashInfo",
       "set-up",
       nor,
       "no_answer = [0x15]",
       {},
       End::kJobFailed,
       {"Cannot Read 'SET FLASH INFO' Response"},
       {}},
      {"TarvisNoAnswerToJtagType",
       "set-up",
       Board::kTarvisNor,
       "no_answer = [0x03]",
       {},
       End::kJobFailed,
       {},
       {" Cannot SET JTAG TYPE\r\n"}},
      {"TarvisConfigRegisterIgnoresWrites",
       "set-up",
       Board::kTarvisNor,
       "config_register_ignores_writes = true",
       {},
       End::kJobFailed,
       {"Cannot Write flash cfg reg [0x1110]"},
       {" Cannot CONFIG DEBUG MODE\r\n"}},
      {"SolantConfigRegisterIgnoresWrites",
       "set-up",
       Board::kSolantNor,
       "config_register_ignores_writes = true",
       {},
       End::kJobFailed,
       {"Cannot Write flash config register to SOLANT"},
       {" Cannot CONFIG DEBUG MODE\r\n"}},
      {"SolantDebugSwitch",
       "set-up",
       Board::kSolantNor,
       "debug_switch = true",
       {},
       End::kJobFailed,
       {"Cannot go into debugging mode. \nPlease turn off the debug switch."},
       {" Cannot CONFIG DEBUG MODE\r\n"}},

      // Flash ID and flash description.
      {"NoAnswerToFlashId",
       "flash ID",
       nor,
       "no_answer = [0x14]",
       {},
       End::kJobFailed,
       {"Cannot Read 'Read Flash ID' Response"},
       {}},
      {"LateFlashId",
       "flash ID",
       nor,
       "late_answer = [0x14]",
       {},
       End::kJobFailed,
       {"Cannot Read 'Read Flash ID' Response"},
       {}},
      {"GarbledFlashId",
       "flash ID",
       nor,
       "garbled_answer = [0x14]",
       {},
       End::kJobFailed,
       {"Cannot find flash"},
       {}},
      {"NandGarbledFlashId",
       "flash ID",
       nand,
       "garbled_answer = [0x14]",
       {},
       End::kJobFailed,
       {},
       {"  Unknown NAND Flash ID !\r\n"}},
      {"NoAnswerToFlashCfi",
       "flash ID",
       nor,
       "no_answer = [0x16]",
       {},
       End::kJobFailed,
       {"Cannot Read 'SET FLASH CFI' Response"},
       {}},

      // The erase response to DownloadDataInfo.
      {"NoEraseResponse",
       "erase response",
       nor,
       "no_answer = [0x18]",
       {},
       End::kJobFailed,
       {},
       {"Cannot Read 'Flash Erase' Response\r\n"}},
      {"LateEraseResponse",
       "erase response",
       nor,
       "late_answer = [0x18]",
       {},
       End::kJobFailed,
       {},
       {"Cannot Read 'Flash Erase' Response\r\n"},
       true},
      {"GarbledEraseResponse",
       "erase response",
       nor,
       "garbled_answer = [0x18]",
       {},
       End::kJobFailed,
       {"Unknow Download Response"},
       {}},
      {"EraseError52",
       "erase response",
       nor,
       "bad_sectors = [0x0]",
       {},
       End::kJobFailed,
       {"ERASE ERROR"},
       {"\r\n  DEVICE #0: ERASE ERROR, ADDR: 0x00000000\r\n"}},
      {"NotAligned53",
       "erase response",
       nor,
       "",
       {"--offset", "1000"},
       End::kJobFailed,
       {"ERASE ERROR"},
       {"\r\n  DEVICE #0: ERROR, Not aligned Sector boundary\r\n"}},
      {"Overflow54",
       "erase response",
       nor,
       "",
       {"--block1", "8"},
       End::kJobFailed,
       {"ERASE ERROR"},
       {"\r\n  DEVICE #0: Overflow of flash size\r\n"}},
      {"NandEraseError57",
       "erase response",
       nand,
       "bad_blocks = [0]",
       {},
       End::kJobFailed,
       {"ERASE ERROR"},
       {"\r\n  DEVICE #0: ERASE ERROR, ADDR: 0x00000000\r\n"}},

      // Streaming the data.
      {"UnplugWhileStreaming",
       "streaming",
       nor,
       "unplug_after_bytes = 3000",
       {},
       End::kJobFailed,
       {},
       {kBlockResponse}},
      {"WriteError55",
       "streaming",
       nor,
       "program_fail = [0x100]",
       {},
       End::kJobFailed,
       {"WRITE ERROR"},
       {"\r\n  DEVICE #0: WRITE ERROR, ADDR: 0x00000100\r\n"}},
      {"VerifyError56",
       "streaming",
       nor,
       "stuck_bits = [{ address = 0x200, mask = 0xFF, value = 1 }]",
       {},
       End::kJobFailed,
       {"VERIFY ERROR"},
       {"\r\n  DEVICE #0: VERIFY ERROR, ADDR: 0x00000200\r\n"}},
      {"NandWriteError58",
       "streaming",
       nand,
       "program_fail = [0x900]",
       {},
       End::kJobFailed,
       {"WRITE ERROR"},
       {"\r\n  DEVICE #0: WRITE ERROR, ADDR: 0x00000900\r\n"}},
      {"ReadError59",
       "streaming",
       nor,
       "read_fault = [0x300]",
       {},
       End::kJobFailed,
       {"READ ERROR"},
       {"\r\n  DEVICE #0: READ ADDR: 0x00000300\r\n"}},

      // The block responses.
      {"NoBlockResponse",
       "block response",
       nor,
       "no_answer = [\"block\"]",
       {},
       End::kJobFailed,
       {},
       {kBlockResponse}},
      {"NoBlockResponseRealistic",
       "block response",
       nor,
       "no_answer = [\"block\"]",
       {},
       End::kJobFailed,
       {},
       {kBlockResponse},
       true},
      {"LateBlockResponse",
       "block response",
       nor,
       "late_answer = [\"block\"]",
       {},
       End::kJobFailed,
       {},
       {kBlockResponse}},
      {"GarbledBlockResponse",
       "block response",
       nor,
       "garbled_answer = [\"block\"]",
       {},
       End::kJobFailed,
       {"Unknow Download Response"},
       {}},
  };
}

class FaultMatrix : public ::testing::TestWithParam<FaultCase> {
 protected:
  FlashChild::Env BenchEnv(const std::string& toml) {
    std::filesystem::create_directories(dir / "state");
    return {{"VORLINK_BENCH", dir.Write("bench.toml", toml)}, {"PROBESIM_STATE_DIR", dir / "state"}};
  }
  std::string FlashFile(int board) {
    return ReadFileBytes(dir / ("state/board-" + std::to_string(board) + ".bin"));
  }
  // The board's flash holds the image at flash offset 0 (block 0, NOR offset 0).
  void ExpectProgrammed(int board, const std::string& image) {
    const std::string flash = FlashFile(board);
    ASSERT_GE(flash.size(), image.size()) << "board " << board << " has no flash file";
    EXPECT_TRUE(flash.compare(0, image.size(), image) == 0)
        << "board " << board << " does not hold its image";
  }
  // A run with a failed board never reports completion, and the summary names exactly the failed jobs.
  void ExpectFailedJobs(const ProcessResult& r, const nlohmann::json& summary, const std::set<int>& failed) {
    EXPECT_EQ(r.exitCode, 1) << r.err;
    EXPECT_EQ(r.err.find("Download Complete !"), std::string::npos) << r.err;
    EXPECT_EQ(r.out.find("Download stop is OK"), std::string::npos);
    EXPECT_EQ(summary["result"], "failed");
    for (const auto& device : summary["devices"]) {
      const int index = device["index"];
      EXPECT_EQ(device["result"], failed.count(index) ? "failed" : "ok") << "device " << index << "\n"
                                                                         << r.out;
    }
  }

  ScratchDir dir;
};

TEST_P(FaultMatrix, OneBoard) {
  const FaultCase& c = GetParam();
  const std::string image = Image();
  std::string toml;
  if (c.realistic) toml += "[bench]\ntiming = \"realistic\"\ntime_scale = 0.01\n";
  toml += ProbeToml(0, c.board, c.faults, c.probeKeys);

  std::vector<std::string> args = BoardArgs(c.board);
  args.insert(args.end(), {"--image1", dir.Write("image.bin", image), "--json", dir / "run.json"});
  args.insert(args.end(), c.moreArgs.begin(), c.moreArgs.end());
  // The hang guard: far above the longest wait a fault may cost (10 s erase, 14 s block response).
  ProcessResult r = RunFlash(args, BenchEnv(toml), dir.path(), std::chrono::seconds(90));

  // zolt-flash names the virtual bench first, then the boxes as they were shown.
  std::string expectedErr = "zolt-flash: virtual bench " + dir / "bench.toml" + ": no real probe is used\n";
  for (const std::string& m : c.messages) expectedErr += "message: " + m + "\n";
  EXPECT_EQ(r.err, expectedErr);
  for (const std::string& text : c.logTexts)
    EXPECT_NE(r.out.find(text), std::string::npos) << text << "\n" << r.out;

  const nlohmann::json summary = nlohmann::json::parse(ReadFileBytes(dir / "run.json"), nullptr, false);
  ASSERT_FALSE(summary.is_discarded()) << "no summary";
  switch (c.end) {
    case End::kNotStarted:
      EXPECT_EQ(r.exitCode, 1);
      EXPECT_TRUE(summary["devices"].empty());
      EXPECT_EQ(r.out.find("JTAG ID:"), std::string::npos) << r.out;
      break;
    case End::kJobFailed:
      ExpectFailedJobs(r, summary, {0});
      ASSERT_EQ(summary["devices"].size(), 1u);
      EXPECT_NE(summary["devices"][0]["failureText"], "");
      break;
    case End::kComplete:
      EXPECT_EQ(r.exitCode, 0) << r.out;
      ExpectProgrammed(0, image);
      break;
  }
}

INSTANTIATE_TEST_SUITE_P(Faults, FaultMatrix, ::testing::ValuesIn(SingleBoardCases()),
                         [](const auto& info) { return std::string(info.param.name); });

// Sixteen boards in one run, each fault phase struck on a different one; the others are good.
// Realistic timing at 1/100 scale, so the faulty boards wait out their time-outs while the good
// ones stream beside them.
TEST_F(FaultMatrix, SixteenBoardsWhereSomeFail) {
  struct Slot {
    std::string faults;
    const char* text;  // in the log or a message box; "" for a good board
  };
  const std::vector<Slot> slots = {
      {"", ""},
      {"unplug_after_transfers = 8", "message: Cannot Write 'GET Firmware Version' Command"},
      {"", ""},
      {"no_answer = [0x13]", " Cannot SET CONFIG BOUNDARY"},
      {"", ""},
      {"no_answer = [0x14]", "message: Cannot Read 'Read Flash ID' Response"},
      {"", ""},
      {"bad_sectors = [0x0]", "DEVICE #7: ERASE ERROR, ADDR: 0x00000000"},
      {"no_answer = [0x18]", "Cannot Read 'Flash Erase' Response"},
      {"", ""},
      {"program_fail = [0x1000]", "DEVICE #10: WRITE ERROR, ADDR: 0x00001000"},
      {"unplug_after_bytes = 3000", kBlockResponse},
      {"", ""},
      {"no_answer = [\"block\"]", kBlockResponse},
      {"garbled_answer = [\"block\"]", "message: Unknow Download Response"},
      {"", ""},
  };
  std::string toml = "[bench]\ntiming = \"realistic\"\ntime_scale = 0.01\n";
  std::set<int> failed;
  for (int i = 0; i < 16; ++i) {
    toml += ProbeToml(i, Board::kKeldaNor, slots[i].faults);
    if (!slots[i].faults.empty()) failed.insert(i);
  }
  const std::string image = Image();
  std::vector<std::string> args = BoardArgs(Board::kKeldaNor);
  args.insert(args.end(), {"--image1", dir.Write("image.bin", image), "--json", dir / "run.json"});
  ProcessResult r = RunFlash(args, BenchEnv(toml), dir.path(), std::chrono::seconds(120));

  const nlohmann::json summary = nlohmann::json::parse(ReadFileBytes(dir / "run.json"), nullptr, false);
  ASSERT_FALSE(summary.is_discarded()) << "no summary";
  ASSERT_EQ(summary["devices"].size(), 16u) << r.out;
  ExpectFailedJobs(r, summary, failed);
  for (int i = 0; i < 16; ++i) {
    SCOPED_TRACE(i);
    if (failed.count(i)) {
      const std::string text = slots[i].text;
      EXPECT_NE((r.out + r.err).find(text), std::string::npos) << text;
    } else {
      ExpectProgrammed(i, image);
    }
  }
}

}  // namespace
}  // namespace zolt::reliability
