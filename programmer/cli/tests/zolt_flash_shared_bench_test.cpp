// SPDX-License-Identifier: MIT
// Two zolt-flash processes on one bench state (the same VORLINK_BENCH and PROBESIM_STATE_DIR), as
// two programs on one set of probes: a probe is open in one process at a time (its board's flash
// file is locked while it is open), so the second never programs a board the first holds, says
// that no probe opens, and leaves the first's flash files and history lines whole. A station goes
// on polling and takes the probes once the other program lets go of them.
// Every wait is for a line a program writes (stderr or history), with a hang guard. A normal run
// that must go on holding its probes is held still with SIGSTOP as soon as its jobs have opened
// them (their started lines), while its 256 KiB image still has seconds to go.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "testing/bench_control.h"
#include "testing/text_count.h"
#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

using ::zolt::testing::BenchControl;
using ::zolt::testing::ChildStreams;

constexpr size_t kBlock = 0x10000;  // EN29LV040A erase block; --block1 1 places the image here
const char kNoProbeNote[] =
    "station: no probe opens at any device index: none is plugged in, or another program holds them\n";

using ::zolt::testing::Count;

// Polls `path` until `part` occurs `times` times in it; false after the hang guard.
bool WaitForCount(const std::string& path, const std::string& part, size_t times) {
  const auto limit = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (Count(ReadFileBytes(path), part) < times) {
    if (std::chrono::steady_clock::now() > limit) return false;
    ::usleep(10000);
  }
  return true;
}

// A zolt-flash child whose stderr goes to a file, so the test can wait for its lines.
class Program {
 public:
  Program(const ScratchDir& dir, const std::string& name, const std::vector<std::string>& args,
          const FlashChild::Env& env)
      : errPath_(dir / (name + ".err")) {
    errFd_ = ::open(errPath_.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (errFd_ < 0) throw std::runtime_error("cannot make " + errPath_);
    child_ = std::make_unique<FlashChild>(FlashProgram(), args, env, dir.path(), ChildStreams{-1, errFd_});
  }
  ~Program() { ::close(errFd_); }
  Program(const Program&) = delete;
  Program& operator=(const Program&) = delete;

  std::string Err() const { return ReadFileBytes(errPath_); }
  const std::string& errPath() const { return errPath_; }
  void Signal(int signal) const { child_->Signal(signal); }
  ProcessResult Wait() {
    ProcessResult r = child_->Wait();
    r.err = Err();
    return r;
  }

 private:
  std::string errPath_;
  int errFd_ = -1;
  std::unique_ptr<FlashChild> child_;
};

class ZoltFlashSharedBench : public ZoltFlash {
 protected:
  std::vector<std::string> StationArgs(const std::string& image) {
    return Args(kKeldaNor,
                {"--station", "--poll", "10", "--image1", image, "--block1", "1", "--history", history});
  }
  // Each board's flash file holds `image` at block 1.
  void ExpectBoardsHold(const std::string& image) {
    for (int board : {0, 1}) ExpectFlashHolds(board, image, kBlock);
  }

  std::string history = dir / "history.jsonl";
};

// A station holds every probe it polls. A second station on the same bench state finds none open
// and says so; a normal run finds no board; neither writes a flash or a history line. Once the
// first station ends, the second one, still polling, takes the boards left on the fixtures.
TEST_F(ZoltFlashSharedBench, ASecondStationAndARunFindTheProbesTakenUntilTheFirstLetsGo) {
  const std::string first = PatternBytes(5000, 41);
  const std::string second = PatternBytes(5000, 42);
  const std::string firstImage = dir.Write("first.bin", first);
  const std::string secondImage = dir.Write("second.bin", second);
  const FlashChild::Env env = BenchEnv(KeldaBench(2, "instant"));

  Program a(dir, "a", StationArgs(firstImage), env);
  ASSERT_TRUE(WaitForCount(a.errPath(), " ok in ", 2)) << a.Err();
  ExpectBoardsHold(first);
  const std::string historyOfA = ReadFileBytes(history);
  ASSERT_EQ(Count(historyOfA, "\n"), 4u) << historyOfA;

  Program b(dir, "b", StationArgs(secondImage), env);
  ASSERT_TRUE(WaitForFileText(b.errPath(), kNoProbeNote)) << b.Err();

  const std::string summary = dir / "run.json";
  ProcessResult run = Run(
      Args(kKeldaNor, {"--image1", secondImage, "--block1", "1", "--history", history, "--json", summary}),
      env);
  EXPECT_EQ(run.exitCode, 1) << run.err;
  EXPECT_NE(run.err.find("\nmessage: Cannot Found Valid Device or JTAG ID\n"), std::string::npos) << run.err;
  EXPECT_EQ(run.err.find("Download Complete"), std::string::npos) << run.err;

  ExpectBoardsHold(first);
  EXPECT_EQ(ReadFileBytes(history), historyOfA) << "only the first station wrote lines";
  const std::string bWhileAHeld = b.Err();
  EXPECT_EQ(Count(bWhileAHeld, kNoProbeNote), 1u) << bWhileAHeld;
  EXPECT_EQ(bWhileAHeld.find(" found\n"), std::string::npos) << bWhileAHeld;

  a.Signal(SIGINT);
  ProcessResult ra = a.Wait();
  EXPECT_EQ(ra.exitCode, 0) << ra.err;
  EXPECT_NE(ra.err.find("station: ended: 2 ok, 0 failed\n"), std::string::npos) << ra.err;
  EXPECT_EQ(Count(ra.err, kNoProbeNote), 0u) << ra.err;

  // The boards are still on their fixtures: to the second station they are boards to program.
  ASSERT_TRUE(WaitForCount(b.errPath(), " ok in ", 2)) << b.Err();
  b.Signal(SIGINT);
  ProcessResult rb = b.Wait();
  EXPECT_EQ(rb.exitCode, 0) << rb.err;
  EXPECT_NE(rb.err.find("station: ended: 2 ok, 0 failed\n"), std::string::npos) << rb.err;
  EXPECT_EQ(Count(rb.err, kNoProbeNote), 1u) << "said once: " << rb.err;
  for (int board : {0, 1}) {
    const std::string fixture = "DEVICE #" + std::to_string(board) + " bench:board-" + std::to_string(board);
    EXPECT_EQ(Count(rb.err, fixture + ": board "), 2u) << "found and ok through its own index: " << rb.err;
  }
  ExpectBoardsHold(second);
  const std::string lines = ReadFileBytes(history);
  ASSERT_EQ(Count(lines, "\n"), 8u) << lines;
  EXPECT_EQ(lines.compare(0, historyOfA.size(), historyOfA), 0)
      << "the first station's lines stay as written";
  EXPECT_EQ(Count(lines, "\"result\":\"ok\""), 4u) << lines;
}

// A normal run holds each board's probe from its job's open to its close. A station started
// meanwhile finds none open and programs nothing; the run ends as if alone.
TEST_F(ZoltFlashSharedBench, AStationStartedDuringARunLeavesTheRunsBoardsAlone) {
  // 256 KiB at realistic timing: seconds of programming, so both jobs still hold their probes when
  // the run is held still right after their started lines.
  const std::string first = PatternBytes(256 * 1024, 43);
  const std::string firstImage = dir.Write("first.bin", first);
  const std::string secondImage = dir.Write("second.bin", PatternBytes(5000, 44));
  const FlashChild::Env env = BenchEnv(KeldaBench(2, "realistic"));
  const std::string runHistory = dir / "run.jsonl";

  Program run(dir, "run", Args(kKeldaNor, {"--image1", firstImage, "--block1", "1", "--history", runHistory}),
              env);
  ASSERT_TRUE(WaitForCount(runHistory, "\"event\":\"started\"", 2)) << run.Err();
  run.Signal(SIGSTOP);

  Program station(dir, "station", StationArgs(secondImage), env);
  ASSERT_TRUE(WaitForFileText(station.errPath(), kNoProbeNote)) << station.Err();
  station.Signal(SIGINT);
  ProcessResult rs = station.Wait();
  run.Signal(SIGCONT);
  EXPECT_EQ(rs.exitCode, 0) << rs.err;
  EXPECT_NE(rs.err.find("station: ended: 0 ok, 0 failed\n"), std::string::npos) << rs.err;
  EXPECT_EQ(rs.err.find(" found\n"), std::string::npos) << rs.err;
  EXPECT_EQ(ReadFileBytes(history), "") << "the station recorded no board";

  ProcessResult rr = run.Wait();
  EXPECT_EQ(rr.exitCode, 0) << rr.err;
  EXPECT_NE(rr.err.find("message: Download Complete !\n"), std::string::npos) << rr.err;
  ExpectBoardsHold(first);
  const std::string lines = ReadFileBytes(runHistory);
  EXPECT_EQ(Count(lines, "\n"), 4u) << lines;
  EXPECT_EQ(Count(lines, "\"result\":\"ok\""), 2u) << lines;
}

// A run that programs the first board only (--single) holds probe 0; probe 1 is free. A station
// started meanwhile programs the board on probe 1 through index 1 and, once the run has ended, the
// board left on probe 0 through index 0: a held probe 0 never sends index 0 to the link library's
// libusb 0.1 fall-back, which would take the last probe (probe 1) for index 0 for good, so that the
// station saw the board on probe 1 leave index 1 and arrive at index 0 as a new board.
TEST_F(ZoltFlashSharedBench, AStationBesideARunHoldingProbeZeroServesEachProbeThroughItsOwnIndex) {
  const std::string first = PatternBytes(256 * 1024, 47);
  const std::string firstImage = dir.Write("first.bin", first);
  const std::string second = PatternBytes(5000, 48);
  const std::string secondImage = dir.Write("second.bin", second);
  const FlashChild::Env env = BenchEnv(KeldaBench(2, "realistic"));
  const std::string runHistory = dir / "run.jsonl";

  Program run(dir, "run",
              Args(kKeldaNor, {"--single", "--image1", firstImage, "--block1", "1", "--history", runHistory}),
              env);
  ASSERT_TRUE(WaitForCount(runHistory, "\"event\":\"started\"", 1)) << run.Err();
  run.Signal(SIGSTOP);

  Program station(dir, "station", StationArgs(secondImage), env);
  ASSERT_TRUE(WaitForFileText(station.errPath(), "station: DEVICE #1 bench:board-1: board 1 ok in "))
      << station.Err();
  run.Signal(SIGCONT);
  ProcessResult rr = run.Wait();
  EXPECT_EQ(rr.exitCode, 0) << rr.err;
  EXPECT_NE(rr.err.find("message: Download Complete !\n"), std::string::npos) << rr.err;
  EXPECT_EQ(Count(ReadFileBytes(runHistory), "\"result\":\"ok\""), 1u) << ReadFileBytes(runHistory);

  ASSERT_TRUE(WaitForFileText(station.errPath(), "station: DEVICE #0 bench:board-0: board 2 ok in "))
      << station.Err();
  station.Signal(SIGINT);
  ProcessResult rs = station.Wait();
  EXPECT_EQ(rs.exitCode, 0) << rs.err;
  EXPECT_NE(rs.err.find("station: ended: 2 ok, 0 failed\n"), std::string::npos) << rs.err;
  EXPECT_EQ(Count(rs.err, " found\n"), 2u) << "each board once: " << rs.err;
  EXPECT_EQ(rs.err.find(" removed\n"), std::string::npos) << "no board came off: " << rs.err;
  EXPECT_EQ(Count(ReadFileBytes(history), "\n"), 4u) << ReadFileBytes(history);
  ExpectBoardsHold(second);
}

// Empty fixtures lock nothing on the bench, so a second station polls them too; but the boards
// placed through the control socket are the first station's (the second bench finds the socket
// live and has none), so the second station never takes a board and writes no line.
TEST_F(ZoltFlashSharedBench, BoardsPlacedThroughTheFirstStationsControlAreOnlyItsOwn) {
  const std::string first = PatternBytes(5000, 45);
  const std::string firstImage = dir.Write("first.bin", first);
  const std::string secondImage = dir.Write("second.bin", PatternBytes(5000, 46));
  std::string toml = "[bench]\ntiming = \"instant\"\n";
  for (const char* name : {"f0", "f1"})
    toml += std::string("\n[[probe]]\nname = \"") + name +
            "\"\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nboard = false\n";
  FlashChild::Env env = BenchEnv(toml);
  env["PROBESIM_CONTROL"] = dir / "control";
  BenchControl control(dir / "control");
  auto send = [&](const std::string& command) {
    std::string reply = control.Send(command);
    for (int tries = 0; reply.rfind("(no reply: connect ", 0) == 0 && tries < 6000; ++tries) {
      ::usleep(10000);  // the first station's bench is not listening yet
      reply = control.Send(command);
    }
    return reply;
  };

  Program a(dir, "a", StationArgs(firstImage), env);
  ASSERT_EQ(send("attach f0"), "ok");
  ASSERT_TRUE(WaitForFileText(a.errPath(), "station: DEVICE #0 bench:f0: board 1 ok in ")) << a.Err();
  FlashChild::Env second = env;
  second["VORLINK_TRACE"] = dir / "b.trace";
  Program b(dir, "b", StationArgs(secondImage), second);
  ASSERT_TRUE(WaitForFileText(dir / "b.trace", "another process listens on it"));
  ASSERT_EQ(send("attach f1"), "ok");
  ASSERT_TRUE(WaitForFileText(a.errPath(), "station: DEVICE #1 bench:f1: board 2 ok in ")) << a.Err();

  a.Signal(SIGINT);
  b.Signal(SIGINT);
  ProcessResult ra = a.Wait();
  ProcessResult rb = b.Wait();
  EXPECT_EQ(ra.exitCode, 0) << ra.err;
  EXPECT_NE(ra.err.find("station: ended: 2 ok, 0 failed\n"), std::string::npos) << ra.err;
  EXPECT_EQ(rb.exitCode, 0) << rb.err;
  EXPECT_NE(rb.err.find("station: ended: 0 ok, 0 failed\n"), std::string::npos) << rb.err;
  EXPECT_EQ(rb.err.find(" found\n"), std::string::npos) << rb.err;
  for (const char* board : {"f0-1.bin", "f1-1.bin"}) {
    const std::string flash = ReadFileBytes(dir / (std::string("state/") + board));
    ASSERT_GE(flash.size(), kBlock + first.size()) << board;
    EXPECT_EQ(flash.compare(kBlock, first.size(), first), 0) << board << " does not hold the first image";
  }
  const std::string lines = ReadFileBytes(history);
  EXPECT_EQ(Count(lines, "\n"), 4u) << lines;
  EXPECT_EQ(Count(lines, "\"path\":\"" + firstImage + "\""), 4u) << lines;
}

}  // namespace
}  // namespace zolt::cli::testing
