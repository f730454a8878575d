// RunSummary: what zolt-flash --json writes. It observes the download jobs (RunObserver) and,
// at the end, turns their reports, the settings and the run's outcome into one JSON document
// (fields documented in docs/cli.md).
//
// Threads: the RunObserver callbacks come from the job threads, several at once; Build may run on
// any thread meanwhile (the signal watcher writes a summary when a second signal ends the
// program). All members lock one mutex briefly; none blocks otherwise, none throws.
#pragma once

#include <cstdint>
#include <map>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "cli/options.h"
#include "jobs/run_control.h"

namespace zolt::cli {

class CliOperator;

class RunSummary final : public RunObserver {
 public:
  void OnJobStarted(int device) override;
  void OnFileEnded(int device, int file, const std::string& path, uint64_t fileSize, uint64_t sentBytes,
                   double seconds, uint32_t crc32, bool ok) override;
  void OnJobEnded(int device, bool failed, const std::string& failureText) override;

  struct Ending {
    std::string result;  // "complete", "failed", "not-started", "stopped", "toggle-stopped", "interrupted"
    int exitCode = 0;
    bool stopRequested = false;
    double elapsedSeconds = 0;
  };
  nlohmann::json Build(const FlashOptions& options, const CliOperator& op, const Ending& ending) const;

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
    std::vector<File> files;
  };
  mutable std::mutex mu_;
  std::map<int, Device> devices_;
};

// The outcome's name in the summary.
const char* OutcomeName(RunOutcome outcome);

// Whether `path` can take the summary: opens it for writing (creating it if need be) and closes it
// again. Returns "" or the reason ("No such file or directory").
std::string CheckSummaryWritable(const std::string& path);
// Writes `text` to `path` through a temporary file beside it and a rename, so a reader never sees
// half a summary. Returns "" or the reason.
std::string WriteSummaryFile(const std::string& path, const std::string& text);

}  // namespace zolt::cli
