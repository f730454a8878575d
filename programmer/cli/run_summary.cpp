// SPDX-License-Identifier: MIT
#include "cli/run_summary.h"

#include <cstdio>
#include <set>

#include "cli/cli_operator.h"
#include "core/json_text.h"
#include "probe/nor_type_table.h"
#include "probe/products.h"

namespace zolt::cli {

void RunSummary::OnJobStarted(int device) {
  std::lock_guard lock(mu_);
  devices_[device].started = true;
}

void RunSummary::OnProbeOpened(int device, const std::string& location) {
  std::lock_guard lock(mu_);
  devices_[device].location = location;
}

void RunSummary::OnFileEnded(int device, int file, const std::string& path, uint64_t fileSize,
                             uint64_t sentBytes, double seconds, uint32_t crc32, bool ok) {
  std::lock_guard lock(mu_);
  devices_[device].files.push_back({file + 1, path, fileSize, sentBytes, seconds, crc32, ok});
}

void RunSummary::OnJobEnded(int device, bool failed, const std::string& failureText) {
  std::lock_guard lock(mu_);
  Device& d = devices_[device];
  d.ended = true;
  d.failed = failed;
  d.failureText = failureText;
}

void RunSummary::OnPinApplyFailed() {
  pinApplyFailures_.fetch_add(1);
}

const char* OutcomeName(RunOutcome outcome) {
  switch (outcome) {
    case RunOutcome::kComplete:
      return "complete";
    case RunOutcome::kStopped:
      return "stopped";
    case RunOutcome::kToggleStopped:
      return "toggle-stopped";
    case RunOutcome::kNotStarted:
    case RunOutcome::kNone:
      return "not-started";
    default:
      return "failed";  // a failed download or toggle run
  }
}

nlohmann::json RunSummary::Build(const FlashOptions& o, const CliOperator& op, const Ending& ending,
                                 const std::string& bench) const {
  using nlohmann::json;
  const bool tarvis = o.productIndex == 0;
  json images = json::array();
  int enabledImages = 0;
  for (int slot = 0; slot < 3; ++slot) {
    if (!o.imageEnabled[slot]) continue;
    ++enabledImages;
    images.push_back({{"slot", slot + 1},
                      {"path", o.imagePath[slot]},
                      {"blockText", o.blockText[slot]},
                      {"block", o.block[slot]}});
  }
  json settings = {
      {"product", kProducts[o.productIndex].name},
      {"flashType", o.nandSelected ? "NAND" : "NOR"},
      {"norType", tarvis ? kAutoDetectName : kNorTypes[o.norType].listName},
      {"width", o.width},
      {"interleave", o.interleave},
      {"offsetText", o.offsetText},
      {"offset", o.offset},
      {"images", images},
      {"verify", o.verifyEnabled},
      {"multiDevice", o.multiDevice},
      {"toggle", o.pinToggle},
      {"intervalMs", o.intervalMs},
      {"stopAfterSeconds", o.stopAfterSeconds ? json(*o.stopAfterSeconds) : json(nullptr)},
  };

  json devices = json::array();
  {
    std::lock_guard lock(mu_);
    std::set<int> indices;
    for (int d : op.TakingPart()) indices.insert(d);
    for (const auto& [d, _] : devices_) indices.insert(d);
    for (int index : indices) {
      auto it = devices_.find(index);
      const Device empty;
      const Device& d = it == devices_.end() ? empty : it->second;
      json files = json::array();
      bool allSent = static_cast<int>(d.files.size()) >= enabledImages;
      for (const File& f : d.files) {
        char crc[16];
        std::snprintf(crc, sizeof crc, "%08x", static_cast<unsigned>(f.crc32));
        files.push_back({{"slot", f.slot},
                         {"path", f.path},
                         {"size", f.size},
                         {"bytesSent", f.sentBytes},
                         {"seconds", f.seconds},
                         {"crc32", crc},
                         {"ok", f.ok}});
        allSent = allSent && f.ok && f.sentBytes >= f.size;
      }
      std::string result;
      if (d.failed) {
        result = "failed";
      } else if (!d.ended) {
        result = d.started ? "unfinished" : "not-started";
      } else if (ending.stopRequested && !allSent) {
        result = "stopped";
      } else {
        result = "ok";
      }
      devices.push_back({{"index", index},
                         {"location", d.location},
                         {"result", result},
                         {"failureText", d.failureText},
                         {"files", files}});
    }
  }

  return json{
      {"program", "zolt-flash"},
      {"version", ProgrammerVersion()},
      {"settings", settings},
      {"devices", devices},
      {"result", ending.result},
      {"exitCode", ending.exitCode ? json(*ending.exitCode) : json(nullptr)},
      {"stopRequested", ending.stopRequested},
      {"elapsedSeconds", ending.elapsedSeconds},
      {"messages", op.Messages()},
      {"firmwareVersion", op.FirmwareVersion()},
      {"bootloaderVersion", op.BootloaderVersion()},
      {"bench", bench.empty() ? json(nullptr) : json(bench)},
      {"pinApplyFailures", PinApplyFailures()},
      {"internalError", ending.internalError.empty() ? json(nullptr) : json(ending.internalError)},
      {"expected", o.expectBoards ? json(*o.expectBoards) : json(nullptr)},
      {"found", ending.found ? json(*ending.found) : json(nullptr)},
      {"historyError", ending.historyError.empty() ? json(nullptr) : json(ending.historyError)},
  };
}

std::string SummaryText(const nlohmann::json& document) {
  return JsonText(document, 2) + "\n";
}

}  // namespace zolt::cli
