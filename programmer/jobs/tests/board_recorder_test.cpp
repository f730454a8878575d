// SPDX-License-Identifier: MIT
// The board records of a normal run, built from the jobs' observer calls and passed on.
#include "jobs/board_recorder.h"

#include <gtest/gtest.h>

#include <vector>

namespace zolt {
namespace {

class ManualClock final : public TickClock {
 public:
  uint32_t NowMs() const override { return now; }
  uint32_t now = 0;
};

// Keeps the lines it was given; fails those whose sequence is in `failing`.
class MemoryHistory final : public BoardHistory {
 public:
  bool Append(const BoardRecord& record, bool ended, std::string* error) override {
    if (std::find(failing.begin(), failing.end(), record.sequence) != failing.end()) {
      *error = "history.jsonl: No space left on device";
      return false;
    }
    lines.push_back({record, ended});
    return true;
  }
  struct Line {
    BoardRecord record;
    bool ended;
  };
  std::vector<Line> lines;
  std::vector<uint64_t> failing;
};

// Counts what is passed on, to show the summary sees the very same calls.
class CountingObserver final : public RunObserver {
 public:
  void OnJobStarted(int) override { calls.push_back("started"); }
  void OnProbeOpened(int, const std::string& location) override { calls.push_back("opened " + location); }
  void OnFlashIdentified(int, uint16_t, uint16_t, const std::string& part) override {
    calls.push_back("flash " + part);
  }
  void OnFileEnded(int, int file, const std::string&, uint64_t, uint64_t sent, double, uint32_t,
                   bool ok) override {
    calls.push_back("file " + std::to_string(file) + " " + std::to_string(sent) + (ok ? " ok" : " not ok"));
  }
  void OnJobEnded(int, bool failed, const std::string& text) override {
    calls.push_back(std::string(failed ? "failed " : "ended ") + text);
  }
  void OnPinApplyFailed() override { calls.push_back("pin"); }
  std::vector<std::string> calls;
};

RunRequest NorRequest() {
  RunRequest request;
  request.productIndex = 1;  // KELDA
  request.flashType = FlashType::kNor;
  request.offsetText = "0x10000";
  request.images[0] = {true, "/img/one.bin", "1"};
  request.images[2] = {true, "/img/three.bin", "4"};
  return request;
}

TEST(BoardRecorder, RecordsEachBoardAndPassesEveryCallOn) {
  ManualClock clock;
  MemoryHistory history;
  CountingObserver next;
  int wall = 0;
  BoardRecorderOptions options;
  options.next = &next;
  options.history = &history;
  options.version = "2.0.0";
  options.host = "line-3";
  options.clock = &clock;
  options.wallClock = [&wall] {
    return std::chrono::system_clock::time_point(std::chrono::milliseconds(1796935267000 + 1000 * wall++));
  };
  BoardRecorder recorder(NorRequest(), options);

  clock.now = 4294967000u;  // the tick counter wraps during the board
  recorder.OnJobStarted(5);
  recorder.OnProbeOpened(5, "bench:b5");
  recorder.OnFlashIdentified(5, 0x1C, 0x4F, "EN29LV040A");
  recorder.OnFileEnded(5, 0, "/img/one.bin", 100, 100, 0.5, 0xCAFE, true);
  recorder.OnFileEnded(5, 2, "/img/three.bin", 300, 300, 0.9, 0xBEEF, true);
  clock.now = 1204;  // 1.5 s after the start
  recorder.OnJobEnded(5, false, "");
  recorder.OnPinApplyFailed();

  EXPECT_EQ(next.calls, (std::vector<std::string>{"started", "opened bench:b5", "flash EN29LV040A",
                                                  "file 0 100 ok", "file 2 300 ok", "ended ", "pin"}));
  ASSERT_EQ(history.lines.size(), 2u);
  const BoardRecord& started = history.lines[0].record;
  EXPECT_FALSE(history.lines[0].ended);
  EXPECT_EQ(started.location, "bench:b5") << "the started line waits for the probe's location";
  EXPECT_TRUE(started.images.empty());
  EXPECT_EQ(started.result, "");

  ASSERT_TRUE(history.lines[1].ended);
  const BoardRecord& r = history.lines[1].record;
  EXPECT_EQ(r.sequence, 1u);
  EXPECT_EQ(r.startedUtc, "2026-12-10T20:41:07.000Z");
  EXPECT_EQ(r.endedUtc, "2026-12-10T20:41:08.000Z");
  EXPECT_EQ(r.device, 5);
  EXPECT_EQ(r.product, "KELDA");
  EXPECT_EQ(r.jtagId, 0x00AECADDu);
  EXPECT_EQ(r.makerId, 0x1C);
  EXPECT_EQ(r.deviceId, 0x4F);
  EXPECT_EQ(r.flashPart, "EN29LV040A");
  ASSERT_EQ(r.images.size(), 2u);
  EXPECT_EQ(r.images[0].place, "block 1, offset 0x00010000");
  EXPECT_EQ(r.images[1].slot, 2);
  EXPECT_EQ(r.images[1].place, "block 4, offset 0x00010000");
  EXPECT_EQ(r.images[1].crc32, 0xBEEFu);
  EXPECT_EQ(r.bytesSent, 400u);
  EXPECT_DOUBLE_EQ(r.seconds, 1.5);
  EXPECT_EQ(r.result, "ok");
  EXPECT_TRUE(r.failureTexts.empty());
  EXPECT_EQ(r.version, "2.0.0");
  EXPECT_EQ(r.host, "line-3");
  EXPECT_EQ(recorder.OkBoards(), 1);
}

TEST(BoardRecorder, ResultOfEachEnding) {
  struct Case {
    const char* name;
    std::vector<bool> filesOk;
    bool failed;
    const char* failureText;
    const char* result;
  };
  const Case cases[] = {
      {"all files done", {true, true}, false, "", "ok"},
      {"a file cut short by a stop", {true, false}, false, "", "stopped"},
      {"a failed job", {true, false}, true, "WRITE ERROR", "failed"},
      {"failed before any file", {}, true, "  DEVICE #0: Cannot open\r\n", "failed"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    MemoryHistory history;
    BoardRecorderOptions options;
    options.history = &history;
    BoardRecorder recorder(NorRequest(), options);
    recorder.OnJobStarted(0);
    for (size_t f = 0; f < c.filesOk.size(); ++f)
      recorder.OnFileEnded(0, static_cast<int>(f), "/img", 10, 10, 0, 0, c.filesOk[f]);
    recorder.OnJobEnded(0, c.failed, c.failureText);
    // No OnProbeOpened: the started line still comes, before the ended one.
    ASSERT_EQ(history.lines.size(), 2u);
    EXPECT_FALSE(history.lines[0].ended);
    EXPECT_EQ(history.lines[0].record.location, "unknown");
    EXPECT_EQ(history.lines[0].record.result, "");
    EXPECT_EQ(history.lines[1].record.result, c.result);
    if (*c.failureText != '\0') {
      EXPECT_EQ(history.lines[1].record.failureTexts, std::vector<std::string>{c.failureText});
    }
  }
}

TEST(BoardRecorder, AHistoryFailureIsReportedOnceAndLaterLinesAreStillWritten) {
  MemoryHistory history;
  history.failing = {1};  // board 1's lines cannot be written
  std::vector<std::string> reported;
  BoardRecorderOptions options;
  options.history = &history;
  options.onHistoryError = [&reported](const std::string& error) { reported.push_back(error); };
  RunRequest nand = NorRequest();
  nand.flashType = FlashType::kNand;
  BoardRecorder recorder(nand, options);
  for (int device : {3, 1}) {
    recorder.OnJobStarted(device);
    recorder.OnProbeOpened(device, "usb:1-" + std::to_string(device));
  }
  recorder.OnFileEnded(3, 0, "/img/one.bin", 10, 10, 0, 0, true);
  for (int device : {1, 3}) recorder.OnJobEnded(device, false, "");

  EXPECT_EQ(reported, std::vector<std::string>{"history.jsonl: No space left on device"});
  EXPECT_EQ(recorder.HistoryError(), "history.jsonl: No space left on device");
  ASSERT_EQ(history.lines.size(), 2u) << "board 2 (device 1) is still recorded";
  EXPECT_EQ(history.lines[0].record.device, 1);
  EXPECT_EQ(history.lines[1].record.device, 1);
  const auto records = recorder.Records();
  ASSERT_EQ(records.size(), 2u);
  EXPECT_EQ(records[0].device, 3) << "in the order the jobs started";
  EXPECT_EQ(records[0].images[0].place, "block 1") << "NAND places by block only";
  EXPECT_EQ(records[1].sequence, 2u);
  EXPECT_EQ(recorder.OkBoards(), 2);
}

}  // namespace
}  // namespace zolt
