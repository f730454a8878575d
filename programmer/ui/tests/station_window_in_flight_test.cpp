// SPDX-License-Identifier: MIT
// The station window takes ZOLT_TRANSFERS_IN_FLIGHT=1 from the environment as the dialog's RUN
// does: through the real libVorlink.so every board's data goes out through WriteChunks; through a
// library with only the four exports it goes out as usual. Either way the boards end ok with the
// image in their flash, and the window shows nothing about it.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <QLabel>
#include <QPushButton>
#include <memory>
#include <vector>

#include "testing/pattern_bytes.h"
#include "testing/qt_wait.h"
#include "testing/recording_operator.h"
#include "testing/scratch_dir.h"
#include "testing/text_count.h"
#include "ui/station_tile.h"
#include "ui/station_window.h"

namespace zolt::ui {
namespace {

using zolt::testing::ServeUntil;
using zolt::testing::VisibleBox;

class RequestHost final : public StationHost {
 public:
  RunRequest StationRequest() override { return op.Request(); }
  bool StationVerify() override { return true; }
  bool NormalRunInProgress() override { return false; }
  void StationRunning(bool) override {}
  zolt::testing::RecordingOperator op;
};

using ::zolt::testing::Count;

TEST(StationWindowInFlight, TheVariableSendsEveryBoardsBlocksInFlight) {
  zolt::testing::ScratchDir dir{"zolt-ui-station-in-flight"};
  const std::string bench = dir.Write("bench.toml",
                                      "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n"
                                      "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n");
  const std::string trace = dir.File("trace.log");
  ::setenv("VORLINK_BENCH", bench.c_str(), 1);
  ::setenv("PROBESIM_STATE_DIR", dir.path().c_str(), 1);
  ::setenv("VORLINK_TRACE", trace.c_str(), 1);
  ::setenv("ZOLT_TRANSFERS_IN_FLIGHT", "1", 1);
  ::unsetenv("PROBESIM_LOG");
  ::unsetenv("PROBESIM_CONTROL");

  const std::string image = zolt::testing::PatternBytes(5000, 41);  // two whole blocks and a tail
  struct Case {
    const char* name;
    std::string library;
    size_t inFlightCalls;  // per board
  };
  std::vector<Case> cases = {{"libVorlink.so", VORLINK_PATH, 2}};
#ifdef ZOLT_FOUR_EXPORTS_LINK
  cases.push_back({"four exports", ZOLT_FOUR_EXPORTS_LINK, 0});
#endif
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string tracedBefore = zolt::testing::ReadFileBytes(trace);
    RequestHost host;
    host.op.fields.productIndex = 1;  // KELDA
    host.op.norType = 1;              // EN29LV040A
    host.op.imagePath = {dir.Write("app.bin", image), "", ""};
    host.op.imageBlock = {1, 0, 0};
    zolt::testing::RecordingOperator log;
    StationOptions options;
    options.libraryName = c.library;
    options.pollMs = 5;
    StationWindow window(log, host, nullptr, options);
    window.show();

    window.StartButton()->click();
    ASSERT_TRUE(window.Running());
    ASSERT_TRUE(ServeUntil([&] {
      return window.Tile(0)->Word() == QStringLiteral("OK") && window.Tile(1)->Word() == QStringLiteral("OK");
    }));
    // Nothing was said about transfers in flight, nor shown in a box.
    EXPECT_EQ(window.NoteText()->text(), QString());
    EXPECT_EQ(log.Messages(), std::vector<std::string>{});
    EXPECT_EQ(VisibleBox(), nullptr);
    window.StopButton()->click();
    ASSERT_TRUE(ServeUntil([&] { return !window.Running(); }));

    const std::string traced = zolt::testing::ReadFileBytes(trace).substr(tracedBefore.size());
    for (int device = 0; device < 2; ++device) {
      SCOPED_TRACE(device);
      EXPECT_EQ(Count(traced, " dev=" + std::to_string(device) + " fn=WriteChunks len=64 chunks=32 "),
                c.inFlightCalls)
          << "each whole block in flight, or none";
      const std::string flash =
          zolt::testing::ReadFileBytes(dir.File("bench-" + std::to_string(device) + ".bin"));
      ASSERT_GE(flash.size(), 0x10000 + image.size());
      EXPECT_TRUE(flash.compare(0x10000, image.size(), image) == 0) << "the flash does not hold the image";
    }
  }
}

}  // namespace
}  // namespace zolt::ui
