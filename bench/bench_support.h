// SPDX-License-Identifier: MIT
// What the benchmark programs share: scratch folders, bench files and images, child processes
// with their resource usage, and a RunView that costs the jobs as little as the real front ends
// do while it times each device's stream.
//
// Threads: everything here is for the driver's main thread, except BenchOperator, whose
// operations may be called from any thread (the jobs call it from theirs) and never block.
// Failures of the file and process helpers end the program with a message on stderr: a benchmark
// that cannot set itself up has no figure to report.
#pragma once

#include <sys/types.h>

#include <array>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <map>
#include <mutex>
#include <string>
#include <vector>

#include "core/run_request.h"
#include "core/run_view.h"
#include "core/silent_run_view.h"
#include "testing/scratch_dir.h"

namespace zolt::bench {

// Ends the program with "zolt-bench: <text>" on stderr.
[[noreturn]] void Die(const std::string& text);

// Seconds on the monotonic clock.
double NowSeconds();
// CPU seconds of the calling thread so far (a system call: not for every chunk).
double ThreadCpuSeconds();
// CPU seconds (user + system) of the calling process so far.
double ProcessCpuSeconds();

// The tests' scratch folder (under $TMPDIR or /tmp, removed with everything in it when the object
// goes) that Die removes too; a folder that cannot be made ends the program.
class ScratchDir : public zolt::testing::ScratchDir {
 public:
  ScratchDir();
  ~ScratchDir();
};

// Writes `size` bytes of a fixed pattern (not all 0xFF, so the probe programs every byte).
void WritePatternImage(const std::string& path, uint64_t size);
// A sparse file of `size` bytes (reads as zeros, takes no disk space).
void WriteSparseImage(const std::string& path, uint64_t size);
void WriteText(const std::string& path, const std::string& text);

// A bench file: `probes` KELDA boards with the NAND part `flash`, in instant timing, or in
// realistic timing with `usbLatencyUs` per transfer when that is positive.
std::string KeldaNandBench(int probes, const std::string& flash, double usbLatencyUs);

// A finished child process.
struct ChildResult {
  int exitStatus = -1;  // exit code, or 128 + signal
  double wallSeconds = 0;
  double userSeconds = 0;
  double systemSeconds = 0;
  long maxRssKiB = 0;          // the kernel's high-water mark of the whole process (VmHWM)
  long peakRssWithoutKiB = 0;  // sampled peak of the resident set without the excluded mapping
  long peakExcludedKiB = 0;    // sampled peak of the excluded mapping alone
  std::string out;             // stdout, when captured
};

struct ChildOptions {
  std::vector<std::string> argv;
  std::map<std::string, std::string> env;  // added to (or replacing in) the inherited environment
  bool captureStdout = false;
  // When not empty: samples /proc/<pid>/smaps every ~5 ms and keeps the peak resident set of
  // every mapping except those of this file, and of this file alone.
  std::string excludedMapping;
};

// Runs a child and waits for it. Blocks for the child's whole life.
ChildResult RunChild(const ChildOptions& options);

// The folder of the running executable (where libVorlink.so, zolt-flash and the benchmarks are).
std::string ExecutableDir();

// RunView for whole runs in the driver: builds the run's RunRequest from its fields, keeps the log
// and the message boxes, and times each device's stream: the first UpdateFileProgress and the one
// that completes the file (the last file of a device, as the runs here have one). Per chunk it
// costs what the real front ends' does: relaxed atomic stores into a per-device slot.
class BenchOperator final : public SilentRunView {
 public:
  // KELDA, NAND, verify off; a slot with a path is enabled.
  std::array<std::string, 3> imagePath{};
  bool multiDevice = true;
  RunRequest Request() const {
    RunRequest r;
    r.productIndex = 1;
    r.flashType = FlashType::kNand;
    for (size_t s = 0; s < 3; ++s) r.images[s] = {!imagePath[s].empty(), imagePath[s], "0"};
    r.multiDevice = multiDevice;
    return r;
  }

  struct DeviceTiming {
    bool streamed = false;
    double firstSeconds = 0, lastSeconds = 0;  // NowSeconds() of the first and the completing progress
    uint64_t bytes = 0;                        // bytes sent (all files)
    uint64_t firstBytes = 0;                   // of them, those the first progress counted
    // CPU seconds of the job's thread from the first progress to the one that completed the file
    // (0 when the file did not complete).
    double threadCpuSeconds = 0;
    double Rate() const {
      return lastSeconds > firstSeconds ? double(bytes - firstBytes) / (lastSeconds - firstSeconds) : 0;
    }
  };
  // After the run has ended.
  std::vector<DeviceTiming> Timings() const;
  std::vector<std::string> Messages() const;
  std::string Log() const;

  void Append(std::string_view text) override;
  void ShowMessage(std::string_view text) override;
  void ShowErrorMessage(std::string_view text) override { ShowMessage(text); }
  void ShowDeviceStates(const std::array<uint8_t, 16>& slots) override;
  void UpdateFileProgress(int device, int file, uint32_t sentBytes, uint32_t fileSize) override;
  uint64_t TotalSentBytes() override;

 private:
  // One cache line per device, so that jobs do not share lines.
  struct alignas(64) Slot {
    std::atomic<uint64_t> firstNs{0}, lastNs{0};
    std::atomic<uint32_t> sent[3]{};
    std::atomic<uint32_t> firstSent{0};
    double firstCpu = 0, lastCpu = 0;  // written only by the device's job thread
  };
  std::array<Slot, 16> slots_{};
  mutable std::mutex mutex_;  // guards the texts below (a few calls per run)
  std::string log_;
  std::vector<std::string> messages_;
};

// Runs one download through RunControl (the library is loaded by name from beside the
// executable, so VORLINK_BENCH must be set before the first run in this process) and waits for
// its end. Returns the outcome as RunOutcome's integer value.
// ZOLT_TRANSFERS_IN_FLIGHT=1 in the environment streams with transfers in flight.
int RunDownload(BenchOperator& op);

}  // namespace zolt::bench
