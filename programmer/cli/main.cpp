// SPDX-License-Identifier: MIT
// zolt-flash: the programmer's command line for production lines. See docs/cli.md.
#include <signal.h>
#include <unistd.h>

#include <cstdlib>
#include <exception>
#include <memory>
#include <string>
#include <vector>

#include "cli/flash_session.h"
#include "cli/options.h"
#include "cli/station_session.h"
#include "cli/stop_watchdog.h"
#include "cli/summary_file.h"
#include "cli/terminal_text.h"
#include "jobs/history_file.h"

namespace {

void WriteWhole(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    ssize_t n = ::write(fd, text.data() + done, text.size() - done);
    if (n <= 0) return;
    done += static_cast<size_t>(n);
  }
}

// An exception that escaped a thread: the summary still says what happened, and the status is 1,
// never the 134 of an abort after the board may have been programmed.
[[noreturn]] void OnTerminate() {
  std::string what = "unknown exception";
  if (std::exception_ptr e = std::current_exception()) {
    try {
      std::rethrow_exception(e);
    } catch (const std::exception& x) {
      what = x.what();
    } catch (...) {
    }
  }
  _exit(zolt::cli::EndOnInternalError(what));
}

// Files the summary must never replace: what the run reads, and the logs the library and the bench
// append to.
std::vector<zolt::cli::ProtectedFile> ProtectedFiles(const zolt::cli::FlashOptions& options) {
  std::vector<zolt::cli::ProtectedFile> files;
  for (int slot = 0; slot < 3; ++slot) {
    if (options.imageEnabled[slot])
      files.push_back({"image" + std::to_string(slot + 1), options.imagePath[slot]});
  }
  for (const char* variable : {"VORLINK_BENCH", "VORLINK_TRACE", "PROBESIM_LOG"}) {
    const char* value = std::getenv(variable);
    if (value != nullptr && *value != '\0')
      files.push_back({std::string("the file ") + variable + " names", value});
  }
  return files;
}

int Main(int argc, char** argv) {
  using namespace zolt::cli;
  FlashOptions options;
  ParseResult parsed = ParseCommandLine(argc, argv, options);
  WriteWhole(STDOUT_FILENO, parsed.out);
  WriteWhole(STDERR_FILENO, parsed.err);
  if (!parsed.run) return parsed.exitCode;

  StopWatchdogSetting watchdog = ReadStopWatchdogSetting(std::getenv(kStopWatchdogVariable));
  if (!watchdog.error.empty()) {
    WriteWhole(STDERR_FILENO, "zolt-flash: " + EscapeForTerminal(watchdog.error) + "\n");
    return kExitUsage;
  }

  if (std::string error = ApplyTransfersInFlightVariable(std::getenv(kTransfersInFlightVariable), options);
      !error.empty()) {
    WriteWhole(STDERR_FILENO, "zolt-flash: " + EscapeForTerminal(error) + "\n");
    return kExitUsage;
  }

  SummaryFile summary;
  if (!options.jsonPath.empty()) {
    std::string error = summary.Open(options.jsonPath, ProtectedFiles(options));
    if (!error.empty()) {
      WriteWhole(STDERR_FILENO, "zolt-flash: --json: cannot write '" + EscapeForTerminal(options.jsonPath) +
                                    "': " + EscapeForTerminal(error) + "\n");
      return kExitUsage;
    }
  }
  std::unique_ptr<zolt::HistoryFile> history;
  if (!options.historyPath.empty()) {
    // Checked before it is opened, which may make it: a refused history leaves nothing behind.
    std::vector<ProtectedFile> protectedFiles = ProtectedFiles(options);
    if (!options.jsonPath.empty()) protectedFiles.push_back({"the --json summary", options.jsonPath});
    std::string error = ProtectedRole(options.historyPath, protectedFiles);
    if (error.empty()) {
      history = zolt::HistoryFile::Open(options.historyPath, &error);
    } else {
      error = options.historyPath + ": " + error;
    }
    if (history == nullptr) {
      WriteWhole(STDERR_FILENO, "zolt-flash: --history: cannot append to " + EscapeForTerminal(error) + "\n");
      return kExitUsage;
    }
  }
  if (options.station) return RunStation(options, history.get());
  return RunFlash(options, options.jsonPath.empty() ? nullptr : &summary, history.get(),
                  watchdog.limit.value_or(kStopWatchdog));
}

}  // namespace

int main(int argc, char** argv) {
  // A reader that went away must not kill a run half way through a probe's flash.
  ::signal(SIGPIPE, SIG_IGN);
  // A file size limit (ulimit -f) reached by the history or the summary fails that write with
  // EFBIG, which is reported, instead of killing the run half way through a probe's flash.
  ::signal(SIGXFSZ, SIG_IGN);
  std::set_terminate(OnTerminate);
  try {
    return Main(argc, argv);
  } catch (const std::exception& e) {
    return zolt::cli::EndOnInternalError(e.what());
  } catch (...) {
    return zolt::cli::EndOnInternalError("unknown exception");
  }
}
