// SPDX-License-Identifier: MIT
// The station's figures S1-S3 (docs/performance.md). Each measurement runs `zolt-bench
// child-station sN` in a process of its own (the link library reads its bench once), which drives
// a Station on a bench whose boards the child places and removes through PROBESIM_CONTROL, and
// prints "key value" lines. All block for their runs (ten seconds to about two minutes).
#pragma once

#include <string>

#include "whole_runs.h"

namespace zolt::bench {

// The child side: "s1", "s2" or "s3". Returns the exit status.
int ChildStation(const std::string& which);

Figures MeasureS1();  // from a board's placing to its first set-up command, in poll periods
Figures MeasureS2();  // 16 fixtures, boards back to back: boards per hour against 16-board batches
Figures MeasureS3();  // an idle station of 16 probes: CPU share and transfers per second per probe

}  // namespace zolt::bench
