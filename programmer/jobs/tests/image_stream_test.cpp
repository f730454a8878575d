// SPDX-License-Identifier: MIT
// Streaming one image file: chunking, block responses, stop markers, failures and file faults.
#include "jobs/image_stream.h"

#include <fcntl.h>
#include <unistd.h>

#include <cstring>

#include "job_fixture.h"
#include "jobs/crc32.h"

namespace zolt::testing {
namespace {

constexpr int kDevice = 3;

class StreamTest : public JobFixture {
 protected:
  StreamTest() {
    FakeProbeConfig config = ProbeFor(kKelda);
    bench.Configure(kDevice, config);
    SetDownload(kKelda, /*nand=*/false, 1, 8, 1, 0x00100000);
  }
  void Configure(const std::function<void(FakeProbeConfig&)>& change) {
    FakeProbeConfig config = ProbeFor(kKelda);
    change(config);
    bench.Configure(kDevice, config);
  }
  StreamResult Stream(const std::string& path, uint32_t block = 5, bool withCrc = false) {
    bench.Open(kProbeProductId, kDevice);
    uint8_t command[64] = {};
    return StreamImageFile(ctx, op, StreamRequest{kDevice, 1, path, block, clock.NowMs()}, command, withCrc);
  }
  // The probe's events from the announcement on, with runs of equal data chunks folded: "32x data 64".
  std::vector<std::string> Folded() const {
    std::vector<std::string> out;
    int run = 0;
    const auto events = bench.Commands(kDevice);
    for (size_t i = 0; i < events.size(); ++i) {
      ++run;
      if (i + 1 < events.size() && events[i + 1] == events[i] && events[i].rfind("data", 0) == 0) continue;
      out.push_back(run > 1 ? std::to_string(run) + "x " + events[i] : events[i]);
      run = 0;
    }
    return out;
  }
};

TEST_F(StreamTest, SendsChunksOf64WithABlockResponseEvery2048BytesAndAfterTheLast) {
  struct Case {
    size_t size;
    std::vector<std::string> events;
  };
  const Case cases[] = {
      {0, {"cmd=0x18", "data 0", "block"}},
      {100, {"cmd=0x18", "data 64", "data 36", "block"}},
      {2047, {"cmd=0x18", "31x data 64", "data 63", "block"}},
      {2048, {"cmd=0x18", "32x data 64", "block"}},
      {4096, {"cmd=0x18", "32x data 64", "block", "32x data 64", "block"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.size);
    bench.Reset();
    bench.Configure(kDevice, ProbeFor(kKelda));
    op.ShowDeviceStates({});
    const std::string path = ImageFile(dir, "image" + std::to_string(c.size) + ".bin", c.size);
    const StreamResult result = Stream(path);

    EXPECT_EQ(result.outcome, StreamOutcome::kDone);
    EXPECT_EQ(result.sentBytes, c.size);
    EXPECT_EQ(Folded(), c.events);
    const auto files = bench.Files(kDevice);
    ASSERT_EQ(files.size(), 1u);
    EXPECT_EQ(files[0].bytes, Contents(path));
    EXPECT_EQ(op.SentBytes(kDevice, 1), c.size);
    EXPECT_EQ(op.deviceCells[kDevice], "100%");
    // DownloadDataInfo: code, 'A', flash type, offset, block, size, verify, its text.
    const auto& info = files[0].dataInfo;
    const uint8_t head[16] = {
        0x18, 0x41, 0x22, 0x00, 0x00, 0x10, 0x00, 5, 0, 0, 0, uint8_t(c.size), uint8_t(c.size >> 8), 0, 0, 1};
    EXPECT_EQ(std::memcmp(info.data(), head, 16), 0);
    EXPECT_EQ(std::memcmp(info.data() + 16, "USBJTAG DownloadCmd", 20), 0);
  }
  const std::string log = op.Log();
  EXPECT_NE(log.find("  DEVICE #3: Downloading to sector #5 (image2047.bin)\r\n"), std::string::npos);
  EXPECT_NE(log.find("  DEVICE #3: Downloading done.(0[s], image2047.bin)\r\n"), std::string::npos);
}

TEST_F(StreamTest, FinishedCodeAfterTheFirstBlockEndsTheFileAsDoneAtHalf) {
  Configure([](FakeProbeConfig& c) { c.blockResponses[1] = {0x60, 0, 0, 0, 0}; });
  const std::string path = ImageFile(dir, "half.bin", 4096);
  const StreamResult result = Stream(path);
  EXPECT_EQ(result.outcome, StreamOutcome::kDone);
  EXPECT_EQ(Folded(), (std::vector<std::string>{"cmd=0x18", "32x data 64", "block"}));
  EXPECT_EQ(op.deviceCells[kDevice], "50%");
  EXPECT_NE(op.Log().find("Downloading done.(0[s], half.bin)\r\n"), std::string::npos);
}

TEST_F(StreamTest, ReportsEveryRefusalAndMissingAnswerOfTheProbe) {
  struct Case {
    const char* name;
    std::function<void(FakeProbeConfig&)> change;
    StreamOutcome outcome;
    std::vector<std::string> messages;
    const char* logTail;  // what the log ends with
  };
  const Case cases[] = {
      {"erase answered with the finished code",
       [](FakeProbeConfig& c) { c.eraseResponse = 0x60; },
       StreamOutcome::kFailed,
       {"Unknow Download Response"},
       ""},
      {"erase error",
       [](FakeProbeConfig& c) {
         c.eraseResponse = 0x57, c.eraseAddress = {0, 0, 2, 0};
       },
       StreamOutcome::kFailed,
       {"ERASE ERROR"},
       "\r\n  DEVICE #3: ERASE ERROR, ADDR: 0x00020000\r\n"},
      {"no erase response",
       [](FakeProbeConfig& c) { c.answerErase = false; },
       StreamOutcome::kNoFirstResponse,
       {},
       "Cannot Read 'Flash Erase' Response"},
      {"announcement not written",
       [](FakeProbeConfig& c) { c.failWriteCode = 0x18; },
       StreamOutcome::kFailed,
       {"Cannot Write 'Download Data Info' Command"},
       ""},
      {"write error in the second block",
       [](FakeProbeConfig& c) {
         c.blockResponses[2] = {0x55, 4, 3, 2, 1};
       },
       StreamOutcome::kFailed,
       {"WRITE ERROR"},
       "\r\n  DEVICE #3: WRITE ERROR, ADDR: 0x01020304\r\n"},
      {"no block response",
       [](FakeProbeConfig& c) {
         c.blockResponses[1] = {0, 0, 0, 0, 0};
       },
       StreamOutcome::kFailed,
       {},
       "  ERROR, File Downloading Response!\r\n"},
      {"unknown block response",
       [](FakeProbeConfig& c) {
         c.blockResponses[1] = {0x71, 0, 0, 0, 0};
       },
       StreamOutcome::kFailed,
       {"Unknow Download Response"},
       ""},
  };
  const std::string path = ImageFile(dir, "image.bin", 4096);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench.Reset();
    Configure(c.change);
    const size_t logBefore = op.Log().size();
    const size_t messagesBefore = op.Messages().size();
    const StreamResult result = Stream(path);
    EXPECT_EQ(result.outcome, c.outcome);
    const std::vector<std::string> all = op.Messages();
    EXPECT_EQ(std::vector<std::string>(all.begin() + messagesBefore, all.end()), c.messages);
    const std::string log = op.Log().substr(logBefore);
    EXPECT_TRUE(log.ends_with(c.logTail)) << log;
    EXPECT_EQ(log.find("Downloading done"), std::string::npos);
    EXPECT_FALSE(result.failureText.empty());
  }
}

TEST_F(StreamTest, StopMarkerGoesIntoTheFirstChunkOfEveryBlockWhileTheStopStands) {
  ctx.stopRequested.store(1);
  Configure([](FakeProbeConfig& c) { c.honourStop = false; });
  const std::string path = ImageFile(dir, "stop.bin", 4096);
  EXPECT_EQ(Stream(path).outcome, StreamOutcome::kDone);
  EXPECT_EQ(Folded(), (std::vector<std::string>{"cmd=0x18", "data 64 stop", "31x data 64", "block",
                                                "data 64 stop", "31x data 64", "block"}));
  const auto sent = bench.Files(kDevice)[0].bytes;
  const auto file = Contents(path);
  EXPECT_EQ(std::memcmp(sent.data(), "USBJTAG_Down_STOP", 18), 0);
  EXPECT_TRUE(
      std::equal(sent.begin() + 18, sent.begin() + 2048, file.begin() + 18));  // rest of the chunk is data
  const std::string stopping = "  DEVICE #3: Download stopping, Please wait ... \r\n";
  const std::string log = op.Log();
  ASSERT_NE(log.find(stopping), std::string::npos);
  EXPECT_NE(log.find(stopping, log.find(stopping) + 1), std::string::npos);  // once per block
  EXPECT_LT(log.find("Downloading to sector"), log.find(stopping));
}

TEST_F(StreamTest, ProbeEndsAStoppedFileWithTheFinishedCode) {
  ctx.stopRequested.store(1);
  EXPECT_EQ(Stream(ImageFile(dir, "stop.bin", 8192)).outcome, StreamOutcome::kDone);
  EXPECT_EQ(Folded(), (std::vector<std::string>{"cmd=0x18", "data 64 stop", "31x data 64", "block"}));
  EXPECT_NE(op.Log().find("Downloading done.(0[s], stop.bin)"), std::string::npos);
}

TEST_F(StreamTest, StopMarkerInAShortLastChunkIsCutToTheChunk) {
  ctx.stopRequested.store(1);
  EXPECT_EQ(Stream(ImageFile(dir, "tiny.bin", 10)).outcome, StreamOutcome::kDone);
  EXPECT_EQ(Folded(), (std::vector<std::string>{"cmd=0x18", "data 10 stop", "block"}));
  const auto sent = bench.Files(kDevice)[0].bytes;
  EXPECT_EQ(std::string(sent.begin(), sent.end()), "USBJTAG_Do");
}

TEST_F(StreamTest, MissingFileIsNotOpenedAndNothingIsSent) {
  const std::string path = dir.path() + "/missing.bin";
  EXPECT_EQ(Stream(path).outcome, StreamOutcome::kNotOpened);
  EXPECT_EQ(op.Log(), "Cannot open '" + path + "'");
  EXPECT_TRUE(bench.Commands(kDevice).empty());
  EXPECT_EQ(Stream(dir.path()).outcome, StreamOutcome::kNotOpened);  // a folder is no image
}

TEST_F(StreamTest, FileThatShrinksWhileStreamingFailsWithoutSendingShortChunks) {
  const std::string path = ImageFile(dir, "shrinks.bin", 4096);
  bench.OnCommand([&path](int, uint8_t code) {
    if (code == 0x18) {
      ASSERT_EQ(::truncate(path.c_str(), 100), 0);
    }
  });
  const StreamResult result = Stream(path);
  EXPECT_EQ(result.outcome, StreamOutcome::kFailed);
  EXPECT_EQ(Folded(), (std::vector<std::string>{"cmd=0x18", "data 64"}));
  EXPECT_EQ(result.sentBytes, 64u);
  EXPECT_EQ(op.SentBytes(kDevice, 1), 64u);
  EXPECT_TRUE(op.Log().ends_with("  DEVICE #3: Cannot read '" + path + "'\r\n"));
  EXPECT_EQ(op.Log().find("Downloading done"), std::string::npos);
}

TEST_F(StreamTest, FileOf4GiBOrMoreIsRefusedBeforeTheAnnouncement) {
  const std::string path = dir.path() + "/huge.bin";
  const int fd = ::open(path.c_str(), O_CREAT | O_WRONLY, 0600);
  ASSERT_GE(fd, 0);
  ASSERT_EQ(::ftruncate(fd, (off_t{1} << 32) + 100), 0);  // sparse: takes no disk space
  ::close(fd);
  const StreamResult result = Stream(path);
  EXPECT_EQ(result.outcome, StreamOutcome::kFailed);
  EXPECT_TRUE(bench.Commands(kDevice).empty());
  EXPECT_EQ(op.Log(), "  DEVICE #3: '" + path + "' is too large (4 GiB or more)\r\n");
}

TEST_F(StreamTest, PathWithoutSlashIsItsOwnDisplayNameAndCrcCoversTheBytesSent) {
  const std::string cwd = std::filesystem::current_path();
  std::filesystem::current_path(dir.path());
  std::ofstream("check.bin") << "123456789";
  const StreamResult result = Stream("check.bin", 0, /*withCrc=*/true);
  std::filesystem::current_path(cwd);
  EXPECT_EQ(result.outcome, StreamOutcome::kDone);
  EXPECT_EQ(result.crc32, 0xCBF43926u);  // the standard CRC-32 check value
  EXPECT_NE(op.Log().find("Downloading to sector #0 (check.bin)\r\n"), std::string::npos);
}

TEST_F(StreamTest, DoneLineCountsSecondsFromTheJobStart) {
  clock.Advance(65'500);
  const std::string path = ImageFile(dir, "slow.bin", 10);
  bench.Open(kProbeProductId, kDevice);
  uint8_t command[64] = {};
  StreamImageFile(ctx, op, StreamRequest{kDevice, 0, path, 1, 1000}, command, false);
  EXPECT_NE(op.Log().find("Downloading done.(65[s], slow.bin)"), std::string::npos);
}

}  // namespace
}  // namespace zolt::testing
