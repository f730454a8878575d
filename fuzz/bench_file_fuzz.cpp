// SPDX-License-Identifier: MIT
// The bench file reader on arbitrary text: a bench or one "file:line: key: what" message, never
// a crash.
#include <cstddef>
#include <cstdint>
#include <string>

#include "probesim/bench.h"
#include "testing/scratch_dir.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  // Flash files are made at first use only, so the folder stays empty; it must exist for the
  // size check of existing files. It goes when the program ends.
  static const zolt::testing::ScratchDir folder("zolt-fuzz-bench");
  const probesim::BenchLoadResult loaded = probesim::LoadBenchFromString(
      std::string(reinterpret_cast<const char*>(data), size), "fuzz.toml", folder.path());
  if (!loaded.bench && loaded.error.rfind("fuzz.toml", 0) != 0) __builtin_trap();
  return 0;
}
