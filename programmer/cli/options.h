// SPDX-License-Identifier: MIT
// zolt-flash's command line: what the main dialog and its pages would show before RUN is pressed.
//
// ParseCommandLine checks every value before anything is loaded or opened (the link library, the
// probes and the image files are untouched), so a bad value costs nothing but its usage line.
// Any thread; does not block; never throws.
#pragma once

#include <array>
#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

namespace zolt::cli {

struct FlashOptions {
  // Main dialog.
  int productIndex = 0;
  bool nandSelected = false;
  bool norSelected = true;
  bool verifyEnabled = true;
  // Nor Options page. For TARVIS the page shows "AutoDetect", 8 and 1, whatever was asked.
  int norType = 0;
  int width = 8;
  int interleave = 1;
  std::string offsetText = "0";
  uint32_t offset = 0;
  // File Selection page; image paths are made absolute, as the file-open dialog gives them.
  std::array<bool, 3> imageEnabled{false, false, false};
  std::array<std::string, 3> imagePath{};
  std::array<std::string, 3> blockText{"0", "1", "2"};
  std::array<uint32_t, 3> block{0, 1, 2};
  // Pin Toggle and Multi USB JTAG pages.
  bool pinToggle = false;
  int intervalMs = 100;
  bool multiDevice = true;
  // zolt-flash's own.
  std::optional<double> stopAfterSeconds;
  std::string jsonPath;     // "" for no summary
  std::string historyPath;  // "" for no board history
  // Boards the run must find and program ok (1..16); none: no such check.
  std::optional<int> expectBoards;
  // Station mode: boards programmed as they arrive.
  bool station = false;
  int pollMs = 250;         // the station's poll period, 10..10000 ms
  uint64_t boardLimit = 0;  // the station stops accepting after this many boards; 0: no limit
  // Each block's data chunks with transfers in flight, when the link library can (--transfers-in-flight
  // or ZOLT_TRANSFERS_IN_FLIGHT=1); off: one synchronous write per chunk, as always.
  bool transfersInFlight = false;
};

struct ParseResult {
  bool run = false;  // true: options are complete, go on and run
  int exitCode = 0;  // when !run: 0 after --help/--version, 2 for a usage error
  std::string out;   // text for stdout (help, version)
  std::string err;   // text for stderr (the one usage line, ending in "\n")
};

ParseResult ParseCommandLine(int argc, const char* const argv[], FlashOptions& options);

// "2.0.0": the programmer's version.
const char* ProgrammerVersion();
// The short git commit the program was built from ("unknown" when not built from a checkout).
const char* ProgrammerCommit();

// The stop watchdog's limit (docs/cli.md, "Stopping") may be shortened or lengthened through this
// variable, in milliseconds; the tests shorten it.
inline constexpr const char* kStopWatchdogVariable = "ZOLT_FLASH_STOP_WATCHDOG_MS";
struct StopWatchdogSetting {
  std::optional<std::chrono::milliseconds> limit;  // none: the built-in limit
  std::string error;                               // a usage error when the text is bad
};
// `text` is the variable's value, or null when it is not set.
StopWatchdogSetting ReadStopWatchdogSetting(const char* text);

// Transfers in flight may also be switched on through this variable: "1" on, "0" or unset or empty
// off (the flag still turns it on); any other text is a usage error.
inline constexpr const char* kTransfersInFlightVariable = "ZOLT_TRANSFERS_IN_FLIGHT";
// Applies the variable's value (`text`, null when it is not set) to `options`; returns the usage
// error, or "" when all is well.
std::string ApplyTransfersInFlightVariable(const char* text, FlashOptions& options);
// The stderr line (without "\n") once a signal's stop request has reached the jobs: the operator
// knows it was heard, and a test knows that every job sees it from then on.
inline constexpr const char* kStopRequestedLine = "zolt-flash: stop requested; a second signal ends at once";
// The stderr line (without "\n") of a run or a station whose link library lacks the WriteChunks
// export.
inline constexpr const char* kNoTransfersInFlightLine =
    "zolt-flash: the link library cannot keep transfers in flight; streaming as usual";

}  // namespace zolt::cli
