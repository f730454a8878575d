// SPDX-License-Identifier: MIT
// What run control tells a front end about a run beyond its RunView: the per-device results of
// download runs (RunObserver) and how the last run ended (RunOutcome). Apart from run_control.h so
// that the jobs, which report both, need not include run control.
#pragma once

#include <cstdint>
#include <string>

namespace zolt {

// Optional observer of a download run's per-device results, for front ends that summarise a run
// (zolt-flash --json). Called from the job threads; an implementation must be thread-safe and quick.
class RunObserver {
 public:
  virtual ~RunObserver() = default;
  // A job claimed `device` and starts.
  virtual void OnJobStarted(int device) { (void)device; }
  // The job opened the probe of `device`; `location` as ProbeLocation gives it ("unknown" when
  // the library cannot tell).
  virtual void OnProbeOpened(int device, const std::string& location) { (void)device, (void)location; }
  // The job read the flash's IDs and accepted the flash: `part` is the NAND table's part name or
  // the NOR type's log name.
  virtual void OnFlashIdentified(int device, uint16_t makerId, uint16_t deviceId, const std::string& part) {
    (void)device, (void)makerId, (void)deviceId, (void)part;
  }
  // One image file of `device` has ended (any outcome but "not opened"): bytes sent, seconds since
  // the job started, CRC-32 (IEEE) of the bytes actually written to the probe as data. `ok` only
  // when the file went out and the probe accepted it: false for a failed file, one refused before
  // its announcement (too large, overlapping an earlier file), and one cut short by a stop (a
  // stop marker went out in place of its data; the job itself is not failed by a stop).
  virtual void OnFileEnded(int device, int file, const std::string& path, uint64_t fileSize,
                           uint64_t sentBytes, double seconds, uint32_t crc32, bool ok) {
    (void)device, (void)file, (void)path, (void)fileSize, (void)sentBytes, (void)seconds, (void)crc32,
        (void)ok;
  }
  // The job of `device` ended; `failureText` is the first failure text it reported ("" if none).
  virtual void OnJobEnded(int device, bool failed, const std::string& failureText) {
    (void)device, (void)failed, (void)failureText;
  }
  // A pin toggle run's ApplyHighBoundary or ApplyLowBoundary failed. The toggle loop goes on
  // regardless; a front end may count these to tell a run whose pins never toggled.
  virtual void OnPinApplyFailed() {}
};

// Outcome of the last finished run, for front ends that report it (zolt-flash's exit status).
enum class RunOutcome {
  kNone,           // no run has ended yet
  kNotStarted,     // OnRun's failure exit: library, no probe, no image files
  kComplete,       // download: no job failed, no stop requested
  kFailed,         // download: at least one job failed (stop requested or not)
  kStopped,        // download stopped on request, and no job failed
  kToggleStopped,  // pin toggling ended by STOP
  kToggleFailed    // pin toggling ended before it began (probe, firmware or boundary set-up)
};

}  // namespace zolt
