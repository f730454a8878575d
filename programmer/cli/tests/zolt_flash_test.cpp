// SPDX-License-Identifier: MIT
// zolt-flash end to end: the real program, the real libVorlink.so beside it, virtual benches.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <pty.h>
#include <signal.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <nlohmann/json.hpp>
#include <thread>

#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

TEST_F(ZoltFlash, ExitStatusTellsHowTheRunEnded) {
  const std::string image = dir.Write("image.bin", PatternBytes(5000, 1));
  const std::string good = KeldaBench(2, "instant");
  const std::string failing = KeldaBench(2, "instant", "program_fail = [0x10100]");
  const std::string noLibraryDir = dir / "alone";
  std::filesystem::create_directories(noLibraryDir);
  std::filesystem::copy_file(FlashProgram(), noLibraryDir + "/zolt-flash");
  std::filesystem::permissions(noLibraryDir + "/zolt-flash", std::filesystem::perms::owner_all);

  struct Case {
    const char* name;
    std::string bench;  // "" for none
    std::vector<std::string> args;
    int status;
    const char* stderrHas;  // "" when stderr must be empty
    std::string program = FlashProgram();
  };
  const Case cases[] = {
      {"complete", good, Args(kKeldaNor, {"--image1", image, "--block1", "1"}), 0,
       "message: Download Complete !\n"},
      {"failed job", failing, Args(kKeldaNor, {"--image1", image, "--block1", "1"}), 1,
       "message: WRITE ERROR\n"},
      {"image file missing", good, Args(kKeldaNor, {"--image1", dir / "nothing.bin"}), 1,
       "zolt-flash: image1 '"},
      {"no matching probe",
       good,
       {"--product", "OKO", "--image1", image},
       1,
       "message: Cannot Found Valid Device or JTAG ID\n"},
      {"no image", good, kKeldaNor, 1, "message: Cannot open image files\n"},
      {"library missing", good, Args(kKeldaNor, {"--image1", image}), 1,
       "message: Cannot load 'libVorlink.so'\n", noLibraryDir + "/zolt-flash"},
      {"toggle stopped",
       good,
       {"--product", "KELDA", "--toggle", "--interval", "5", "--stop-after", "0.3"},
       0,
       "zolt-flash: virtual bench "},
      {"usage: width", good, Args(kKeldaNor, {"--width", "12", "--image1", image}), 2, "zolt-flash: --width"},
      {"usage: toggle on TARVIS", good, {"--toggle"}, 2, "zolt-flash: --toggle"},
      {"usage: NAND on SOLANT", good, {"--product", "solant", "--nand"}, 2, "zolt-flash: --nand"},
      {"usage: unknown option", good, {"--erase-all"}, 2, "--erase-all"},
      {"usage: summary not writable", good,
       Args(kKeldaNor, {"--image1", image, "--json", dir / "no/such/dir.json"}), 2,
       "zolt-flash: --json: cannot write"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::filesystem::remove(dir / "probe.log");
    ProcessResult r = Run(c.args, BenchEnv(c.bench), c.program);
    EXPECT_EQ(r.exitCode, c.status) << r.err;
    if (*c.stderrHas == '\0') {
      EXPECT_EQ(r.err, "");
    } else {
      EXPECT_NE(r.err.find(c.stderrHas), std::string::npos) << r.err;
    }
    if (c.status == 2) {
      // Checked before anything was loaded: no log text, and no probe saw a command.
      EXPECT_EQ(r.out, "");
      EXPECT_EQ(ReadFileBytes(dir / "probe.log"), "");
    }
    if (std::string(c.name) == "complete") {
      ExpectFlashHolds(0, ReadFileBytes(image), 0x10000);
      ExpectFlashHolds(1, ReadFileBytes(image), 0x10000);
    }
    if (std::string(c.name) == "toggle stopped") {
      EXPECT_NE(r.out.find("[Toggling All PINs]\r\n"), std::string::npos);
      EXPECT_NE(ReadFileBytes(dir / "probe.log").find("apply=high"), std::string::npos);
    }
  }
}

TEST_F(ZoltFlash, JsonSummaryOfAMixedRun) {
  const std::string image1 = PatternBytes(10000, 2), image3 = PatternBytes(3000, 3);
  const std::string path1 = dir.Write("one.bin", image1), path3 = dir.Write("three.bin", image3);
  const std::string json = dir / "summary.json";
  ProcessResult r = Run(Args(kKeldaNor, {"--image1", path1, "--block1", "1", "--image3", path3, "--block3",
                                         "4", "--offset", "0x0", "--json", json}),
                        BenchEnv(KeldaBench(3, "instant", "program_fail = [0x10200]")));
  ASSERT_EQ(r.exitCode, 1) << r.err;

  nlohmann::json s = nlohmann::json::parse(ReadFileBytes(json));
  EXPECT_EQ(s["result"], "failed");
  EXPECT_EQ(s["exitCode"], 1);
  EXPECT_EQ(s["stopRequested"], false);
  EXPECT_GE(s["elapsedSeconds"].get<double>(), 0.0);
  EXPECT_EQ(s["bench"], dir / "bench.toml") << "a run on virtual boards says so";
  EXPECT_EQ(s["settings"]["product"], "KELDA");
  EXPECT_EQ(s["settings"]["flashType"], "NOR");
  EXPECT_EQ(s["settings"]["norType"], "EN29LV040A");
  EXPECT_EQ(s["settings"]["images"].size(), 2u);
  EXPECT_EQ(s["settings"]["images"][1]["slot"], 3);
  EXPECT_EQ(s["settings"]["images"][1]["block"], 4);

  ASSERT_EQ(s["devices"].size(), 3u);
  for (int board : {0, 2}) {
    SCOPED_TRACE(board);
    const auto& d = s["devices"][board == 0 ? 0 : 2];
    EXPECT_EQ(d["index"], board);
    EXPECT_EQ(d["result"], "ok");
    EXPECT_EQ(d["failureText"], "");
    ASSERT_EQ(d["files"].size(), 2u);
    const auto& f1 = d["files"][0];
    EXPECT_EQ(f1["slot"], 1);
    EXPECT_EQ(f1["path"], path1);
    EXPECT_EQ(f1["size"], image1.size());
    EXPECT_EQ(f1["bytesSent"], image1.size());
    EXPECT_EQ(f1["ok"], true);
    char crc[16];
    std::snprintf(crc, sizeof crc, "%08x", Crc32(image1));
    EXPECT_EQ(f1["crc32"], crc);
    EXPECT_EQ(d["files"][1]["slot"], 3);
    std::snprintf(crc, sizeof crc, "%08x", Crc32(image3));
    EXPECT_EQ(d["files"][1]["crc32"], crc);
    ExpectFlashHolds(board, image1, 0x10000);
    ExpectFlashHolds(board, image3, 0x40000);
  }
  const auto& bad = s["devices"][1];
  EXPECT_EQ(bad["index"], 1);
  EXPECT_EQ(bad["result"], "failed");
  ASSERT_GE(bad["files"].size(), 1u);
  EXPECT_EQ(bad["files"][0]["ok"], false);
  EXPECT_LE(bad["files"][0]["bytesSent"].get<uint64_t>(), image1.size());
  // The failing board's error box, and no "Download Complete !" for a run in which a job failed.
  EXPECT_EQ(s["messages"], nlohmann::json::array({"WRITE ERROR"}));
  EXPECT_EQ(r.err, "zolt-flash: virtual bench " + dir / "bench.toml" +
                       ": no real probe is used\nmessage: WRITE ERROR\n");
  EXPECT_NE(bad["failureText"].get<std::string>().find("WRITE ERROR"), std::string::npos);
}

TEST_F(ZoltFlash, ProgressLineOnlyOnATerminalAndNeverInTheLog) {
  int master = -1, slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const std::string image = dir.Write("image.bin", PatternBytes(24 * 1024, 5));
  FlashChild flash(FlashProgram(), Args(kKeldaNor, {"--image1", image}), BenchEnv(KeldaBench(2, "realistic")),
                   dir.path(), {.stderrFd = slave});
  ::close(slave);
  std::string terminal;
  ::fcntl(master, F_SETFL, O_NONBLOCK);
  ProcessResult r = flash.Wait();
  char buffer[4096];
  for (ssize_t n; (n = ::read(master, buffer, sizeof buffer)) > 0;)
    terminal.append(buffer, static_cast<size_t>(n));
  ::close(master);

  EXPECT_EQ(r.exitCode, 0);
  // Redrawn in place with the run's percentage, elapsed time and both devices; wiped before the box.
  // The virtual bench's line comes first, before the first frame.
  EXPECT_EQ(terminal.rfind("zolt-flash: virtual bench ", 0), 0u) << terminal;
  EXPECT_EQ(terminal.find("\r  0%  00 : 00  -- B/s  left -- : --  #0 0% #1 0%\x1b[K"),
            terminal.find('\n') + 1)
      << terminal;
  EXPECT_NE(terminal.find("\r\x1b[Kmessage: Download Complete !"), std::string::npos) << terminal;
  EXPECT_EQ(r.out.find('%'), std::string::npos) << "progress leaked into the log: " << r.out;
  EXPECT_EQ(r.out.find('\x1b'), std::string::npos);
}

// A download long enough to stop half way: realistic timing, 256 KiB over 1 ms USB transfers.
class ZoltFlashStop : public ZoltFlash {
 protected:
  void SetUp() override { image = dir.Write("big.bin", PatternBytes(256 * 1024, 4)); }
  std::vector<std::string> DownloadArgs() { return Args(kKeldaNor, {"--single", "--image1", image}); }
  void ExpectStoppedByHandshake(const ProcessResult& r) {
    EXPECT_EQ(r.exitCode, 3) << r.err;
    EXPECT_NE(r.out.find("  DEVICE #0: Download stopping, Please wait ... \r\n"), std::string::npos) << r.out;
    EXPECT_NE(r.out.find("  Download stop is OK.\r\n\r\n"), std::string::npos) << r.out;
    EXPECT_EQ(r.err.find("Download Complete"), std::string::npos);
    // The probe saw the stop marker at the start of a block, before the file was complete.
    const std::string events = ReadFileBytes(dir / "probe.log");
    EXPECT_NE(events.find(" stop\n"), std::string::npos);
    size_t chunks = 0;
    for (size_t at = events.find("data len"); at != std::string::npos; at = events.find("data len", at + 1))
      ++chunks;
    EXPECT_LT(chunks, 4096u);
  }
  std::string image;
};

TEST_F(ZoltFlashStop, StopAfterStopsTheDownloadThroughTheProbe) {
  const std::string json = dir / "summary.json";
  ProcessResult r =
      Run(Args(DownloadArgs(), {"--stop-after", "1", "--json", json}), BenchEnv(KeldaBench(1, "realistic")));
  ExpectStoppedByHandshake(r);
  nlohmann::json s = nlohmann::json::parse(ReadFileBytes(json));
  EXPECT_EQ(s["result"], "stopped");
  EXPECT_EQ(s["exitCode"], 3);
  EXPECT_EQ(s["devices"][0]["result"], "stopped");
}

// A terminal that hangs up takes stderr with it: the stop line and the rest of stderr then go
// nowhere (EPIPE), and the run still stops through the probe and says so in its summary.
TEST_F(ZoltFlashStop, HangUpWithStderrGoneStillStopsTheDownload) {
  int pipeFds[2];
  ASSERT_EQ(::pipe2(pipeFds, O_CLOEXEC), 0);
  ::close(pipeFds[0]);  // nobody reads stderr any more
  const std::string json = dir / "summary.json";
  FlashChild flash(FlashProgram(), Args(DownloadArgs(), {"--json", json}),
                   BenchEnv(KeldaBench(1, "realistic")), dir.path(), {.stderrFd = pipeFds[1]});
  ::close(pipeFds[1]);
  ASSERT_TRUE(WaitForFileText(dir / "probe.log", "data len"));
  flash.Signal(SIGHUP);
  ExpectStoppedByHandshake(flash.Wait());
  EXPECT_EQ(nlohmann::json::parse(ReadFileBytes(json), nullptr, false).value("result", ""), "stopped");
}

// Ctrl-C, `timeout`'s SIGTERM and a closed terminal's SIGHUP are all one stop request: the board
// gets its stop marker and the summary says "stopped".
TEST_F(ZoltFlashStop, FirstSignalStopsTheDownloadThroughTheProbe) {
  for (int signal : {SIGINT, SIGTERM, SIGHUP}) {
    SCOPED_TRACE(::strsignal(signal));
    std::filesystem::remove(dir / "probe.log");
    const std::string json = dir / "summary.json";
    FlashChild flash(FlashProgram(), Args(DownloadArgs(), {"--json", json}),
                     BenchEnv(KeldaBench(1, "realistic")), dir.path());
    ASSERT_TRUE(WaitForFileText(dir / "probe.log", "data len"));
    flash.Signal(signal);
    ExpectStoppedByHandshake(flash.Wait());
    EXPECT_EQ(nlohmann::json::parse(ReadFileBytes(json), nullptr, false).value("result", ""), "stopped");
  }
}

TEST_F(ZoltFlashStop, SecondSigintEndsAtOnceWith130) {
  // The probe never answers a block, so the job sits in its 14 s wait: only the second signal ends it.
  const std::string json = dir / "summary.json";
  FlashChild flash(FlashProgram(), Args(DownloadArgs(), {"--json", json}),
                   BenchEnv(KeldaBench(1, "realistic") + "[probe.faults]\nno_answer = [\"block\"]\n"),
                   dir.path());
  ASSERT_TRUE(WaitForFileText(dir / "probe.log", "data len"));
  flash.Signal(SIGINT);
  // Two signals sent at once may merge into one; an operator's second Ctrl-C comes later.
  std::this_thread::sleep_for(std::chrono::milliseconds(300));
  flash.Signal(SIGINT);
  const auto start = std::chrono::steady_clock::now();
  ProcessResult r = flash.Wait();
  EXPECT_EQ(r.exitCode, 130) << r.err;
  EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(10)) << "not at once";
  nlohmann::json s = nlohmann::json::parse(ReadFileBytes(json));
  EXPECT_EQ(s["result"], "interrupted");
  EXPECT_EQ(s["exitCode"], 130);
  EXPECT_EQ(s["devices"][0]["result"], "unfinished");
}

}  // namespace
}  // namespace zolt::cli::testing
