// SPDX-License-Identifier: MIT
#include "cli/options.h"

#include <CLI/CLI.hpp>
#include <algorithm>
#include <cctype>
#include <cmath>
#include <filesystem>
#include <sstream>
#include <string_view>

#include "cli/page_text.h"
#include "cli/terminal_text.h"
#include "probe/nor_type_table.h"
#include "probe/products.h"

#ifndef ZOLT_VERSION
#define ZOLT_VERSION "0.0.0"
#endif
#ifndef ZOLT_GIT_COMMIT
#define ZOLT_GIT_COMMIT "unknown"
#endif

namespace zolt::cli {
namespace {

std::string Upper(std::string text) {
  for (char& c : text) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return text;
}

// Strict decimal integer: digits only, no sign, no blanks.
std::optional<long> ReadInteger(const std::string& text) {
  if (text.empty() || text.size() > 9) return std::nullopt;
  for (char c : text) {
    if (c < '0' || c > '9') return std::nullopt;
  }
  return std::stol(text);
}

// The full path of an image, as the file-open dialog would give it. "." segments go; ".." stays,
// since "link/.." is not the folder holding "link" when "link" is a symbolic link.
std::string FullPath(const std::string& path) {
  std::error_code ec;
  std::filesystem::path absolute = std::filesystem::absolute(path, ec);
  if (ec) return path;
  std::filesystem::path cleaned;
  for (const auto& part : absolute) {
    if (part != ".") cleaned /= part;
  }
  return cleaned.string();
}

// The page's reading, made strict: a script's "0x10" for a block, or "1O" with a letter O, must not
// quietly select block 0 or 1. Leading blanks are skipped as the page skips them.
std::string StrictError(const std::string& text, const PageNumber& read) {
  if (!read.error.empty()) return read.error;
  if (read.digits == 0) return "no digits";
  if (read.end < text.size()) {
    return "the character '" + text.substr(read.end, 1) + "' after the digits is not allowed";
  }
  return {};
}

struct RawOptions {
  std::string product = "TARVIS";
  bool nand = false, nor = false;
  std::string norType, width, interleave;
  std::string offset = "0";
  std::array<std::string, 3> image;
  std::array<bool, 3> imageGiven{};
  std::array<std::string, 3> block{"0", "1", "2"};
  bool noVerify = false, single = false, toggle = false;
  std::string interval = "100";
  std::string stopAfter;
  std::string json;
  std::string history, expect;
  bool station = false;
  std::string poll, boards;
  bool transfersInFlight = false;
};

const char* const kFooter = R"(Output:
  stdout  every text appended to the log, byte for byte (CR LF line ends included), in order.
  stderr  every message box text as one line "message: TEXT"; the box counts as acknowledged at once.
          When stderr is a terminal, a progress line (run percentage, elapsed "mm : ss", throughput,
          time left, per-device percentages) is redrawn in place.

Exit status:
  0    download complete (no job failed, no stop requested), or a toggle run that stopped normally
  1    a job failed, or the run could not start (library not loaded, no matching probe, no image file),
       or fewer boards than --expect, or a --history line could not be written
  2    usage error
  3    a download stopped on request (first SIGINT/SIGTERM, or --stop-after)
  130  a second SIGINT/SIGTERM ends the program at once

libVorlink.so is loaded from the directory of this program first, then from the loader's path.)";

// "TARVIS, KELDA, ..." from the product table.
std::string ProductNames(const char* separator) {
  std::string names;
  for (const ProductSettings& product : kProducts)
    names += (names.empty() ? "" : separator) + std::string(product.name);
  return names;
}

// "EN29LV010A, EN29LV040A, ..." as the Nor Type list spells them.
std::string NorTypeListNames() {
  std::string names;
  for (const NorTypeNames& type : kNorTypes)
    names += (names.empty() ? "" : ", ") + std::string(type.listName);
  return names;
}

void DeclareOptions(CLI::App& app, RawOptions& raw) {
  app.add_option("--product", raw.product,
                 ProductNames(" | ") + " (any letter case); default " + kProducts[0].name)
      ->type_name("NAME");
  app.add_flag(
      "--nand", raw.nand,
      "NAND flash (default: what the dialog selects for the product: NOR for TARVIS and SOLANT, NAND "
      "for the others); not with SOLANT");
  app.add_flag("--nor", raw.nor, "NOR flash (see --nand for the default)");
  app.add_option("--nor-type", raw.norType,
                 "NOR type as the list shows it: " + NorTypeListNames() +
                     "; selects width 8 for the first three, 16 for the others; default " +
                     kNorTypes[0].listName + "; ignored for TARVIS (" + kAutoDetectName + ")")
      ->type_name("NAME");
  app.add_option("--width", raw.width,
                 "8 | 16: overrides the width --nor-type selected; default 8 (TARVIS: 8)")
      ->type_name("8|16");
  app.add_option("--interleave", raw.interleave, "1 | 2; default 1 (TARVIS: 1)")->type_name("1|2");
  app.add_option(
         "--offset", raw.offset,
         "NOR offset text, hexadecimal, \"0x\" allowed, leading digits count (as the Nor Options page "
         "reads it); default 0")
      ->type_name("TEXT");
  for (int slot = 0; slot < 3; ++slot) {
    std::string n = std::to_string(slot + 1);
    app.add_option("--image" + n, raw.image[slot],
                   "enable image slot #" + n + " with this file (slots not named stay disabled)")
        ->type_name("PATH")
        ->each([&raw, slot](const std::string&) { raw.imageGiven[slot] = true; });
  }
  for (int slot = 0; slot < 3; ++slot) {
    std::string n = std::to_string(slot + 1);
    app.add_option("--block" + n, raw.block[slot],
                   "\"Blk No\" text of slot #" + n + ", decimal, leading digits count; default " +
                       std::to_string(slot))
        ->type_name("N");
  }
  app.add_flag("--no-verify", raw.noVerify, "clear the Verify box (checked by default)");
  app.add_flag("--single", raw.single,
               "clear \"Enable Multi Device\" (checked by default: all matching probes are used)");
  app.add_flag("--toggle", raw.toggle,
               "pin toggling (KELDA, VTN3300, OKO) instead of a download; runs until stopped; default off");
  app.add_option("--interval", raw.interval, "toggle half-period in ms, 1 to 500; default 100")
      ->type_name("MS");
  app.add_option("--stop-after", raw.stopAfter,
                 "request STOP this many seconds after RUN, as a press of STOP would; default: never")
      ->type_name("SECONDS");
  app.add_option("--json", raw.json,
                 "write a machine-readable summary of the run to FILE, also when it fails or is stopped; "
                 "default: none")
      ->type_name("FILE");
  app.add_option("--history", raw.history,
                 "append one JSON line per board to FILE when its job starts and one when it ends "
                 "(a regular file, made if missing); default: none")
      ->type_name("FILE");
  app.add_option("--expect", raw.expect,
                 "boards the run must find and program ok, 1 to 16; fewer is exit status 1; default: no "
                 "such check")
      ->type_name("N");
  app.add_flag("--station", raw.station,
               "station mode: program boards as they arrive on the fixtures, until stopped");
  app.add_option("--poll", raw.poll, "station: poll period in ms, 10 to 10000; default 250")->type_name("MS");
  app.add_option("--boards", raw.boards, "station: stop accepting after N boards; default: no limit")
      ->type_name("N");
  app.add_flag("--transfers-in-flight", raw.transfersInFlight,
               "send each block's data chunks all in flight when the link library can (else as usual); "
               "also ZOLT_TRANSFERS_IN_FLIGHT=1; default off: one write at a time");
}

// What the parser lets through but a script must not get wrong: an empty value, which would read
// as "none" or as the default (--json "", --nor-type ""), and a value given to a flag
// ("--nor=false" would clear the flag the name sets).
std::string CheckGivenValues(const CLI::App& app) {
  for (const CLI::Option* option : app.get_options()) {
    if (option->count() == 0) continue;
    const std::string name = option->get_name();
    for (const std::string& value : option->results()) {
      if (option->get_expected_min() == 0) {  // a flag (its type size is 1 in this CLI11)
        if (value != "true") return name + ": a flag takes no value, not '" + value + "'";
      } else if (value.empty()) {
        return name + ": an empty value is not allowed; leave the option out for its default";
      }
    }
  }
  return {};
}

// The history, the board count and the station's settings, and what they cannot go with.
std::string ResolveRunKind(const RawOptions& raw, FlashOptions& o) {
  o.historyPath = raw.history;
  if (!raw.history.empty() && o.pinToggle) return "--history: a pin toggle run programs no board";

  o.expectBoards.reset();
  if (!raw.expect.empty()) {
    auto n = ReadInteger(raw.expect);
    if (!n || *n < 1 || *n > 16) return "--expect: '" + raw.expect + "' is not allowed; allowed: 1 to 16";
    if (o.pinToggle) return "--expect: a pin toggle run programs no board";
    // Without "Enable Multi Device" only the first matching probe is used.
    if (!o.multiDevice && *n > 1) return "--expect: --single programs one board, not " + raw.expect;
    o.expectBoards = static_cast<int>(*n);
  }

  o.station = raw.station;
  if (raw.station && o.pinToggle) return "--station: programs boards; it does not toggle pins (--toggle)";
  if (raw.station && o.expectBoards) return "--station: takes boards as they come; --expect is for one run";
  if (raw.station && !o.jsonPath.empty()) return "--json: a station records each board with --history";
  if (raw.station && o.stopAfterSeconds) return "--stop-after: a station ends on a signal or with --boards";
  if (raw.station && !o.multiDevice) return "--station: every fixture takes boards; --single is for one run";
  o.pollMs = 250;
  if (!raw.poll.empty()) {
    if (!raw.station) return "--poll: only with --station";
    auto ms = ReadInteger(raw.poll);
    if (!ms || *ms < 10 || *ms > 10000) {
      return "--poll: '" + raw.poll + "' is not allowed; allowed: 10 to 10000 (milliseconds)";
    }
    o.pollMs = static_cast<int>(*ms);
  }
  o.transfersInFlight = raw.transfersInFlight;
  o.boardLimit = 0;
  if (!raw.boards.empty()) {
    if (!raw.station) return "--boards: only with --station";
    auto n = ReadInteger(raw.boards);
    if (!n || *n < 1) return "--boards: '" + raw.boards + "' is not allowed; allowed: 1 to 999999999";
    o.boardLimit = static_cast<uint64_t>(*n);
  }
  return {};
}

// Turns the raw texts into FlashOptions; returns the usage line on error ("" when all is well).
std::string Resolve(const RawOptions& raw, FlashOptions& o) {
  std::string product = Upper(raw.product);
  auto row = std::find_if(kProducts.begin(), kProducts.end(),
                          [&](const ProductSettings& p) { return product == p.name; });
  if (row == kProducts.end()) {
    return "--product: '" + raw.product + "' is not a product; allowed: " + ProductNames(", ");
  }
  o.productIndex = static_cast<int>(row - kProducts.begin());
  const bool tarvis = o.productIndex == 0, solant = o.productIndex == 4;

  if (raw.nand && raw.nor) return "--nand, --nor: choose one flash type";
  if (raw.nand && solant) return "--nand: SOLANT takes NOR flash only; use --nor or leave both out";
  // What choosing the product row selects, unless a flash type button was pressed.
  bool nand = raw.nand || (!raw.nor && !tarvis && !solant);
  o.nandSelected = nand;
  o.norSelected = !nand;

  o.norType = 0;
  o.width = 8;
  if (!raw.norType.empty()) {
    // The list's spelling, or the log's for the one type they spell differently.
    o.norType = FindNorType(Upper(raw.norType));
    if (o.norType < 0) {
      return "--nor-type: '" + raw.norType + "' is not in the NOR type list; allowed: " + NorTypeListNames();
    }
    o.width = kNorTypes[o.norType].width;
  }
  if (!raw.width.empty()) {
    if (raw.width != "8" && raw.width != "16")
      return "--width: '" + raw.width + "' is not allowed; allowed: 8, 16";
    o.width = raw.width == "8" ? 8 : 16;
  }
  o.interleave = 1;
  if (!raw.interleave.empty()) {
    if (raw.interleave != "1" && raw.interleave != "2") {
      return "--interleave: '" + raw.interleave + "' is not allowed; allowed: 1, 2";
    }
    o.interleave = raw.interleave == "1" ? 1 : 2;
  }
  if (tarvis) {
    // Row 0 shows "AutoDetect" and selects 8 and 1 in the disabled lists.
    o.width = 8;
    o.interleave = 1;
  }

  PageNumber offset = ReadOffsetText(raw.offset);
  std::string offsetError = StrictError(raw.offset, offset);
  if (!offsetError.empty()) {
    return "--offset: '" + raw.offset + "': " + offsetError +
           "; allowed: hexadecimal 0 to FFFFFFFF, \"0x\" allowed";
  }
  o.offsetText = raw.offset;
  o.offset = offset.value;

  for (int slot = 0; slot < 3; ++slot) {
    const std::string n = std::to_string(slot + 1);
    PageNumber block = ReadBlockText(raw.block[slot]);
    std::string blockError = StrictError(raw.block[slot], block);
    if (!blockError.empty()) {
      return "--block" + n + ": '" + raw.block[slot] + "': " + blockError +
             "; allowed: decimal 0 to 4294967295";
    }
    o.blockText[slot] = raw.block[slot];
    o.block[slot] = block.value;
    o.imageEnabled[slot] = raw.imageGiven[slot];
    o.imagePath[slot].clear();
    if (raw.imageGiven[slot] && !raw.image[slot].empty()) {
      o.imagePath[slot] = FullPath(raw.image[slot]);
    }
  }

  o.verifyEnabled = !raw.noVerify;
  o.multiDevice = !raw.single;
  o.pinToggle = raw.toggle;
  if (raw.toggle && (tarvis || solant)) {
    return "--toggle: pin toggling is for KELDA, VTN3300 and OKO only, not " +
           std::string(kProducts[o.productIndex].name);
  }
  auto interval = ReadInteger(raw.interval);
  if (!interval || *interval < 1 || *interval > 500) {
    return "--interval: '" + raw.interval + "' is not allowed; allowed: 1 to 500 (milliseconds)";
  }
  o.intervalMs = static_cast<int>(*interval);

  o.stopAfterSeconds.reset();
  if (!raw.stopAfter.empty()) {
    std::istringstream in(raw.stopAfter);
    double seconds = -1;
    in >> std::noskipws >> seconds;
    if (!in || !in.eof() || !std::isfinite(seconds) || seconds < 0 || seconds > 1e7) {
      return "--stop-after: '" + raw.stopAfter + "' is not allowed; allowed: seconds from 0 to 10000000";
    }
    o.stopAfterSeconds = seconds;
  }
  o.jsonPath = raw.json;
  return ResolveRunKind(raw, o);
}

}  // namespace

const char* ProgrammerVersion() {
  return ZOLT_VERSION;
}

const char* ProgrammerCommit() {
  return ZOLT_GIT_COMMIT;
}

StopWatchdogSetting ReadStopWatchdogSetting(const char* text) {
  StopWatchdogSetting setting;
  if (text == nullptr) return setting;
  const std::string value = text;
  auto ms = ReadInteger(value);
  if (!ms || *ms < 1) {
    setting.error = std::string(kStopWatchdogVariable) + ": '" + value +
                    "' is not allowed; allowed: milliseconds from 1 to 999999999";
    return setting;
  }
  setting.limit = std::chrono::milliseconds(*ms);
  return setting;
}

std::string ApplyTransfersInFlightVariable(const char* text, FlashOptions& options) {
  if (text == nullptr || *text == '\0' || std::string_view(text) == "0") return {};
  if (std::string_view(text) != "1") {
    return std::string(kTransfersInFlightVariable) + ": '" + text +
           "' is not allowed; allowed: 1 (on), 0 (off)";
  }
  options.transfersInFlight = true;
  return {};
}

ParseResult ParseCommandLine(int argc, const char* const argv[], FlashOptions& options) {
  CLI::App app{
      "Sets what the main dialog would show and presses RUN once, then exits when the run has ended.",
      "zolt-flash"};
  app.set_version_flag(
      "--version", std::string("zolt-flash ") + ProgrammerVersion() + " (commit " + ProgrammerCommit() + ")",
      "print the programmer's version and the commit it was built from, and exit");
  app.set_help_flag("--help", "print this help and exit");
  app.footer(kFooter);
  app.get_formatter()->column_width(30);
  RawOptions raw;
  DeclareOptions(app, raw);

  // Every option and flag once: a second one would silently win (or lose) over the first.
  for (CLI::Option* option : app.get_options()) option->multi_option_policy(CLI::MultiOptionPolicy::Throw);

  ParseResult result;
  try {
    app.parse(argc, argv);
  } catch (const CLI::CallForHelp&) {
    result.out = app.help();
    return result;
  } catch (const CLI::CallForVersion& e) {
    result.out = std::string(e.what()) + "\n";
    return result;
  } catch (const CLI::ParseError& e) {
    result.exitCode = 2;
    std::string what = e.what();
    std::replace(what.begin(), what.end(), '\n', ' ');
    result.err = "zolt-flash: " + EscapeForTerminal(what) + " (see zolt-flash --help)\n";
    return result;
  }
  std::string error = CheckGivenValues(app);
  if (error.empty()) error = Resolve(raw, options);
  if (!error.empty()) {
    result.exitCode = 2;
    result.err = "zolt-flash: " + EscapeForTerminal(error) + "\n";
    return result;
  }
  result.run = true;
  return result;
}

}  // namespace zolt::cli
