// SPDX-License-Identifier: MIT
#include "bench_transport_loader.h"

namespace vorlink {

LoadedBench LoadBenchFile(const std::string& path) {
#ifdef VORLINK_HAVE_BENCH
  probesim::BenchLoadResult loaded = probesim::LoadBench(path);
  if (!loaded.bench && loaded.error.empty()) loaded.error = path + ": the bench could not be loaded";
  return {std::move(loaded.bench), std::move(loaded.error), std::move(loaded.notes)};
#else
  return {nullptr, path + ": this libVorlink.so was built without the virtual bench", {}};
#endif
}

}  // namespace vorlink
