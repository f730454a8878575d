// SPDX-License-Identifier: MIT
// RunSummary: what zolt-flash --json writes. It observes the download jobs (RunObserver) and,
// at the end, turns their reports, the settings and the run's outcome into one JSON document
// (fields documented in docs/cli.md).
//
// Threads: the RunObserver callbacks come from the job threads, several at once; Build may run on
// any thread meanwhile (the signal watcher writes a summary when a second signal ends the
// program). All members lock one mutex briefly; none blocks otherwise, none throws.
#pragma once

#include <atomic>
#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "cli/options.h"
#include "jobs/run_control.h"

namespace zolt::cli {

class CliOperator;

class RunSummary final : public RunObserver {
 public:
  void OnJobStarted(int device) override;
  void OnProbeOpened(int device, const std::string& location) override;
  void OnFileEnded(int device, int file, const std::string& path, uint64_t fileSize, uint64_t sentBytes,
                   double seconds, uint32_t crc32, bool ok) override;
  void OnJobEnded(int device, bool failed, const std::string& failureText) override;
  void OnPinApplyFailed() override;

  // How many of a toggle run's ApplyHighBoundary/ApplyLowBoundary calls failed.
  uint64_t PinApplyFailures() const { return pinApplyFailures_.load(); }

  struct Ending {
    // "running" (written before RUN), "complete", "failed", "not-started", "stopped", "toggle-stopped",
    // "interrupted"
    std::string result;
    std::optional<int> exitCode;  // none while running
    std::string internalError;    // what ended the program unexpectedly; "" when nothing did
    bool stopRequested = false;
    double elapsedSeconds = 0;
    std::optional<int> found;  // --expect: the boards identification found; none otherwise
    std::string historyError;  // the first --history line that could not be written; "" if none
  };
  // `bench`: the virtual bench file serving the probes, "" for real probes.
  nlohmann::json Build(const FlashOptions& options, const CliOperator& op, const Ending& ending,
                       const std::string& bench) const;

 private:
  struct File {
    int slot;
    std::string path;
    uint64_t size, sentBytes;
    double seconds;
    uint32_t crc32;
    bool ok;
  };
  struct Device {
    bool started = false, ended = false, failed = false;
    std::string failureText;
    std::string location = "unknown";
    std::vector<File> files;
  };
  mutable std::mutex mu_;
  std::map<int, Device> devices_;
  std::atomic<uint64_t> pinApplyFailures_{0};
};

// The document as text. Strings that are not valid UTF-8 (a file name in another encoding, a
// probe's odd reply) never make it fail: each invalid byte becomes U+FFFD.
std::string SummaryText(const nlohmann::json& document);

// The outcome's name in the summary.
const char* OutcomeName(RunOutcome outcome);

}  // namespace zolt::cli
