// SPDX-License-Identifier: MIT
// A file cut short by a stop is not the image: the observer hears it as not ok, while the job
// itself, stopped on request, is not failed.
#include "job_fixture.h"
#include "jobs/download_job.h"

namespace zolt::testing {
namespace {

constexpr int kDevice = 1;

class StoppedFileTest : public JobFixture {};

TEST_F(StoppedFileTest, AFileThatCarriedAStopMarkerIsReportedNotOk) {
  struct Case {
    const char* name;
    int stopAtAnnouncement;  // STOP pressed when this file (1-based) is announced; 0: never
    bool honourStop;         // the probe ends the file with the finished code
    std::vector<std::string> files;
  };
  const Case cases[] = {
      {"no stop", 0, true, {"file 1 0 a.bin 5000 5000 ok", "file 1 1 b.bin 100 100 ok"}},
      // The marker goes into the first chunk; the probe ends the file with the finished code at the
      // block's end, so the file counts as done.
      {"stop before the first file",
       1,
       true,
       {"file 1 0 a.bin 5000 2048 failed", "file 1 1 b.bin 100 100 failed"}},
      {"stop before the second file",
       2,
       true,
       {"file 1 0 a.bin 5000 5000 ok", "file 1 1 b.bin 100 100 failed"}},
      // A probe that goes on taking data after the marker still programmed the marker as data.
      {"stop the probe ignores",
       1,
       false,
       {"file 1 0 a.bin 5000 5000 failed", "file 1 1 b.bin 100 100 failed"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench.Reset();
    FakeProbeConfig config = ProbeFor(kKelda);
    config.honourStop = c.honourStop;
    bench.Configure(kDevice, config);
    SetDownload(kKelda, false, 1);
    UseImages({ImageFile(dir, "a.bin", 5000), ImageFile(dir, "b.bin", 100)});
    op.imageBlock = {0, 1, 0};
    ctx.stopRequested.store(0);
    ctx.failedDeviceCount.store(0);
    int announcements = 0;
    bench.OnCommand([&](int, uint8_t code) {
      if (code == 0x18 && ++announcements == c.stopAtAnnouncement) ctx.stopRequested.store(1);
    });
    RecordingObserver observer;
    ctx.observer = &observer;
    MarkSlots({kDevice});
    TakeRequest();
    DownloadJob(ctx);
    ctx.observer = nullptr;
    bench.OnCommand(nullptr);

    std::vector<std::string> expected{"start 1"};
    expected.insert(expected.end(), c.files.begin(), c.files.end());
    expected.push_back("end 1 ok");  // a stop is the operator's wish, not a failure of the job
    EXPECT_EQ(observer.events, expected);
    EXPECT_EQ(ctx.failedDeviceCount.load(), 0);
  }
  ctx.stopRequested.store(0);
}

}  // namespace
}  // namespace zolt::testing
