// SPDX-License-Identifier: MIT
// Streaming one image file against a probe that answers with the fuzzer's bytes: the erase
// response and every block response, with the stop request set at any point (control byte 0xFE).
#include <cstddef>
#include <cstdint>

#include "fuzz_link.h"
#include "jobs/image_stream.h"
#include "run_settings.h"
#include "testing/recording_operator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zolt;
  testing::RecordingOperator op;
  JobContext ctx(op, SystemTickClock());
  const size_t used = fuzz::ChooseSettings(data, size, ctx);
  ctx.link = fuzz::FuzzProbeLink();
  fuzz::FeedLink(data + used, size - used, &ctx.stopRequested);
  uint8_t command[64] = {};
  const StreamRequest request{3, 1, fuzz::FuzzImagePath(), 2, 0};
  const StreamResult result = StreamImageFile(ctx, op, request, command, true);
  // Never more bytes than the file, and a file that did not go out whole is never "done" unless
  // the probe itself ended it with the finished code.
  if (result.sentBytes > result.fileSize) __builtin_trap();
  if (result.outcome == StreamOutcome::kDone && result.sentBytes < result.fileSize && command[0] != 0x60) {
    __builtin_trap();
  }
  return 0;
}
