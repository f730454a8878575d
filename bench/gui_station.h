// SPDX-License-Identifier: MIT
// zolt-bench-gui station: the station window's responsiveness (docs/performance.md "Station
// window"). Blocks for the run (about ten seconds); prints "name value" lines.
#pragma once

namespace zolt::bench {

int StationMain(int argc, char** argv);

}  // namespace zolt::bench
