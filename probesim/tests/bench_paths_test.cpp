// SPDX-License-Identifier: MIT
// The paths a bench reads from its environment: the bench file (a FIFO, a device, a folder or a
// huge file is refused without waiting or reading it whole), PROBESIM_LOG (refused unless a
// regular file or a character device, the bench still loads), and the state folder (no shared
// default when XDG_STATE_HOME and HOME give none).
#include <sys/stat.h>

#include <cstdlib>
#include <filesystem>
#include <optional>

#include "bench_file.h"
#include "host.h"

namespace probesim::test {
namespace {

namespace fs = std::filesystem;

const char kGoodBench[] = "[[probe]]\ntarget = \"KELDA\"\nflash = \"none\"\n";

// Sets environment variables for one scope and restores them afterwards.
class Environment {
 public:
  void Set(const char* name, const std::optional<std::string>& value) {
    const char* old = std::getenv(name);
    saved_.push_back({name, old ? std::optional<std::string>(old) : std::nullopt});
    if (value) {
      ::setenv(name, value->c_str(), 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~Environment() {
    for (auto it = saved_.rbegin(); it != saved_.rend(); ++it) {
      if (it->second) {
        ::setenv(it->first.c_str(), it->second->c_str(), 1);
      } else {
        ::unsetenv(it->first.c_str());
      }
    }
  }

 private:
  std::vector<std::pair<std::string, std::optional<std::string>>> saved_;
};

struct BenchPath {
  const char* name;
  // Makes the bench path in `dir` and returns it.
  std::string (*make)(const std::string& dir);
  const char* error;  // expected after "<path>:0: (file): "; null: loads
};

std::string Fifo(const std::string& dir) {
  ::mkfifo((dir + "/bench.toml").c_str(), 0600);
  return dir + "/bench.toml";
}
std::string Oversized(const std::string& dir) {
  std::ofstream(dir + "/big.toml") << kGoodBench << std::string(kMaxBenchFileBytes, '#');
  return dir + "/big.toml";
}
std::string AtTheLimit(const std::string& dir) {
  std::string text = kGoodBench;
  text += "#" + std::string(kMaxBenchFileBytes - text.size() - 2, '-') + "\n";
  std::ofstream(dir + "/limit.toml") << text;
  return dir + "/limit.toml";
}
std::string LinkToGood(const std::string& dir) {
  std::ofstream(dir + "/good.toml") << kGoodBench;
  fs::create_symlink(dir + "/good.toml", dir + "/link.toml");
  return dir + "/link.toml";
}

class BenchFilePath : public ::testing::TestWithParam<BenchPath> {};

// With a blocking open the FIFO case never returns, and /dev/zero reads until memory runs out.
TEST_P(BenchFilePath, IsReadOnlyWhenARegularFileOfAtMostOneMebibyte) {
  ScratchDir dir;
  Environment env;
  env.Set("PROBESIM_STATE_DIR", dir.path());
  const std::string path = GetParam().make(dir.path());
  const BenchLoadResult result = LoadBench(path);
  if (GetParam().error == nullptr) {
    ASSERT_TRUE(result.bench) << result.error;
    EXPECT_EQ(result.bench->ProbeCount(), 1u);
  } else {
    EXPECT_FALSE(result.bench);
    EXPECT_EQ(result.error.rfind(path + ":0: (file): " + GetParam().error, 0), 0u) << result.error;
  }
}

INSTANTIATE_TEST_SUITE_P(
    Cases, BenchFilePath,
    ::testing::Values(BenchPath{"Fifo", Fifo, "not a regular file"},
                      BenchPath{"DevZero", [](const std::string&) { return std::string("/dev/zero"); },
                                "not a regular file"},
                      BenchPath{"Folder", [](const std::string& dir) { return dir; }, "not a regular file"},
                      BenchPath{"Oversized", Oversized, "larger than 1 MiB"},
                      BenchPath{"Missing", [](const std::string& dir) { return dir + "/none.toml"; },
                                "cannot read: No such file or directory"},
                      BenchPath{"AtTheLimit", AtTheLimit, nullptr},
                      BenchPath{"SymlinkToAFile", LinkToGood, nullptr}),
    [](const auto& info) { return std::string(info.param.name); });

// An event log that would block (a FIFO without a reader) or is no file is left off and said so;
// the bench itself still serves its probes.
TEST(BenchPaths, EventLogThatIsNotAFileIsNotedAndLeftOff) {
  ScratchDir dir;
  const std::string fifo = dir.path() + "/events";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  struct Case {
    std::string log;
    bool refused;
  };
  for (const Case& c : {Case{fifo, true}, Case{dir.path(), true}, Case{"/dev/null", false},
                        Case{dir.path() + "/events.log", false}}) {
    Environment env;
    env.Set("PROBESIM_LOG", c.log);
    const BenchLoadResult result = LoadBenchFromString(kGoodBench, "test.toml", dir.path());
    ASSERT_TRUE(result.bench) << result.error;
    if (c.refused) {
      ASSERT_EQ(result.notes.size(), 1u) << c.log;
      EXPECT_EQ(result.notes[0],
                "PROBESIM_LOG " + c.log + ": not a regular file or character device; no event log");
    } else {
      EXPECT_TRUE(result.notes.empty()) << c.log << ": " << (result.notes.empty() ? "" : result.notes[0]);
    }
  }
}

// Where relative flash files go. PROBESIM_STATE_DIR wins; then an absolute XDG_STATE_HOME; then an
// absolute HOME; otherwise such a bench is refused (no folder anyone could make first, like
// /tmp/.local/state). An absolute flash_file needs none of them.
TEST(BenchPaths, StateFolderComesFromTheEnvironmentOrTheBenchIsRefused) {
  struct Case {
    std::optional<std::string> stateDir, xdg, home;
    std::string flashFile;
    std::string expected;  // the flash file path, or the error's tail
  };
  const std::string refused =
      "test.toml:4: probe[0].flash_file: no folder for flash files: set PROBESIM_STATE_DIR (XDG_STATE_HOME "
      "and "
      "HOME are unset or not absolute paths), or give an absolute flash_file";
  const Case cases[] = {
      {"/s", "/x", "/h", "f.bin", "/s/f.bin"},
      {std::nullopt, "/x", "/h", "f.bin", "/x/zolt-probesim/f.bin"},
      {"", "", "/h", "f.bin", "/h/.local/state/zolt-probesim/f.bin"},
      {std::nullopt, "relative", "/h", "f.bin", "/h/.local/state/zolt-probesim/f.bin"},
      {std::nullopt, std::nullopt, std::nullopt, "f.bin", refused},
      {std::nullopt, std::nullopt, "", "f.bin", refused},
      {std::nullopt, "state", "home", "f.bin", refused},
      {std::nullopt, std::nullopt, std::nullopt, "/abs/f.bin", "/abs/f.bin"},
  };
  for (const Case& c : cases) {
    Environment env;
    env.Set("PROBESIM_STATE_DIR", c.stateDir);
    env.Set("XDG_STATE_HOME", c.xdg);
    env.Set("HOME", c.home);
    const BenchLoadResult result = LoadBenchFromString(
        "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nflash_file = \"" + c.flashFile + "\"\n",
        "test.toml", "");
    const std::string got = result.bench ? FlashFilePath(*result.bench, 0) : result.error;
    EXPECT_EQ(got, c.expected) << "PROBESIM_STATE_DIR=" << c.stateDir.value_or("(unset)")
                               << " XDG_STATE_HOME=" << c.xdg.value_or("(unset)")
                               << " HOME=" << c.home.value_or("(unset)");
  }
}

}  // namespace
}  // namespace probesim::test
