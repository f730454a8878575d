// SPDX-License-Identifier: MIT
// Bad inputs a production line meets: image files that are missing, unreadable, not regular
// files, too large or changing under the download; odd NOR offset and block texts; wrong bench
// files. Each must give the operator a clear text, count the board as not programmed, and never
// crash or hang.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "probesim/bench.h"
#include "testing/flash_child.h"
#include "testing/pattern_bytes.h"
#include "testing/scratch_dir.h"

namespace zolt::reliability {
namespace {

using ::zolt::testing::FlashChild;
using ::zolt::testing::PatternBytes;
using ::zolt::testing::ProcessResult;
using ::zolt::testing::ReadFileBytes;
using ::zolt::testing::RunFlash;
using ::zolt::testing::ScratchDir;
using ::zolt::testing::WaitForFileText;

const std::vector<std::string> kKeldaNor = {"--product", "KELDA", "--nor", "--nor-type", "EN29LV040A"};

std::string KeldaBoard(const std::string& extra = "") {
  return "\n[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nflash_file = \"board.bin\"\n" + extra;
}

class BadInput : public ::testing::Test {
 protected:
  FlashChild::Env BenchEnv(const std::string& toml) {
    std::filesystem::create_directories(dir / "state");
    return {{"VORLINK_BENCH", dir.Write("bench.toml", toml)},
            {"PROBESIM_STATE_DIR", dir / "state"},
            {"PROBESIM_LOG", dir / "probe.log"},
            {"VORLINK_TRACE", dir / "vorlink.trace"}};
  }
  std::vector<std::string> Args(std::vector<std::string> more) {
    std::vector<std::string> args = kKeldaNor;
    args.insert(args.end(), more.begin(), more.end());
    args.insert(args.end(), {"--json", dir / "run.json"});
    return args;
  }
  ProcessResult Run(const std::vector<std::string>& args, const FlashChild::Env& env) {
    return RunFlash(args, env, dir.path(), std::chrono::seconds(90));
  }
  nlohmann::json Summary() { return nlohmann::json::parse(ReadFileBytes(dir / "run.json"), nullptr, false); }
  std::string Flash() { return ReadFileBytes(dir / "state/board.bin"); }
  // The job ended failed with `logText` in the log, and the run did not claim completion.
  void ExpectBoardFailed(const ProcessResult& r, const std::string& logText) {
    EXPECT_EQ(r.exitCode, 1) << r.err << r.out;
    EXPECT_NE(r.out.find(logText), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("Download Complete !"), std::string::npos) << r.err;
    const nlohmann::json s = Summary();
    ASSERT_FALSE(s.is_discarded());
    ASSERT_EQ(s["devices"].size(), 1u);
    EXPECT_EQ(s["devices"][0]["result"], "failed");
  }

  ScratchDir dir;
};

// Image paths that name no readable regular file: the job logs "Cannot open '<path>'" and the board
// counts as failed, while the run's other file is still programmed.
TEST_F(BadInput, ImageFilesThatCannotBeStreamed) {
  const std::string fifo = dir / "fifo.bin";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const std::string folder = dir / "folder.bin";
  std::filesystem::create_directories(folder);
  // Root reads every file whatever its mode; this kernel file refuses reading even to root.
  const std::string unreadable = "/proc/sys/vm/compact_memory";
  const std::string good = dir.Write("good.bin", PatternBytes(3000, 9));
  struct Case {
    const char* name;
    std::string path;
  };
  const Case cases[] = {
      {"missing", dir / "missing.bin"},
      {"unreadable", unreadable},
      {"directory", folder},
      {"FIFO without a writer", fifo},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir / "state/board.bin");
    ProcessResult r =
        Run(Args({"--image1", c.path, "--image2", good, "--block2", "1"}), BenchEnv(KeldaBoard()));
    ExpectBoardFailed(r, "Cannot open '" + c.path + "'");
    // The readable second file was still programmed at block 1.
    EXPECT_EQ(Flash().substr(0x10000, 3000), ReadFileBytes(good));
  }
}

TEST_F(BadInput, UnreadableByPermissionsWhenNotRoot) {
  if (::geteuid() == 0) GTEST_SKIP() << "running as root: file modes do not stop root from reading";
  const std::string path = dir.Write("locked.bin", PatternBytes(100, 1));
  ASSERT_EQ(::chmod(path.c_str(), 0), 0);
  ExpectBoardFailed(Run(Args({"--image1", path}), BenchEnv(KeldaBoard())), "Cannot open '" + path + "'");
}

// A 4 GiB file would be announced with size 0 in the 32-bit size field and "programmed" empty.
TEST_F(BadInput, FourGibSparseImageIsRefusedNotAnnouncedTruncated) {
  const std::string path = dir / "huge.bin";
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, off_t{1} << 32), 0);
  ::close(fd);
  ProcessResult r = Run(Args({"--image1", path}), BenchEnv(KeldaBoard()));
  ExpectBoardFailed(r, "is too large (4 GiB or more)");
  // No DownloadDataInfo reached the probe.
  EXPECT_EQ(ReadFileBytes(dir / "probe.log").find("cmd=0x18"), std::string::npos);
}

TEST_F(BadInput, PathWithSpacesAndNonAsciiIsProgrammed) {
  std::filesystem::create_directories(dir / "Bilder für Platine");
  const std::string image = PatternBytes(5000, 3);
  const std::string path = dir.Write("Bilder für Platine/boot image ü 😀.bin", image);
  ProcessResult r = Run(Args({"--image1", path}), BenchEnv(KeldaBoard()));
  EXPECT_EQ(r.exitCode, 0) << r.err << r.out;
  EXPECT_NE(r.out.find("Downloading to sector #0 (boot image ü 😀.bin)"), std::string::npos) << r.out;
  EXPECT_EQ(Flash().substr(0, image.size()), image);
  EXPECT_EQ(Summary()["devices"][0]["files"][0]["path"], path);
}

// The image changes while the probe streams it: realistic timing keeps the download going long
// enough to change the file after the first chunk was seen.
class ChangingImage : public BadInput {
 protected:
  void SetUp() override { path = dir.Write("image.bin", image); }
  FlashChild Start() {
    return FlashChild(Args({"--single", "--image1", path}),
                      BenchEnv("[bench]\ntiming = \"realistic\"\ntime_scale = 0.5\n" + KeldaBoard()),
                      dir.path());
  }
  const std::string image = PatternBytes(256 * 1024, 5);
  std::string path;
};

TEST_F(ChangingImage, FileThatShrinksFailsTheBoardWithItsName) {
  FlashChild flash = Start();
  ASSERT_TRUE(WaitForFileText(dir / "probe.log", "data len"));
  ASSERT_EQ(::truncate(path.c_str(), 1000), 0);
  ProcessResult r = flash.Wait(std::chrono::seconds(90));
  ExpectBoardFailed(r, "  DEVICE #0: Cannot read '" + path + "'\r\n");
  EXPECT_EQ(Summary()["devices"][0]["files"][0]["ok"], false);
}

TEST_F(ChangingImage, FileThatGrowsProgramsWhatWasAnnounced) {
  FlashChild flash = Start();
  ASSERT_TRUE(WaitForFileText(dir / "probe.log", "data len"));
  {
    std::ofstream out(path, std::ios::binary | std::ios::app);
    out << PatternBytes(4096, 6);
  }
  ProcessResult r = flash.Wait(std::chrono::seconds(90));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  // Exactly the announced bytes: the flash after them is still erased.
  const std::string flash_ = Flash();
  EXPECT_EQ(flash_.substr(0, image.size()), image);
  EXPECT_EQ(flash_.substr(image.size(), 4096), std::string(4096, '\xFF'));
  EXPECT_EQ(Summary()["devices"][0]["files"][0]["bytesSent"], image.size());
}

// Offset and block texts: what the page would read them as, or a usage error naming the option.
// Texts that parse must still land where they say, or be refused by the probe, never elsewhere.
TEST_F(BadInput, OffsetAndBlockTextsOfOddShapes) {
  const std::string image = PatternBytes(3000, 7);
  const std::string path = dir.Write("image.bin", image);
  struct Case {
    const char* option;
    const char* text;
    int exitCode;
    const char* shows;  // on stderr for usage errors, else in the log; "" for none
    long placedAt;      // flash offset of the image, -1 when nothing was programmed
  };
  const Case cases[] = {
      {"--block1", "", 2, "zolt-flash: --block1", -1},
      {"--block1", "abc", 2, "zolt-flash: --block1", -1},
      {"--block1", " 3", 0, "Downloading to sector #3", 0x30000},
      {"--block1", "2x", 2, "zolt-flash: --block1", -1},
      {"--block1", "0x10", 2, "zolt-flash: --block1", -1},
      {"--block1", "1O", 2, "zolt-flash: --block1", -1},
      {"--block1", "-1", 2, "zolt-flash: --block1", -1},
      {"--block1", "+1", 2, "zolt-flash: --block1", -1},
      {"--block1", "4294967296", 2, "zolt-flash: --block1", -1},
      {"--block1", "99999999999999999999999", 2, "zolt-flash: --block1", -1},
      // 65536 x 64 KiB is 4 GiB: a probe doing 32-bit arithmetic would wrap to offset 0.
      {"--block1", "65536", 1, "Overflow of flash size", -1},
      {"--block1", "4294967295", 1, "Overflow of flash size", -1},
      {"--offset", "", 2, "zolt-flash: --offset", -1},
      {"--offset", "zz", 2, "zolt-flash: --offset", -1},
      {"--offset", "0x", 2, "zolt-flash: --offset", -1},
      {"--offset", "1f000zz", 2, "zolt-flash: --offset", -1},
      {"--offset", "0x10000", 0, "", 0x10000},
      {"--offset", "-10000", 2, "zolt-flash: --offset", -1},
      {"--offset", "100000000", 2, "zolt-flash: --offset", -1},
      {"--offset", "FFFFFFFF", 1, "No chip select for offset 0xFFFFFFFF", -1},
      {"--offset", "80000", 1, "Overflow of flash size", -1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(c.option) + " '" + c.text + "'");
    std::filesystem::remove(dir / "state/board.bin");
    ProcessResult r = Run(Args({"--image1", path, c.option, c.text}), BenchEnv(KeldaBoard()));
    EXPECT_EQ(r.exitCode, c.exitCode) << r.err << r.out;
    EXPECT_NE((c.exitCode == 2 ? r.err : r.out).find(c.shows), std::string::npos) << r.err << r.out;
    const std::string flash = Flash();
    if (c.placedAt >= 0) {
      ASSERT_GE(flash.size(), static_cast<size_t>(c.placedAt) + image.size());
      EXPECT_EQ(flash.substr(static_cast<size_t>(c.placedAt), image.size()), image);
    } else {
      EXPECT_EQ(flash.find_first_not_of('\xFF'), std::string::npos) << "something was programmed";
    }
  }
}

// Bench files the bench refuses: one line naming the file, the line and the key; the library then
// shows no probe, so the run does not start and the reason is in the trace.
TEST_F(BadInput, BenchFilesThatAreRefused) {
  struct Case {
    const char* name;
    std::string toml;
    const char* error;  // part of the message after "<file>:"
  };
  const std::string kelda = "[[probe]]\ntarget = \"KELDA\"\n";
  const Case cases[] = {
      {"malformed TOML", "[[probe]\ntarget = KELDA\n", ":1:"},
      {"unterminated string", "[[probe]]\ntarget = \"KELDA\n", ":2:"},
      {"unknown key", kelda + "colour = \"red\"\n", "probe[0].colour"},
      {"unknown bench key", "[bench]\nspeed = 3\n" + kelda, "bench.speed"},
      {"unknown fault", kelda + "[probe.faults]\nexplode = true\n", "probe[0].faults.explode"},
      {"wrong type", kelda + "flash = 12\n", "probe[0].flash"},
      {"unknown target", "[[probe]]\ntarget = \"KELDO\"\n", "probe[0].target"},
      {"no target", "[[probe]]\nname = \"x\"\n", "probe[0].target"},
      {"firmware text too long", kelda + "firmware = \"2.12.1\"\n", "probe[0].firmware"},
      {"NAND on SOLANT", "[[probe]]\ntarget = \"SOLANT\"\nflash = \"K9F1G08\"\n", "probe[0].flash"},
      {"width the part lacks", kelda + "flash = \"EN29LV040A\"\nwidth = 16\n", "probe[0].width"},
      {"debug switch on KELDA", kelda + "[probe.faults]\ndebug_switch = true\n",
       "probe[0].faults.debug_switch"},
      {"NAND fault on NOR", kelda + "flash = \"EN29LV040A\"\n[probe.faults]\nbad_blocks = [1]\n",
       "probe[0].faults.bad_blocks"},
      {"fault outside the flash",
       kelda + "flash = \"EN29LV040A\"\n[probe.faults]\nprogram_fail = [0x80000]\n",
       "probe[0].faults.program_fail"},
      {"negative count", kelda + "flash = \"EN29LV040A\"\n[probe.faults]\nrandom_program_fails = -1\n",
       "probe[0].faults.random_program_fails"},
      {"two probes one flash file",
       kelda + "flash = \"EN29LV040A\"\nflash_file = \"a.bin\"\n" + kelda +
           "flash = \"EN29LV040A\"\nflash_file = \"a.bin\"\n",
       "probe[1].flash_file"},
      {"33 probes",
       [&] {
         std::string t;
         for (int i = 0; i < 33; ++i) t += kelda;
         return t;
       }(),
       "probe"},
      // The TOML reader would reach undefined behaviour on these characters, in any place.
      {"U+00E9 after a value", kelda + "name = \"x\" \u00e9\n", ":3: (syntax): the character U+00E9"},
      {"U+3042 as a value", kelda + "name = \u3042\n", ":3: (syntax): the character U+3042"},
      {"U+00FF after a quote inside a value", kelda + "seed = 1\"\u00ff\"\n",
       ":3: (syntax): the character U+00FF"},
      {"U+00FC in a string", kelda + "name = \"Pr\u00fcfplatz\"\n", ":3: (syntax): the character U+00FC"},
      {"U+FEFB after a backslash", "x = \"\"\"a\\\ufefb\"\"\"\n", ":1: (syntax): the character U+FEFB"},
      {"empty file", "", ""},
      {"binary junk", std::string("\0\xff\xfe[[\x01", 7), ":"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const probesim::BenchLoadResult loaded = probesim::LoadBenchFromString(c.toml, "bench.toml", dir.path());
    if (std::string(c.name) == "empty file") {
      // No probes at all is a valid bench: nothing attached.
      EXPECT_TRUE(loaded.bench != nullptr) << loaded.error;
      continue;
    }
    EXPECT_EQ(loaded.bench, nullptr);
    EXPECT_EQ(loaded.error.rfind("bench.toml:", 0), 0u) << loaded.error;
    EXPECT_NE(loaded.error.find(c.error), std::string::npos) << loaded.error;
  }
  // Other characters beyond ASCII are fine in strings and comments, and a byte order mark at the start.
  for (const std::string& text : {kelda + "# \u20ac \u6f22\u5b57\nname = \"\u20ac \u6f22\u5b57\"\n",
                                  "\xEF\xBB\xBF" + kelda + "name = '''\n\u6f22'''\n"}) {
    const probesim::BenchLoadResult loaded = probesim::LoadBenchFromString(text, "bench.toml", dir.path());
    EXPECT_NE(loaded.bench, nullptr) << loaded.error;
  }
  // Through the programmer: no probe, and the reason recorded for the operator to find.
  ProcessResult r = Run(Args({"--image1", dir.Write("image.bin", "x")}), BenchEnv(kelda + "colour = 1\n"));
  EXPECT_EQ(r.exitCode, 1);
  EXPECT_NE(r.err.find("\nmessage: Cannot Found Valid Device or JTAG ID\n"), std::string::npos) << r.err;
  EXPECT_NE(ReadFileBytes(dir / "vorlink.trace").find("probe[0].colour"), std::string::npos);
}

}  // namespace
}  // namespace zolt::reliability
