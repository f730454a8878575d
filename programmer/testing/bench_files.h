// SPDX-License-Identifier: MIT
// A virtual bench for the tests (and benchmarks) that load the real link library: the bench
// file's text built from its probes, the environment that points this process's link library at
// it, and the flash files the bench keeps in its state folder (docs/bench.md):
//
//   BenchFiles bench(dir);
//   bench.Use(BenchToml({BenchProbe(), BenchProbe("OKO").Fault("no_answer = [0x14]")}), kWithControl);
//
// No Qt, no test framework.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <vector>

#include "testing/recording_operator.h"
#include "testing/scratch_dir.h"

namespace zolt::testing {

// One [[probe]] of a bench file: a board of `target` with a `flash` part ("none": no flash), on
// its probe unless Empty().
struct BenchProbe {
  explicit BenchProbe(std::string target = "KELDA", std::string flash = "EN29LV040A");
  // The name the control socket and the boards' flash files go by.
  BenchProbe& Named(std::string probeName);
  // No board until "attach <name>" (board = false).
  BenchProbe& Empty();
  // Another key of the probe, as a TOML line without its end: "interleave = 2".
  BenchProbe& Key(const std::string& line);
  // A key of the probe's [probe.faults]: "no_answer = [0x14]".
  BenchProbe& Fault(const std::string& line);

  std::string target, flash, name;
  bool board = true;
  std::string keys, faults;  // TOML lines, each with its line end
};

// `count` empty KELDA fixtures of `flash` named f0, f1, ...
std::vector<BenchProbe> EmptyFixtures(int count, const std::string& flash = "EN29LV040A");
// The [bench] keys of realistic timing at `usbLatencyUs` per transfer.
std::string RealisticTiming(double usbLatencyUs);
// The bench file: `benchKeys` under [bench] (none when empty), then the probes in their order
// (device index order).
std::string BenchToml(const std::vector<BenchProbe>& probes, const std::string& benchKeys = "");

// What Use sets besides the bench file and the state folder.
enum BenchUse : unsigned {
  kWithEventLog = 1,  // PROBESIM_LOG: EventLogPath()
  kWithControl = 2,   // PROBESIM_CONTROL: ControlPath()
};

// A bench whose files all live in the scratch folder `dir` (which must outlive it).
class BenchFiles {
 public:
  explicit BenchFiles(const ScratchDir& dir) : dir_(dir) {}

  // Writes `toml` as bench.toml and points the link library that loads next in this process at
  // it: VORLINK_BENCH and PROBESIM_STATE_DIR (the folder); PROBESIM_LOG and PROBESIM_CONTROL as
  // `with` asks, unset otherwise; VORLINK_TRACE unset. The library reads them once, when loaded.
  // Throws std::runtime_error when the file cannot be written.
  void Use(const std::string& toml, unsigned with = 0) const;

  std::string BenchPath() const { return dir_.File("bench.toml"); }
  std::string EventLogPath() const { return dir_.File("events.log"); }
  std::string ControlPath() const { return dir_.File("control"); }
  // The flash of the board on unnamed probe `probe`.
  std::vector<uint8_t> Flash(int probe) const;
  // The flash of the `serial`-th board placed on the probe named `name` (1 for the first).
  std::vector<uint8_t> BoardFlash(const std::string& name, int serial) const;

 private:
  const ScratchDir& dir_;
};

// True when `flash` holds `image` from `offset` on.
bool Holds(const std::vector<uint8_t>& flash, size_t offset, const std::vector<uint8_t>& image);

// The settings of a KELDA NOR download on an EN29LV040A of `image` alone, at block 1.
void SelectKeldaNor(RecordingOperator& op, const std::string& image);

}  // namespace zolt::testing
