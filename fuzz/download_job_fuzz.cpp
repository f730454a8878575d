// SPDX-License-Identifier: MIT
// One download job, from the firmware check to the JTAG reset, against a probe that answers with
// the fuzzer's bytes: firmware and bootloader texts, set-up acknowledgements, debug-bus words,
// the flash ID, the erase response and the block responses.
#include <cstddef>
#include <cstdint>

#include "fuzz_link.h"
#include "jobs/download_job.h"
#include "run_settings.h"
#include "testing/recording_operator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zolt;
  testing::RecordingOperator op;
  JobContext ctx(op, SystemTickClock());
  const size_t used = fuzz::ChooseSettings(data, size, ctx);
  data += used;
  size -= used;
  ctx.request.images[0] = {true, fuzz::FuzzImagePath(), "0"};
  ctx.request.images[1] = {size > 0 && (data[0] & 1) != 0, fuzz::FuzzImagePath(), "1"};
  ctx.settings.deviceSlots[0].store(1);
  ctx.settings.runningJobCount.store(1);
  ctx.link = fuzz::FuzzProbeLink();
  fuzz::FeedLink(data, size, &ctx.stopRequested);
  DownloadJob(ctx);
  if (ctx.settings.runningJobCount.load() != 0) __builtin_trap();  // the job must always end its count
  return 0;
}
