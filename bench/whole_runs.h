// SPDX-License-Identifier: MIT
// The whole-run measurements behind P1 to P5. Each returns its figures as named numbers; the
// driver prints them against their goals. All block for the runs they make (seconds to about a
// minute) and end the program when a run cannot be set up or does not complete.
#pragma once

#include <map>
#include <string>

namespace zolt::bench {

using Figures = std::map<std::string, double>;

// The child side of a measured download, run in a process of its own because libVorlink.so reads
// its bench once: `probes` KELDA NAND boards (`flash` part), `usbLatencyUs` (0: instant timing),
// one image of `imageBytes`, after a 64 KiB warm-up run that makes the flash files. Prints one
// line "device <d> bytes <n> seconds <s>" per streamed device, then "cpu <s>" and "wall <s>"
// for the measured run, and "outcome <n>". Returns the exit status.
int ChildDownload(int probes, const std::string& flash, double usbLatencyUs, uint64_t imageBytes);

Figures MeasureP1();  // host cost per chunk: the whole path, and the bench alone
Figures MeasureP2();  // per-probe rate at 1, 4 and 16 probes, 125 us per transfer
Figures MeasureP3();  // the dialog during a 16-probe download (runs zolt-bench-gui)
Figures MeasureP4();  // zolt-flash's peak resident set, 1 MiB and 1 GiB images
Figures MeasureP5();  // zolt-flash's CPU share in realistic timing, bench excluded
Figures MeasureP6();  // one probe's rate with transfers in flight against one Write a chunk
Figures MeasureP7();  // 16 probes with transfers in flight against one

}  // namespace zolt::bench
