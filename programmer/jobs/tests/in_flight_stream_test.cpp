// SPDX-License-Identifier: MIT
// Streaming with transfers in flight puts on the wire exactly what one synchronous Write per chunk
// does: the same downloads run both ways on the fake bench must give the same data writes (bytes,
// lengths, order), block responses, log, boxes and results.
#include <algorithm>
#include <cstring>
#include <map>

#include "job_fixture.h"
#include "jobs/download_job.h"

namespace zolt::testing {
namespace {

constexpr int kDevice = 3;

struct Case {
  const char* name;
  bool nand;
  size_t size;
  std::map<int, FakeProbeConfig::DataFault> faults;  // by data chunk number in the file
  int stopAtChunk = 0;                               // STOP pressed during this data chunk; 0: never
  size_t shrinkTo = 0;                               // the file shrinks to this when announced; 0: never
};

// Everything a run shows or sends.
struct Capture {
  std::vector<std::string> events;             // the probe's event texts
  std::vector<std::vector<uint8_t>> payloads;  // every write's bytes, commands and data, in order
  std::vector<std::vector<uint8_t>> flashed;   // what the flash took per file
  std::string log;
  std::vector<std::string> messages;
  std::vector<std::string> observed;
  uint32_t crc = 0;
  uint32_t sent = 0;
  std::string cell;
  int failed = 0;
  bool stopped = false;
  std::vector<int> chunkCalls;
};

class InFlightStreamTest : public ::testing::Test {
 protected:
  ~InFlightStreamTest() override { bench.Reset(); }

  Capture Run(const Case& c, const std::string& path, const ProbeLink& link, bool inFlight) {
    bench.Reset();
    bench.SetClock(&clock);
    FakeProbeConfig config = ProbeFor(kKelda);
    config.flashId =
        c.nand ? std::array<uint16_t, 4>{0xEC, 0xDA, 0, 0x15} : std::array<uint16_t, 4>{0x1C, 0x4F, 0, 0};
    config.dataFaults = c.faults;
    bench.Configure(kDevice, config);
    // The image as it was written for the case: the shrink of the earlier run must not carry over.
    ImageFile(dir, "image.bin", c.size);

    TestOperator op;
    JobContext ctx(op, clock);
    RecordingObserver observer;
    ctx.observer = &observer;
    ctx.link = link;
    ctx.transfersInFlight = inFlight;
    op.fields.productIndex = kKelda;
    op.fields.nandSelected = c.nand;
    op.fields.norSelected = !c.nand;
    op.norType = 1, op.width = 8, op.interleave = 1, op.offset = 0;
    op.imageEnabled[0] = true;
    op.imagePath[0] = path;
    ctx.request = op.Request();
    ctx.verify.store(true);
    FillProductSettings(ctx.settings, kProducts[kKelda]);
    FillDownloadSettings(ctx.settings, ctx.request);
    ctx.settings.deviceSlots[kDevice].store(1);
    ctx.settings.runningJobCount.store(1);
    if (c.stopAtChunk != 0) {
      bench.OnData([&ctx, &c](int, int chunk) {
        if (chunk == c.stopAtChunk) ctx.stopRequested.store(1);
      });
    }
    if (c.shrinkTo != 0) {
      bench.OnCommand([&path, &c](int, uint8_t code) {
        if (code == 0x18) {
          EXPECT_EQ(::truncate(path.c_str(), static_cast<off_t>(c.shrinkTo)), 0);
        }
      });
    }
    DownloadJob(ctx);

    Capture out;
    for (const FakeEvent& e : bench.Events(kDevice)) {
      out.events.push_back(e.text);
      if (e.text != "block") out.payloads.push_back(e.bytes);
    }
    for (const FakeFile& f : bench.Files(kDevice)) out.flashed.push_back(f.bytes);
    out.log = op.Log();
    out.messages = op.Messages();
    out.observed = observer.events;
    out.crc = observer.crc;
    out.sent = op.SentBytes(kDevice, 0);
    out.cell = op.deviceCells[kDevice];
    out.failed = ctx.failedDeviceCount.load();
    out.stopped = ctx.stopRequested.load() != 0;
    out.chunkCalls = bench.ChunkCalls();
    return out;
  }

  FakeBench& bench = FakeBench::Get();
  FakeClock clock;
  ScratchDir dir{"zolt-in-flight"};
};

void ExpectSame(const Capture& in, const Capture& sync) {
  EXPECT_EQ(in.events, sync.events);
  ASSERT_EQ(in.payloads.size(), sync.payloads.size());
  for (size_t i = 0; i < in.payloads.size(); ++i)
    EXPECT_EQ(in.payloads[i], sync.payloads[i]) << "write #" << i << ": " << in.events[i];
  EXPECT_EQ(in.flashed, sync.flashed);
  EXPECT_EQ(in.log, sync.log);
  EXPECT_EQ(in.messages, sync.messages);
  EXPECT_EQ(in.observed, sync.observed);
  EXPECT_EQ(in.crc, sync.crc);
  EXPECT_EQ(in.sent, sync.sent);
  EXPECT_EQ(in.cell, sync.cell);
  EXPECT_EQ(in.failed, sync.failed);
  EXPECT_EQ(in.stopped, sync.stopped);
}

const Case kCases[] = {
    {"NOR empty", false, 0, {}},
    {"NOR 100", false, 100, {}},
    {"NOR 2047", false, 2047, {}},
    {"NOR 2048", false, 2048, {}},
    {"NOR 4096", false, 4096, {}},
    {"NOR 70001", false, 70001, {}},
    {"NAND empty", true, 0, {}},
    {"NAND 100", true, 100, {}},
    {"NAND 2047", true, 2047, {}},
    {"NAND 2048", true, 2048, {}},
    {"NAND 4096", true, 4096, {}},
    {"NAND 70001", true, 70001, {}},
    {"stop in the second block", false, 70001, {}, 40},
    {"stop in the last, short block", true, 70001, {}, 1090},
    {"chunk 5 of block 2 lost", false, 4096, {{37, {0, 0}}}},
    {"chunk 5 of block 2 taken short", true, 70001, {{37, {1, 10}}}},
    {"chunks 5 and 6 of block 1 and the tail lost", false, 2047, {{5, {0, 0}}, {6, {0, 20}}, {32, {0, 0}}}},
    {"last chunk of a block lost", false, 4096, {{32, {0, 0}}}},
    {"file shrinks inside the second block", false, 4096, {}, 0, 3000},
    {"file shrinks to less than a chunk", true, 4096, {}, 0, 10},
};

TEST_F(InFlightStreamTest, SendsWhatTheSynchronousPathSends) {
  for (const Case& c : kCases) {
    SCOPED_TRACE(c.name);
    const std::string path = dir.path() + "/image.bin";
    const Capture sync = Run(c, path, FakeBench::Link(), false);
    const Capture in = Run(c, path, FakeBench::ChunkLink(), true);
    ExpectSame(in, sync);
    EXPECT_TRUE(sync.chunkCalls.empty());
    // Every block with a full chunk went through WriteChunks.
    const size_t shortest = c.shrinkTo != 0 ? std::min(c.size, c.shrinkTo) : c.size;
    EXPECT_EQ(in.chunkCalls.empty(), shortest < 64) << ::testing::PrintToString(in.chunkCalls);
    // Switched on, but the library has no WriteChunks: as without the switch.
    const Capture plain = Run(c, path, FakeBench::Link(), true);
    ExpectSame(plain, sync);
    // The library has it, but the switch is off: as today.
    const Capture off = Run(c, path, FakeBench::ChunkLink(), false);
    ExpectSame(off, sync);
    EXPECT_TRUE(off.chunkCalls.empty());
  }
}

// The calls themselves: a block's 32 chunks in one call, and after a chunk that failed, the rest of
// its block in the next call; a file tail by a plain Write.
TEST_F(InFlightStreamTest, GoesOnAfterAFailedChunkWithTheRestOfItsBlock) {
  const std::string path = dir.path() + "/image.bin";
  const Capture lost = Run({"lost", false, 4096, {{37, {0, 0}}}}, path, FakeBench::ChunkLink(), true);
  EXPECT_EQ(lost.chunkCalls, (std::vector<int>{32, 32, 27}));
  // The probe took 31 chunks of the block and never answered it.
  EXPECT_NE(lost.log.find("  ERROR, File Downloading Response!\r\n"), std::string::npos) << lost.log;
  EXPECT_EQ(lost.failed, 1);
  EXPECT_EQ(lost.sent, 4096u);

  const Capture tail = Run({"tail", true, 2047, {}}, path, FakeBench::ChunkLink(), true);
  EXPECT_EQ(tail.chunkCalls, (std::vector<int>{31}));
  const auto tailChunk = std::find(tail.events.begin(), tail.events.end(), "data 63");
  ASSERT_NE(tailChunk, tail.events.end());
  EXPECT_EQ(tailChunk[-1], "data 64");
  EXPECT_EQ(tailChunk[1], "block");
  EXPECT_EQ(tail.failed, 0);
  EXPECT_EQ(tail.sent, 2047u);
  EXPECT_EQ(tail.cell, "100%");
}

}  // namespace
}  // namespace zolt::testing
