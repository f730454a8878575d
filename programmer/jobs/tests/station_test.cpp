// SPDX-License-Identifier: MIT
// The station end to end through the real libVorlink.so on bench files: which boards it programs,
// how often, what it records, and how it stops. Each test runs in a process of its own (the
// library reads its bench once).
#include "jobs/station.h"

#include <map>
#include <mutex>

#include "job_fixture.h"
#include "testing/bench_control.h"
#include "testing/bench_files.h"

namespace zolt::testing {
namespace {

class RecordingStationView final : public StationView {
 public:
  void ShowFixture(const FixtureStatus& status) override {
    std::lock_guard lock(mu);
    states[status.device].push_back(status.state);
  }
  void BoardStarted(const BoardRecord& record) override {
    std::lock_guard lock(mu);
    started.push_back(record);
  }
  void BoardEnded(const BoardRecord& record) override {
    std::lock_guard lock(mu);
    ended.push_back(record);
  }
  void ShowFixtureMessage(int device, std::string_view text) override {
    std::lock_guard lock(mu);
    messages[device].emplace_back(text);
  }
  void StationNote(std::string_view text) override {
    std::lock_guard lock(mu);
    notes.emplace_back(text);
  }
  size_t EndedCount() {
    std::lock_guard lock(mu);
    return ended.size();
  }
  std::mutex mu;
  std::map<int, std::vector<FixtureState>> states;
  std::vector<BoardRecord> started, ended;
  std::map<int, std::vector<std::string>> messages;
  std::vector<std::string> notes;
};

// Keeps every line; the `failAt`-th Append (1-based) and all after it fail.
class MemoryHistory final : public BoardHistory {
 public:
  bool Append(const BoardRecord& record, bool ended, std::string* error) override {
    std::lock_guard lock(mu);
    if (failAt != 0 && ++appends >= failAt) {
      *error = "history.jsonl: No space left on device";
      return false;
    }
    lines.emplace_back(record.sequence, ended);
    return true;
  }
  std::mutex mu;
  int failAt = 0, appends = 0;
  std::vector<std::pair<uint64_t, bool>> lines;
};

class StationTest : public ::testing::Test {
 protected:
  void UseBench(const std::string& toml) {
    files.Use(toml, kWithControl);
    control = files.ControlPath();
    options.libraryName = VORLINK_PATH;
    options.pollMs = 5;
    options.history = &history;
    options.version = "2.0.0";
    options.host = "test-host";
  }
  RunRequest KeldaNor(const std::string& image) {
    SelectKeldaNor(op, image);
    return op.Request();
  }
  size_t EndedOn(int device) {
    std::lock_guard lock(view.mu);
    return static_cast<size_t>(std::count_if(view.ended.begin(), view.ended.end(),
                                             [&](const BoardRecord& r) { return r.device == device; }));
  }
  bool Shows(Station& station, int device, FixtureState state) {
    return WaitUntil([&] { return station.Fixture(device).state == state; });
  }

  ScratchDir dir{"zolt-station"};
  BenchFiles files{dir};
  std::string control;
  TestOperator op;
  RecordingStationView view;
  MemoryHistory history;
  StationOptions options;
};

const std::string kThreeKeldasAndAnOko =
    BenchToml({BenchProbe(), BenchProbe("OKO"), BenchProbe(), BenchProbe()});

TEST_F(StationTest, EveryBoardOnIsProgrammedOnceAndRecordedWhole) {
  UseBench(kThreeKeldasAndAnOko);
  const std::string image = ImageFile(dir, "app.bin", 3000, 9);
  Station station(op, view, options);
  ASSERT_TRUE(station.Start(KeldaNor(image)));
  ASSERT_TRUE(WaitUntil([&] { return view.EndedCount() == 3; }));
  // Boards that stay on are watched, not programmed again.
  for (int p : {0, 2, 3}) {
    ASSERT_TRUE(Shows(station, p, FixtureState::kOk));
  }
  const std::string logBefore = op.Log();
  std::this_thread::sleep_for(std::chrono::milliseconds(100));  // twenty polls more
  station.StopAccepting();
  station.Wait();
  EXPECT_TRUE(station.Ended());
  EXPECT_EQ(view.ended.size(), 3u);
  EXPECT_EQ(op.Log(), logBefore);
  EXPECT_EQ(station.Counts().ok, 3u);
  EXPECT_EQ(station.Counts().failed, 0u);
  EXPECT_EQ(station.Fixture(1).state, FixtureState::kWaiting);  // a probe, but no KELDA on it
  EXPECT_EQ(op.Messages(), std::vector<std::string>{});

  // The header once, then each board's job lines.
  const std::string log = op.Log();
  EXPECT_EQ(log.rfind("[Download to NOR FLASH]\r\n", 0), 0u);
  EXPECT_EQ(log.find("  JTAG ID: 0x00AECADD\r\n"), log.rfind("  JTAG ID: 0x00AECADD\r\n"));
  std::set<uint64_t> sequences;
  for (const BoardRecord& record : view.ended) {
    SCOPED_TRACE(record.device);
    sequences.insert(record.sequence);
    EXPECT_EQ(record.result, "ok");
    EXPECT_EQ(record.product, "KELDA");
    EXPECT_EQ(record.jtagId, 0x00AECADDu);
    EXPECT_EQ(record.flashPart, "EN29LV040A");
    EXPECT_EQ(record.host, "test-host");
    EXPECT_FALSE(record.startedUtc.empty());
    EXPECT_FALSE(record.endedUtc.empty());
    ASSERT_EQ(record.images.size(), 1u);
    EXPECT_EQ(record.images[0].size, 3000u);
    EXPECT_EQ(record.images[0].sentBytes, 3000u);
    EXPECT_TRUE(record.images[0].ok);
    EXPECT_EQ(record.bytesSent, 3000u);
    EXPECT_TRUE(Holds(files.Flash(record.device), 0x10000, Contents(image)));
    EXPECT_NE(log.find("  DEVICE #" + std::to_string(record.device) + ": Downloading done."),
              std::string::npos);
  }
  EXPECT_EQ(sequences, (std::set<uint64_t>{1, 2, 3}));
  // A started and an ended line per board, the started one first.
  EXPECT_EQ(history.lines.size(), 6u);
  for (uint64_t s : {1, 2, 3}) {
    const auto first = std::find(history.lines.begin(), history.lines.end(), std::make_pair(s, false));
    const auto last = std::find(history.lines.begin(), history.lines.end(), std::make_pair(s, true));
    EXPECT_LT(first, last);
  }
}

TEST_F(StationTest, ABoardLimitStartsExactlyThatManyBoardsAndEndsTheStation) {
  UseBench(kThreeKeldasAndAnOko);
  options.boardLimit = 2;
  Station station(op, view, options);
  ASSERT_TRUE(station.Start(KeldaNor(ImageFile(dir, "app.bin", 500))));
  station.Wait();  // ends by itself
  EXPECT_EQ(view.started.size(), 2u);
  EXPECT_EQ(view.ended.size(), 2u);
  EXPECT_EQ(station.Counts().ok, 2u);
}

TEST_F(StationTest, AFailingBoardIsRecordedWithItsBoxAndTheOthersGoOn) {
  UseBench(BenchToml({BenchProbe(), BenchProbe().Fault("no_answer = [0x14]")}));
  Station station(op, view, options);
  ASSERT_TRUE(station.Start(KeldaNor(ImageFile(dir, "app.bin", 700))));
  ASSERT_TRUE(WaitUntil([&] { return view.EndedCount() == 2; }));
  station.StopAccepting();
  station.Wait();
  EXPECT_EQ(op.Messages(), std::vector<std::string>{});  // no modal box: the fixture shows it
  EXPECT_EQ(view.messages[1], std::vector<std::string>{"Cannot Read 'Read Flash ID' Response"});
  EXPECT_EQ(station.Fixture(1).state, FixtureState::kFailed);
  EXPECT_EQ(station.Fixture(1).failureText, "Cannot Read 'Read Flash ID' Response");
  EXPECT_EQ(station.Fixture(0).state, FixtureState::kOk);
  EXPECT_EQ(station.Counts().ok, 1u);
  EXPECT_EQ(station.Counts().failed, 1u);
  for (const BoardRecord& record : view.ended) {
    if (record.device != 1) continue;
    EXPECT_EQ(record.result, "failed");
    EXPECT_EQ(record.failureTexts, std::vector<std::string>{"Cannot Read 'Read Flash ID' Response"});
  }
}

TEST_F(StationTest, AHistoryThatCannotBeWrittenStopsTheStationAndNoUntracedBoardIsProgrammed) {
  UseBench(kThreeKeldasAndAnOko);
  history.failAt = 2;  // the first started line is written, nothing after it
  Station station(op, view, options);
  ASSERT_TRUE(station.Start(KeldaNor(ImageFile(dir, "app.bin", 500))));
  station.Wait();  // ends by itself
  EXPECT_TRUE(station.HistoryFailed());
  EXPECT_EQ(view.notes, std::vector<std::string>{"history: history.jsonl: No space left on device"});
  // The board whose started line was written finishes; no other board starts.
  EXPECT_EQ(view.started.size(), 1u);
  EXPECT_EQ(view.ended.size(), 1u);
  EXPECT_EQ(history.lines.size(), 1u);
}

TEST_F(StationTest, StopBoardsEndsTheBoardsInProgressWithTheStopMarker) {
  UseBench(BenchToml({BenchProbe()}, RealisticTiming(200)));
  Station station(op, view, options);
  ASSERT_TRUE(station.Start(KeldaNor(ImageFile(dir, "big.bin", 256 * 1024))));
  ASSERT_TRUE(WaitUntil([&] { return station.FixturePercent(0) > 0; }));
  station.StopAccepting();
  EXPECT_EQ(station.Fixture(0).state, FixtureState::kProgramming);  // the first stop lets it finish...
  station.StopBoards();                                             // ...the second stops it
  EXPECT_EQ(station.Fixture(0).state, FixtureState::kStopping);
  station.Wait();
  ASSERT_EQ(view.ended.size(), 1u);
  EXPECT_EQ(view.ended[0].result, "stopped");
  EXPECT_FALSE(view.ended[0].images[0].ok);
  EXPECT_LT(view.ended[0].bytesSent, 256u * 1024u + 1);
  EXPECT_NE(op.Log().find("  DEVICE #0: Download stopping, Please wait ... \r\n"), std::string::npos);
}

TEST_F(StationTest, AStartThatCannotBindShowsTheBoxAndStartsNothing) {
  UseBench(kThreeKeldasAndAnOko);
  options.libraryName = dir.path() + "/missing/libVorlink.so";
  Station station(op, view, options);
  EXPECT_FALSE(station.Start(KeldaNor(ImageFile(dir, "app.bin", 10))));
  EXPECT_EQ(op.Messages().back(), "Cannot load 'libVorlink.so'");
  EXPECT_TRUE(station.Ended());
  station.Wait();
  EXPECT_TRUE(view.started.empty());
}

const std::string kThreeEmptyFixtures = BenchToml(EmptyFixtures(3));

TEST_F(StationTest, BoardsArrivingAtDifferentMomentsAreEachProgrammedOnceIntoTheirOwnFlash) {
  UseBench(kThreeEmptyFixtures);
  const std::string image = ImageFile(dir, "app.bin", 2500, 4);
  Station station(op, view, options);
  ASSERT_TRUE(station.Start(KeldaNor(image)));
  BenchControl bench(control);
  for (int p = 0; p < 3; ++p) ASSERT_TRUE(Shows(station, p, FixtureState::kWaiting));
  EXPECT_TRUE(view.started.empty());

  // f1 first; f0 and f2 while it is watched; then a second board on f1 after the first is off.
  ASSERT_EQ(bench.Send("attach f1"), "ok");
  ASSERT_TRUE(Shows(station, 1, FixtureState::kOk));
  ASSERT_EQ(bench.Send("attach f0"), "ok");
  ASSERT_EQ(bench.Send("attach f2"), "ok");
  ASSERT_TRUE(Shows(station, 0, FixtureState::kOk));
  ASSERT_TRUE(Shows(station, 2, FixtureState::kOk));
  ASSERT_EQ(bench.Send("detach f1"), "ok");
  ASSERT_TRUE(Shows(station, 1, FixtureState::kWaiting));
  EXPECT_EQ(EndedOn(1), 1u);
  ASSERT_EQ(bench.Send("attach f1"), "ok");
  ASSERT_TRUE(WaitUntil([&] { return EndedOn(1) == 2; }));
  ASSERT_TRUE(Shows(station, 1, FixtureState::kOk));
  station.StopAccepting();
  station.Wait();

  EXPECT_EQ(EndedOn(0), 1u);
  EXPECT_EQ(EndedOn(2), 1u);
  EXPECT_EQ(station.Counts().ok, 4u);
  EXPECT_EQ(station.Fixture(1).boards, 2u);
  for (const auto& [name, serial] :
       std::vector<std::pair<std::string, int>>{{"f0", 1}, {"f1", 1}, {"f1", 2}, {"f2", 1}}) {
    SCOPED_TRACE(name + "-" + std::to_string(serial));
    EXPECT_TRUE(Holds(files.BoardFlash(name, serial), 0x10000, Contents(image)));
  }
  for (const BoardRecord& record : view.ended) {
    EXPECT_EQ(record.location, "bench:f" + std::to_string(record.device));
    EXPECT_EQ(record.result, "ok");
  }
}

TEST_F(StationTest, AProbeUnpluggedMidBoardFailsThatBoardAndTheOtherFixturesCarryOn) {
  UseBench(BenchToml(EmptyFixtures(2), RealisticTiming(200)));
  Station station(op, view, options);
  ASSERT_TRUE(station.Start(KeldaNor(ImageFile(dir, "app.bin", 64 * 1024))));
  BenchControl bench(control);
  ASSERT_TRUE(Shows(station, 0, FixtureState::kWaiting));
  ASSERT_EQ(bench.Send("attach f0"), "ok");
  ASSERT_TRUE(WaitUntil([&] { return station.FixturePercent(0) > 0; }));
  ASSERT_EQ(bench.Send("unplug f0"), "ok");
  // (Its FAILED state may last only a poll or two: the probe is gone, so the fixture is free again.)
  ASSERT_TRUE(WaitUntil([&] { return EndedOn(0) == 1; }));
  // Enumeration moves f1 up to device index 0 while fixture 1 still holds it open under index 1:
  // its board must be programmed once, through the index that names it now.
  ASSERT_EQ(bench.Send("attach f1"), "ok");
  ASSERT_TRUE(WaitUntil([&] { return EndedOn(0) == 2; }));
  station.StopAccepting();
  station.Wait();
  EXPECT_EQ(station.Counts().ok, 1u);
  EXPECT_EQ(station.Counts().failed, 1u);
  ASSERT_EQ(view.ended.size(), 2u);
  EXPECT_EQ(view.ended[0].location, "bench:f0");
  EXPECT_EQ(view.ended[0].result, "failed");
  EXPECT_FALSE(view.ended[0].failureTexts.empty());
  EXPECT_EQ(view.ended[1].location, "bench:f1");
  EXPECT_EQ(view.ended[1].result, "ok");
  EXPECT_EQ(op.Messages(), std::vector<std::string>{});
}

TEST_F(StationTest, APollingThatFailsIsQuietButForOneStationNote) {
  UseBench(BenchToml({BenchProbe().Named("foreign").Fault("firmware_prefix = \"ACME USB JTAG\""),
                      BenchProbe().Named("f1").Empty()}));
  Station station(op, view, options);
  ASSERT_TRUE(station.Start(KeldaNor(ImageFile(dir, "app.bin", 100))));
  const std::string header = op.Log();
  ASSERT_TRUE(WaitUntil([&] {
    std::lock_guard lock(view.mu);
    return !view.notes.empty();
  }));
  // Many polls more: still the one note.
  std::this_thread::sleep_for(std::chrono::milliseconds(100));
  station.StopAccepting();
  station.Wait();
  EXPECT_EQ(view.notes, std::vector<std::string>{"DEVICE #0 bench:foreign: probe fails every poll"});
  EXPECT_EQ(station.Fixture(0).state, FixtureState::kNoProbe);
  EXPECT_EQ(station.Fixture(1).state, FixtureState::kWaiting);
  EXPECT_EQ(op.Log(), header);  // no log line
  EXPECT_EQ(op.Messages(), std::vector<std::string>{});
  EXPECT_TRUE(view.messages.empty());
  EXPECT_TRUE(view.started.empty());
}

}  // namespace
}  // namespace zolt::testing
