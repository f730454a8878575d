// SPDX-License-Identifier: MIT
// zolt-flash against what an unfriendly user or a bad day brings: summary paths that are links,
// devices, FIFOs or the image itself; a run killed half way; a probe that stops answering while
// the pins toggle; a stop that never completes; names that are not UTF-8 or carry control bytes.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/mount.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <filesystem>
#include <functional>
#include <nlohmann/json.hpp>

#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

namespace fs = std::filesystem;

std::string OneKeldaBench(const std::string& timing, const std::string& faults = "") {
  std::string toml = "[bench]\ntiming = \"" + timing +
                     "\"\n\n[[probe]]\nname = \"board-0\"\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n";
  if (!faults.empty()) toml += "[probe.faults]\n" + faults + "\n";
  return toml;
}

nlohmann::json ParseSummary(const std::string& text) {
  return nlohmann::json::parse(text, nullptr, false);
}

bool IsLink(const std::string& path) {
  struct stat st {};
  return ::lstat(path.c_str(), &st) == 0 && S_ISLNK(st.st_mode);
}

class ZoltFlashHostile : public ZoltFlash {};

TEST_F(ZoltFlashHostile, SummaryPathOfEveryKind) {
  const std::string imageBytes = PatternBytes(3000, 7);
  const std::string image = dir.Write("image.bin", imageBytes);
  const std::string bench = OneKeldaBench("instant");
  const std::string fifo = dir / "summary.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);

  struct Case {
    const char* name;
    std::function<std::string()> prepare;  // returns the --json path
    int status;
    const char* stderrHas;                          // for a usage error
    std::function<void(const std::string&)> check;  // after the run, given the --json path
  };
  const Case cases[] = {
      {"symlink to a regular file",
       [&] {
         dir.Write("target.json", "old");
         fs::create_symlink(dir / "target.json", dir / "link.json");
         return dir / "link.json";
       },
       0, "",
       [&](const std::string& path) {
         EXPECT_TRUE(IsLink(path)) << "the link was replaced";
         EXPECT_EQ(ParseSummary(ReadFileBytes(dir / "target.json")).value("result", ""), "complete");
       }},
      {"dangling symlink: its target is made",
       [&] {
         fs::create_symlink("made.json", dir / "dangling.json");
         return dir / "dangling.json";
       },
       0, "",
       [&](const std::string& path) {
         EXPECT_TRUE(IsLink(path));
         EXPECT_EQ(ParseSummary(ReadFileBytes(dir / "made.json")).value("result", ""), "complete");
       }},
      {"a character device is written through", [] { return std::string("/dev/null"); }, 0, "",
       [](const std::string& path) {
         struct stat st {};
         ASSERT_EQ(::lstat(path.c_str(), &st), 0);
         EXPECT_TRUE(S_ISCHR(st.st_mode)) << "/dev/null was replaced";
       }},
      {"a FIFO nobody reads is refused, not waited on", [&] { return fifo; }, 2, "a FIFO with no reader",
       nullptr},
      {"the image itself", [&] { return image; }, 2, "it is image1", nullptr},
      {"a symlink to the image",
       [&] {
         fs::create_symlink(image, dir / "image-link.json");
         return dir / "image-link.json";
       },
       2, "it is image1", nullptr},
      {"a hard link to the image",
       [&] {
         fs::create_hard_link(image, dir / "image-hard.json");
         return dir / "image-hard.json";
       },
       2, "it is image1", nullptr},
      {"the image through a path with dots", [&] { return dir / "./state/../image.bin"; }, 2, "it is image1",
       nullptr},
      {"the bench file", [&] { return dir / "bench.toml"; }, 2, "VORLINK_BENCH", nullptr},
      {"the bench's event log", [&] { return dir / "probe.log"; }, 2, "PROBESIM_LOG", nullptr},
      {"a folder", [&] { return dir / "state"; }, 2, "Is a directory", nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir / "probe.log");
    const FlashChild::Env env = BenchEnv(bench);
    const std::string json = c.prepare();
    ProcessResult r = Run(Args(kKeldaNor, {"--image1", image, "--json", json}), env);
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    if (c.status == 2) {
      EXPECT_NE(r.err.find("zolt-flash: --json: cannot write '"), std::string::npos) << r.err;
      EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
      EXPECT_EQ(ReadFileBytes(dir / "probe.log"), "") << "refused only after a probe was used";
    }
    if (c.check) c.check(json);
    EXPECT_EQ(ReadFileBytes(image), imageBytes) << "the image was overwritten";
  }
}

TEST_F(ZoltFlashHostile, SummaryThroughAFifoIsTheFinalDocument) {
  const std::string fifo = dir / "summary.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  const int reader = ::open(fifo.c_str(), O_RDONLY | O_NONBLOCK);
  ASSERT_GE(reader, 0);
  ProcessResult r =
      Run(Args(kKeldaNor, {"--image1", dir.Write("image.bin", PatternBytes(3000, 8)), "--json", fifo}),
          BenchEnv(OneKeldaBench("instant")));
  EXPECT_EQ(r.exitCode, 0) << r.err;
  std::string text;
  char buffer[4096];
  for (ssize_t n; (n = ::read(reader, buffer, sizeof buffer)) > 0;)
    text.append(buffer, static_cast<size_t>(n));
  ::close(reader);
  // Only the final document goes through a stream: a reader never sees "running" first.
  const nlohmann::json s = ParseSummary(text);
  ASSERT_FALSE(s.is_discarded()) << text;
  EXPECT_EQ(s["result"], "complete");
  struct stat st {};
  ASSERT_EQ(::lstat(fifo.c_str(), &st), 0);
  EXPECT_TRUE(S_ISFIFO(st.st_mode));
}

// A summary that cannot be written on a full disk leaves the previous one whole instead of cutting
// it short in place; here the "running" document already fails, so nothing is run (exit 2).
TEST_F(ZoltFlashHostile, FullDiskLeavesThePreviousSummaryWhole) {
  const std::string full = dir / "full";
  fs::create_directory(full);
  if (::mount("tmpfs", full.c_str(), "tmpfs", 0, "size=64k") != 0) GTEST_SKIP() << "cannot mount a tmpfs";
  const std::string old = R"({"result": "complete", "exitCode": 0})";
  const std::string json = full + "/summary.json";
  {
    std::FILE* f = std::fopen(json.c_str(), "w");
    std::fputs(old.c_str(), f);
    std::fclose(f);
    // Fill what is left.
    std::FILE* filler = std::fopen((full + "/filler").c_str(), "w");
    const std::string block(4096, 'x');
    while (std::fwrite(block.data(), 1, block.size(), filler) == block.size() && std::fflush(filler) == 0) {
    }
    std::fclose(filler);
  }
  ProcessResult r =
      Run(Args(kKeldaNor, {"--image1", dir.Write("image.bin", PatternBytes(3000, 12)), "--json", json}),
          BenchEnv(OneKeldaBench("instant")));
  const std::string after = ReadFileBytes(json);
  ::umount2(full.c_str(), MNT_DETACH);
  EXPECT_EQ(r.exitCode, 2) << r.err;
  EXPECT_NE(r.err.find("No space left on device"), std::string::npos) << r.err;
  EXPECT_EQ(after, old);
}

// A run that dies (SIGKILL, a crash) must not leave the last run's "complete" behind.
TEST_F(ZoltFlashHostile, KilledRunLeavesRunningNotAnOldSuccess) {
  const std::string json = dir.Write("summary.json", R"({"result": "complete", "exitCode": 0})");
  // The probe never answers a block, so the run is still under way when it is killed.
  FlashChild flash(
      FlashProgram(),
      Args(kKeldaNor, {"--image1", dir.Write("image.bin", PatternBytes(64 * 1024, 9)), "--json", json}),
      BenchEnv(OneKeldaBench("realistic", "no_answer = [\"block\"]")), dir.path());
  ASSERT_TRUE(WaitForFileText(dir / "probe.log", "data len"));
  EXPECT_EQ(ParseSummary(ReadFileBytes(json)).value("result", ""), "running") << "written before RUN";
  flash.Signal(SIGKILL);
  EXPECT_EQ(flash.Wait().exitCode, 128 + SIGKILL);
  const nlohmann::json s = ParseSummary(ReadFileBytes(json));
  EXPECT_EQ(s.value("result", ""), "running");
  EXPECT_FALSE(s["exitCode"] == 0) << s.dump();
}

TEST_F(ZoltFlashHostile, PinToggleWithFailedAppliesFails) {
  struct Case {
    const char* name;
    std::string faults;
    int status;
    bool failures;
  };
  const Case cases[] = {
      {"every apply answered", "", 0, false},
      {"the probe stops answering the applies", "no_answer = [0x22, 0x23]", 1, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string json = dir / "summary.json";
    ProcessResult r =
        Run({"--product", "KELDA", "--toggle", "--interval", "5", "--stop-after", "0.3", "--json", json},
            BenchEnv(OneKeldaBench("instant", c.faults)));
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    EXPECT_NE(r.out.find("[Toggling All PINs]\r\n"), std::string::npos) << "the loop went on regardless";
    const nlohmann::json s = ParseSummary(ReadFileBytes(json));
    ASSERT_TRUE(s.contains("pinApplyFailures")) << s.dump();
    EXPECT_EQ(s["pinApplyFailures"].get<int>() > 0, c.failures) << s.dump();
    EXPECT_EQ(s["result"], c.status == 0 ? "toggle-stopped" : "failed") << s.dump();
  }
}

TEST_F(ZoltFlashHostile, StopWatchdogEndsARunThatDoesNotStop) {
  // One SIGTERM (what `timeout` sends) while the probe never answers a block: the stop cannot
  // complete for 14 s, and the watchdog (shortened here) ends the program first.
  const std::string json = dir / "summary.json";
  FlashChild::Env env = BenchEnv(OneKeldaBench("realistic", "no_answer = [\"block\"]"));
  env["ZOLT_FLASH_STOP_WATCHDOG_MS"] = "500";
  FlashChild flash(
      FlashProgram(),
      Args(kKeldaNor, {"--image1", dir.Write("image.bin", PatternBytes(64 * 1024, 10)), "--json", json}), env,
      dir.path());
  ASSERT_TRUE(WaitForFileText(dir / "probe.log", "data len"));
  flash.Signal(SIGTERM);
  ProcessResult r = flash.Wait();
  EXPECT_EQ(r.exitCode, 130) << r.err;
  const nlohmann::json s = ParseSummary(ReadFileBytes(json));
  EXPECT_EQ(s.value("result", ""), "interrupted");
  EXPECT_EQ(s.value("exitCode", 0), 130);

  // A setting that is not a positive number of milliseconds is a usage error, shown escaped.
  for (const char* bad : {"", "abc", "0", "-5", "10s", "1\x1b[2J"}) {
    SCOPED_TRACE(bad);
    env["ZOLT_FLASH_STOP_WATCHDOG_MS"] = bad;
    ProcessResult u = Run({"--product", "KELDA", "--image1", dir / "image.bin"}, env);
    EXPECT_EQ(u.exitCode, 2) << u.err;
    EXPECT_NE(u.err.find("ZOLT_FLASH_STOP_WATCHDOG_MS"), std::string::npos) << u.err;
    EXPECT_EQ(u.err.find('\x1b'), std::string::npos) << u.err;
  }
}

TEST_F(ZoltFlashHostile, NamesThatAreNotUtf8OrCarryControlBytes) {
  const std::string imageBytes = PatternBytes(3000, 11);
  struct Case {
    const char* name;
    std::string fileName;  // of image 1, in the scratch folder
    bool exists;
    int status;
    std::string summaryName;  // the file's path in the summary ends so
    std::string stderrName;   // the name as zolt-flash's stderr line shows it; "" when no line
  };
  const Case cases[] = {
      {"bytes that are not UTF-8", "img-\xff\xfe.bin", true, 0, "img-\xef\xbf\xbd\xef\xbf\xbd.bin", ""},
      {"a truncated UTF-8 sequence", "img-\xc3.bin", true, 0, "img-\xef\xbf\xbd.bin", ""},
      {"valid UTF-8 passes", "img-\xc3\xa9.bin", true, 0, "img-\xc3\xa9.bin", ""},
      {"control bytes in a missing file's name", "a\nb\x1b[2J\x7f.bin", false, 1, "",
       "a\\nb\\x1b[2J\\x7f.bin"},
      {"not UTF-8 in a missing file's name", "gone-\xff.bin", false, 1, "", "gone-\\xff.bin"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string path = c.exists ? dir.Write(c.fileName, imageBytes) : dir / c.fileName;
    const std::string json = dir / "summary.json";
    ProcessResult r =
        Run(Args(kKeldaNor, {"--image1", path, "--json", json}), BenchEnv(OneKeldaBench("instant")));
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    const nlohmann::json s = ParseSummary(ReadFileBytes(json));
    ASSERT_FALSE(s.is_discarded()) << "no valid summary";
    EXPECT_EQ(s["exitCode"], c.status);
    if (c.exists) {
      const std::string written = s["devices"][0]["files"][0]["path"];
      EXPECT_TRUE(written.ends_with(c.summaryName)) << written;
      ExpectFlashHolds(0, imageBytes, 0);
    } else {
      EXPECT_NE(r.err.find("zolt-flash: image1 '" + dir.path() + "/" + c.stderrName +
                           "': No such file or directory\n"),
                std::string::npos)
          << r.err;
      // stderr carries no raw control byte; the log keeps the name byte for byte.
      for (char control : {'\x1b', '\x7f'}) EXPECT_EQ(r.err.find(control), std::string::npos);
      EXPECT_NE(r.out.find(c.fileName), std::string::npos) << r.out;
    }
  }
}

// Without a bench nothing claims one: no bench line, a null "bench" (this machine has no probe, so
// the run finds none).
TEST_F(ZoltFlashHostile, NoBenchNoBenchLine) {
  const std::string json = dir / "summary.json";
  ProcessResult r = Run(Args(kKeldaNor, {"--image1", dir.Write("image.bin", "x"), "--json", json}), {});
  EXPECT_EQ(r.err.find("virtual bench"), std::string::npos) << r.err;
  const nlohmann::json s = ParseSummary(ReadFileBytes(json));
  ASSERT_TRUE(s.contains("bench")) << s.dump();
  EXPECT_TRUE(s["bench"].is_null());
}

}  // namespace
}  // namespace zolt::cli::testing
