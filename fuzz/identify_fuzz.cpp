// SPDX-License-Identifier: MIT
// Probe identification over sixteen device indices against probes that answer with the fuzzer's
// bytes: the firmware reply and its text, the reset acknowledgements and the JTAG ID bits.
#include <cstddef>
#include <cstdint>

#include "fuzz_link.h"
#include "probe/identify.h"
#include "probe/products.h"
#include "testing/recording_operator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace zolt;
  if (size == 0) return 0;
  testing::RecordingOperator op;
  const ProductSettings& p = kProducts[data[0] % kProductCount];
  const ProbeLink link = fuzz::FuzzProbeLink();
  fuzz::FeedLink(data + 1, size - 1, nullptr);
  const ProbeCommands probe(link, op);
  uint8_t slots[kMaxProbes];
  const int found = IdentifyAllProbes(probe, slots, kMaxProbes, p.jtagIdParam.data(), p.expectedJtagId);
  int marked = 0;
  for (uint8_t s : slots) marked += s;
  if (found != marked || found < 0 || found > kMaxProbes) __builtin_trap();
  char version[8] = {};
  CheckProbeFirmware(link, 0, version);
  if (version[5] != '\0') __builtin_trap();  // at most 5 characters and the terminator
  return 0;
}
