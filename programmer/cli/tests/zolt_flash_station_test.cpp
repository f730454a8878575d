// SPDX-License-Identifier: MIT
// zolt-flash --station end to end: the real program on a bench of empty fixtures, boards placed
// and taken off through PROBESIM_CONTROL while it runs, the three stop signals, SIGKILL mid-board,
// histories that cannot take the lines, and a link library with only the four entry points.
// Every wait is for a line the station writes (stderr or history), with a hang guard.
#include <fcntl.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstring>
#include <filesystem>
#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>

#include "history_lines.h"
#include "testing/bench_control.h"
#include "testing/text_count.h"
#include "zolt_flash_fixture.h"

namespace zolt::cli::testing {
namespace {

using nlohmann::json;
using ::zolt::testing::BenchControl;
using ::zolt::testing::ChildStreams;

constexpr size_t kBlock = 0x10000;  // EN29LV040A erase block; --block1 1 places the image here

// `fixtures` empty KELDA fixtures f0, f1, ... (EN29LV040A).
std::string StationBench(int fixtures, const std::string& timing) {
  std::string toml = "[bench]\ntiming = \"" + timing + "\"\nusb_latency_us = 250\n";
  for (int i = 0; i < fixtures; ++i) {
    toml += "\n[[probe]]\nname = \"f" + std::to_string(i) +
            "\"\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\nboard = false\n";
  }
  return toml;
}

using ::zolt::testing::Count;

// A running station: zolt-flash --station as a child, its stderr in a file of the test's folder
// (so the test can wait for its lines), the bench's control socket.
class ZoltFlashStation : public ZoltFlash {
 protected:
  FlashChild::Env StationEnv(int fixtures, const std::string& timing) {
    FlashChild::Env env = BenchEnv(StationBench(fixtures, timing));
    env["PROBESIM_CONTROL"] = dir / "control";
    return env;
  }

  // Starts the station; `more` after the image and the history.
  void Start(const FlashChild::Env& env, const std::vector<std::string>& more,
             const std::string& program = FlashProgram(), std::vector<std::string> prefix = {}) {
    errPath = dir / ("station.err." + std::to_string(++runs));
    errFd = ::open(errPath.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    ASSERT_GE(errFd, 0);
    std::vector<std::string> args =
        Args(Args(std::move(prefix), kKeldaNor),
             {"--station", "--poll", "10", "--image1", imagePath, "--block1", "1"});
    if (!history.empty()) args = Args(args, {"--history", history});
    args = Args(args, more);
    const std::string exe = prefixProgram.empty() ? program : prefixProgram;
    child = std::make_unique<FlashChild>(exe, args, env, dir.path(), ChildStreams{-1, errFd});
    control = std::make_unique<BenchControl>(dir / "control");
  }

  ProcessResult Wait() {
    ProcessResult r = child->Wait();
    r.err = Err();
    ::close(errFd);
    errFd = -1;
    return r;
  }

  std::string Err() const { return ReadFileBytes(errPath); }

  // Waits for `text` on the station's stderr (a hang guard, not a timing).
  void WaitForErr(const std::string& text) {
    ASSERT_TRUE(WaitForFileText(errPath, text)) << "no '" << text << "' in:\n" << Err();
  }

  // Sends a bench command; the first one waits for the bench to listen (it starts with the
  // station's first use of libVorlink.so).
  void Send(const std::string& command) {
    std::string reply = control->Send(command);
    for (int tries = 0; reply.rfind("(no reply: connect ", 0) == 0 && tries < 6000; ++tries) {
      ::usleep(10000);
      reply = control->Send(command);
    }
    ASSERT_EQ(reply, "ok") << command;
  }

  // The flash file of the `serial`-th board placed on fixture `fixture` holds the image at block 1.
  void ExpectBoardHolds(int fixture, int serial, const std::string& image) {
    const std::string name = "f" + std::to_string(fixture) + "-" + std::to_string(serial) + ".bin";
    const std::string flash = ReadFileBytes(dir / ("state/" + name));
    ASSERT_GE(flash.size(), kBlock + image.size()) << name;
    EXPECT_TRUE(flash.compare(kBlock, image.size(), image) == 0) << name << " does not hold the image";
  }

  // Nothing was programmed onto the board: its flash is erased (or was never made).
  void ExpectBoardErased(int fixture, int serial) {
    const std::string name = "f" + std::to_string(fixture) + "-" + std::to_string(serial) + ".bin";
    const std::string flash = ReadFileBytes(dir / ("state/" + name));
    EXPECT_EQ(flash.find_first_not_of('\xff'), std::string::npos) << name << " was programmed";
  }

  void TearDown() override {
    if (errFd >= 0) ::close(errFd);
  }

  std::string image;
  std::string imagePath;
  std::string history;
  std::string prefixProgram;  // run through another program (/bin/sh) instead
  std::string errPath;
  int errFd = -1;
  int runs = 0;
  std::unique_ptr<FlashChild> child;
  std::unique_ptr<BenchControl> control;
};

// Boards come and go at different moments on three of four fixtures, one fixture takes a second
// board: each is found, programmed once and ok, the header is logged once, and --boards ends it.
TEST_F(ZoltFlashStation, BoardsPlacedAndRemovedAreEachProgrammedOnce) {
  image = PatternBytes(5000, 21);
  imagePath = dir.Write("image.bin", image);
  history = dir / "history.jsonl";
  ASSERT_NO_FATAL_FAILURE(Start(StationEnv(4, "instant"), {"--boards", "4"}));

  ASSERT_NO_FATAL_FAILURE(Send("attach f0"));
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #0 bench:f0: board 1 ok in "));
  ASSERT_NO_FATAL_FAILURE(Send("attach f2"));
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #2 bench:f2: board 2 found\n"));
  ASSERT_NO_FATAL_FAILURE(Send("attach f1"));
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #1 bench:f1: board 3 found\n"));
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #2 bench:f2: board 2 ok in "));
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #1 bench:f1: board 3 ok in "));
  // The first board comes off; the next one on its fixture is a new board, programmed afresh.
  ASSERT_NO_FATAL_FAILURE(Send("detach f0"));
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #0 bench:f0: board 1 removed\n"));
  ASSERT_NO_FATAL_FAILURE(Send("attach f0"));
  ProcessResult r = Wait();
  EXPECT_EQ(r.exitCode, 0) << r.err;

  // stderr: each board found and ok once, the first removed, the end.
  const std::map<uint64_t, std::string> boards = {{1, "DEVICE #0 bench:f0"},
                                                  {2, "DEVICE #2 bench:f2"},
                                                  {3, "DEVICE #1 bench:f1"},
                                                  {4, "DEVICE #0 bench:f0"}};
  for (const auto& [sequence, fixture] : boards) {
    const std::string head = "station: " + fixture + ": board " + std::to_string(sequence) + " ";
    EXPECT_EQ(Count(r.err, head + "found\n"), 1u) << head << "\n" << r.err;
    EXPECT_EQ(Count(r.err, head + "ok in "), 1u) << head << "\n" << r.err;
  }
  EXPECT_EQ(Count(r.err, " found\n"), 4u) << r.err;
  EXPECT_EQ(Count(r.err, " removed\n"), 1u) << r.err;
  EXPECT_EQ(Count(r.err, "failed"), 1u) << "only the end line's count: " << r.err;
  EXPECT_NE(r.err.find("station: ended: 4 ok, 0 failed\n"), std::string::npos) << r.err;

  // stdout: the header once, then each board's job lines.
  EXPECT_EQ(r.out.rfind("[Download to NOR FLASH]\r\n", 0), 0u) << r.out;
  for (const char* header : {"[Download to NOR FLASH]", "NOR FLASH SETTING", "  NAME: EN29LV040A\r\n",
                             "  JTAG ID: 0x00AECADD\r\n"}) {
    EXPECT_EQ(Count(r.out, header), 1u) << header << "\n" << r.out;
  }
  for (int device : {0, 1, 2}) {
    SCOPED_TRACE(device);
    const std::string head = "  DEVICE #" + std::to_string(device) + ": ";
    const size_t boardsOn = device == 0 ? 2 : 1;
    EXPECT_EQ(Count(r.out, head + "Maker ID(0x001C) Device ID(0x004F)\r\n"), boardsOn) << r.out;
    EXPECT_EQ(Count(r.out, head + "Downloading to sector #1 (image.bin)\r\n"), boardsOn) << r.out;
    EXPECT_EQ(Count(r.out, head + "Downloading done."), boardsOn) << r.out;
  }
  EXPECT_EQ(r.out.find("DEVICE #3"), std::string::npos) << r.out;

  // The history: a started and an ended line per board, matching.
  const auto lines = HistoryLines(history);
  ASSERT_EQ(lines.size(), 8u);
  std::map<uint64_t, json> started, ended;
  for (const json& line : lines) {
    auto& into = line["event"] == "started" ? started : ended;
    const uint64_t sequence = line["sequence"].get<uint64_t>();
    EXPECT_EQ(into.count(sequence), 0u) << line;
    if (line["event"] == "ended") {
      EXPECT_EQ(started.count(sequence), 1u) << "ended before started";
    }
    into[sequence] = line;
  }
  for (const auto& [sequence, fixture] : boards) {
    SCOPED_TRACE(sequence);
    ASSERT_EQ(started.count(sequence), 1u);
    ASSERT_EQ(ended.count(sequence), 1u);
    const json& s = started[sequence];
    const json& e = ended[sequence];
    const std::string location = fixture.substr(fixture.find(' ', 7) + 1);
    EXPECT_EQ(s["location"], location);
    EXPECT_EQ(e["location"], location);
    EXPECT_EQ(e["device"], s["device"]);
    EXPECT_EQ(e["started"], s["started"]);
    EXPECT_TRUE(s["result"].is_null());
    EXPECT_EQ(e["result"], "ok");
    ASSERT_EQ(s["images"].size(), 1u);
    ASSERT_EQ(e["images"].size(), 1u);
    EXPECT_EQ(s["images"][0]["path"], imagePath);
    EXPECT_EQ(s["images"][0]["size"], image.size());
    EXPECT_TRUE(s["images"][0]["crc32"].is_null());
    EXPECT_EQ(e["images"][0]["place"], "block 1, offset 0x00000000");
    EXPECT_EQ(e["images"][0]["crc32"], Hex8(Crc32(image)));
    EXPECT_EQ(e["images"][0]["sentBytes"], image.size());
    EXPECT_EQ(e["images"][0]["ok"], true);
  }
  ExpectBoardHolds(0, 1, image);
  ExpectBoardHolds(0, 2, image);
  ExpectBoardHolds(1, 1, image);
  ExpectBoardHolds(2, 1, image);
  EXPECT_FALSE(std::filesystem::exists(dir / "state/f3-1.bin")) << "no board was placed on f3";
}

// The first stop signal lets the board in progress finish; the second stops it through the probe;
// the third ends the program at once.
TEST_F(ZoltFlashStation, StopSignalsFinishThenStopThenEnd) {
  // 256 KiB at realistic timing: some seconds of erasing and programming, so every signal falls
  // while the board is still in progress (each is sent once the line before it was seen).
  image = PatternBytes(256 * 1024, 22);
  imagePath = dir.Write("image.bin", image);
  struct Case {
    int first;
    int signals;
  };
  const Case cases[] = {{SIGINT, 1}, {SIGTERM, 1}, {SIGHUP, 1}, {SIGTERM, 2}, {SIGHUP, 3}};
  for (const Case& c : cases) {
    SCOPED_TRACE(std::string(strsignal(c.first)) + ", " + std::to_string(c.signals) + " signal(s)");
    history = dir / ("history." + std::to_string(runs + 1) + ".jsonl");
    std::filesystem::remove_all(dir / "state");
    ASSERT_NO_FATAL_FAILURE(Start(StationEnv(2, "realistic"), {}));
    ASSERT_NO_FATAL_FAILURE(Send("attach f1"));
    ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #1 bench:f1: board 1 found\n"));
    child->Signal(c.first);
    ASSERT_NO_FATAL_FAILURE(WaitForErr("station: stopping: no new boards; boards in progress finish\n"));
    if (c.signals == 2) {
      child->Signal(SIGINT);
      ASSERT_NO_FATAL_FAILURE(WaitForErr("station: stopping the boards in progress\n"));
    } else if (c.signals == 3) {
      // Back to back, so the third comes while the stopped board is still winding down.
      child->Signal(SIGINT);
      child->Signal(SIGTERM);
    }
    ProcessResult r = Wait();
    const auto lines = HistoryLines(history);
    switch (c.signals) {
      case 1:
        EXPECT_EQ(r.exitCode, 0) << r.err;
        EXPECT_NE(r.err.find("station: DEVICE #1 bench:f1: board 1 ok in "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("station: ended: 1 ok, 0 failed\n"), std::string::npos) << r.err;
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1]["result"], "ok");
        ExpectBoardHolds(1, 1, image);
        break;
      case 2:
        EXPECT_EQ(r.exitCode, 1) << r.err;
        EXPECT_NE(r.err.find("station: DEVICE #1 bench:f1: board 1 stopped in "), std::string::npos) << r.err;
        EXPECT_NE(r.err.find("station: ended: 0 ok, 1 failed\n"), std::string::npos) << r.err;
        ASSERT_EQ(lines.size(), 2u);
        EXPECT_EQ(lines[1]["event"], "ended");
        EXPECT_EQ(lines[1]["result"], "stopped");
        EXPECT_EQ(lines[1]["images"][0]["ok"], false);
        break;
      default:
        EXPECT_EQ(r.exitCode, 130) << r.err;
        EXPECT_NE(r.err.find("station: interrupted\n"), std::string::npos) << r.err;
        EXPECT_EQ(r.err.find("station: ended"), std::string::npos) << r.err;
#if !defined(__SANITIZE_THREAD__)
        // Under ThreadSanitizer _exit runs the sanitizer's own finish first, while the other
        // threads go on for a moment and may still write the board's ended line.
        ASSERT_EQ(lines.size(), 1u) << "the board never ended";
#endif
        ASSERT_GE(lines.size(), 1u);
        EXPECT_EQ(lines[0]["event"], "started");
    }
    // A signal is never a board's end on another fixture: f0 got nothing.
    EXPECT_EQ(r.err.find("bench:f0"), std::string::npos) << r.err;
  }
}

// SIGKILL mid-board: the board's started line stands alone, and the history holds whole lines.
TEST_F(ZoltFlashStation, KilledMidBoardLeavesAStartedLineWithoutItsEnd) {
  image = PatternBytes(256 * 1024, 23);
  imagePath = dir.Write("image.bin", image);
  history = dir / "history.jsonl";
  ASSERT_NO_FATAL_FAILURE(Start(StationEnv(2, "realistic"), {}));
  ASSERT_NO_FATAL_FAILURE(Send("attach f0"));
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #0 bench:f0: board 1 found\n"));
  child->Signal(SIGKILL);
  ProcessResult r = Wait();
  EXPECT_EQ(r.exitCode, 128 + SIGKILL);
  const std::string text = ReadFileBytes(history);
  ASSERT_FALSE(text.empty());
  EXPECT_EQ(text.back(), '\n') << "a whole line";
  const auto lines = HistoryLines(history);
  ASSERT_EQ(lines.size(), 1u) << text;
  EXPECT_EQ(lines[0]["event"], "started");
  EXPECT_EQ(lines[0]["sequence"], 1);
  EXPECT_EQ(lines[0]["location"], "bench:f0");
  EXPECT_TRUE(lines[0]["result"].is_null());
}

// A history that can take no line is refused before any fixture is polled.
TEST_F(ZoltFlashStation, AHistoryThatCannotTakeLinesIsRefusedBeforeAnyPoll) {
  image = PatternBytes(3000, 24);
  imagePath = dir.Write("image.bin", image);
  const std::string fifo = dir / "history.fifo";
  ASSERT_EQ(::mkfifo(fifo.c_str(), 0600), 0);
  std::filesystem::create_directories(dir / "folder");
  struct Case {
    std::string path;
    const char* cause;
  };
  for (const Case& c : {Case{fifo, "a FIFO keeps nothing"}, Case{dir / "folder", "Is a directory"}}) {
    SCOPED_TRACE(c.path);
    std::filesystem::remove(dir / "probe.log");
    ProcessResult r = Run(Args(kKeldaNor, {"--station", "--image1", imagePath, "--history", c.path}),
                          BenchEnv(StationBench(1, "instant")));
    EXPECT_EQ(r.exitCode, 2) << r.err;
    EXPECT_NE(r.err.find(c.cause), std::string::npos) << r.err;
    EXPECT_EQ(r.err.find("station:"), std::string::npos) << r.err;
    EXPECT_EQ(r.out, "");
    EXPECT_EQ(ReadFileBytes(dir / "probe.log"), "") << "no probe saw a command";
  }
}

// The history stops taking lines while a board is programming (the file size limit, as a full
// disk would): the station takes no new board, the board in progress finishes, the status is 1.
TEST_F(ZoltFlashStation, AHistoryThatFailsMidRunStopsAcceptingBoards) {
  image = PatternBytes(256 * 1024, 25);
  imagePath = dir.Write("image.bin", image);

  // The started line of board 1 on f0, as this test's station writes it.
  history = dir / "measure.jsonl";
  ASSERT_NO_FATAL_FAILURE(Start(StationEnv(2, "instant"), {"--boards", "1"}));
  ASSERT_NO_FATAL_FAILURE(Send("attach f0"));
  ASSERT_EQ(Wait().exitCode, 0);
  const std::string measured = ReadFileBytes(history);
  ASSERT_EQ(Count(measured, "\n"), 2u) << measured;
  const size_t startedLine = measured.find('\n') + 1;
  const size_t endedLine = measured.size() - startedLine;
  ASSERT_LT(startedLine + 16, endedLine) << "the ended line is the longer";

  // Earlier lines up to just below the limit: board 1's started line fits, nothing after it.
  constexpr size_t kLimit = 2 * 1024 * 1024;  // beyond the boards' 512 KiB flash files
  std::string earlier;
  const std::string line = "{\"event\":\"ended\",\"sequence\":0,\"note\":\"earlier\"}\n";
  const size_t fill = kLimit - startedLine - 8;
  while (earlier.size() + line.size() <= fill) earlier += line;
  earlier.append(fill - earlier.size() - 1, ' ');
  earlier += "\n";
  history = dir.Write("history.jsonl", earlier);

  std::filesystem::remove_all(dir / "state");
  prefixProgram = "/usr/bin/prlimit";
  ASSERT_NO_FATAL_FAILURE(Start(StationEnv(3, "realistic"), {}, FlashProgram(),
                                {"--fsize=" + std::to_string(kLimit), "--", FlashProgram()}));
  ASSERT_NO_FATAL_FAILURE(Send("attach f0"));
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: DEVICE #0 bench:f0: board 1 found\n"));
  ASSERT_NO_FATAL_FAILURE(
      Send("attach f1"));  // its started line cannot be written: not programmed, no new board
  ASSERT_NO_FATAL_FAILURE(WaitForErr("station: history: " + history + ": only 8 of "));
  ASSERT_NO_FATAL_FAILURE(Send("attach f2"));  // placed after the failure
  ProcessResult r = Wait();
  EXPECT_EQ(r.exitCode, 1) << r.err;
  EXPECT_EQ(Count(r.err, "station: history: "), 1u) << "said once: " << r.err;
  EXPECT_NE(r.err.find("station: DEVICE #0 bench:f0: board 1 ok in "), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("bench:f1: board"), std::string::npos) << r.err;
  EXPECT_EQ(r.err.find("bench:f2"), std::string::npos) << r.err;
  ExpectBoardHolds(0, 1, image);
  ExpectBoardErased(1, 1);
  ExpectBoardErased(2, 1);
  const std::string text = ReadFileBytes(history);
  ASSERT_EQ(text.size(), earlier.size() + startedLine) << "board 1's started line, no part of another";
  EXPECT_EQ(text.compare(0, earlier.size(), earlier), 0);
}

// A link library without DeviceLocation: the station programs the boards, the location is
// "unknown", and nothing else differs from a run with the real library.
TEST_F(ZoltFlashStation, ALibraryWithOnlyTheFourExportsGivesUnknownLocations) {
  image = PatternBytes(5000, 26);
  imagePath = dir.Write("image.bin", image);
  const std::string copy = dir / "four";
  std::filesystem::create_directories(copy);
  std::filesystem::copy_file(FlashProgram(), copy + "/zolt-flash");
  std::filesystem::copy_file(ZOLT_FOUR_EXPORTS_LINK, copy + "/libVorlink.so");

  std::map<std::string, ProcessResult> results;
  for (const std::string& program : {FlashProgram(), copy + "/zolt-flash"}) {
    SCOPED_TRACE(program);
    history = dir / ("history." + std::to_string(runs + 1) + ".jsonl");
    std::filesystem::remove_all(dir / "state");
    ASSERT_NO_FATAL_FAILURE(Start(StationEnv(2, "instant"), {"--boards", "2"}, program));
    ASSERT_NO_FATAL_FAILURE(Send("attach f0"));
    ASSERT_NO_FATAL_FAILURE(WaitForErr(": board 1 ok in "));
    ASSERT_NO_FATAL_FAILURE(Send("attach f1"));
    ProcessResult r = Wait();
    EXPECT_EQ(r.exitCode, 0) << r.err;
    ExpectBoardHolds(0, 1, image);
    ExpectBoardHolds(1, 1, image);
    const auto lines = HistoryLines(history);
    ASSERT_EQ(lines.size(), 4u);
    const bool four = program != FlashProgram();
    for (const json& line : lines) {
      EXPECT_EQ(line["location"].get<std::string>().rfind(four ? "unknown" : "bench:f", 0), 0u) << line;
      if (line["event"] == "ended") {
        EXPECT_EQ(line["result"], "ok");
      }
    }
    results[four ? "four" : "real"] = r;
  }
  const ProcessResult& real = results["real"];
  const ProcessResult& four = results["four"];
  EXPECT_EQ(Count(four.err, "station: DEVICE #0 unknown: board 1 "), 2u) << four.err;
  EXPECT_EQ(Count(four.err, "station: DEVICE #1 unknown: board 2 "), 2u) << four.err;
  EXPECT_EQ(four.err.find("DeviceLocation"), std::string::npos) << four.err;
  EXPECT_EQ(four.out, real.out) << "the same log";
  // The same stderr lines, but for the locations and the board times.
  auto lineCount = [](const std::string& text) { return Count(text, "\n"); };
  EXPECT_EQ(lineCount(four.err), lineCount(real.err)) << "real:\n" << real.err << "four:\n" << four.err;
  EXPECT_EQ(Count(four.err, "message:"), Count(real.err, "message:"));
}

}  // namespace
}  // namespace zolt::cli::testing
