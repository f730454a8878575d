// SPDX-License-Identifier: MIT
#include "jobs/board_recorder.h"

#include <algorithm>

#include "jobs/board_record_json.h"
#include "jobs/text_format.h"
#include "probe/products.h"

namespace zolt {

std::string ImagePlace(const RunRequest& request, int slot) {
  std::string place = Format("block %u", static_cast<unsigned>(request.Block(slot)));
  if (request.flashType == FlashType::kNor) place += Format(", offset 0x%08X", request.Offset());
  return place;
}

BoardRecorder::BoardRecorder(const RunRequest& request, BoardRecorderOptions options)
    : request_(request), options_(std::move(options)) {
  if (options_.clock == nullptr) options_.clock = &SystemTickClock();
  if (!options_.wallClock) options_.wallClock = [] { return std::chrono::system_clock::now(); };
}

void BoardRecorder::Log(const BoardRecord& record, bool ended) {
  if (options_.history == nullptr) return;
  std::string error;
  if (options_.history->Append(record, ended, &error)) return;
  if (error.empty()) error = "a history line could not be written";
  bool first;
  {
    std::lock_guard lock(mu_);
    first = historyError_.empty();
    if (first) historyError_ = error;
  }
  if (first && options_.onHistoryError) options_.onHistoryError(error);
}

void BoardRecorder::OnJobStarted(int device) {
  {
    std::lock_guard lock(mu_);
    Board& b = boards_[device];
    b = Board{};
    BoardRecord& r = b.record;
    r.sequence = ++sequence_;
    r.startedUtc = UtcTimestamp(options_.wallClock());
    r.device = device;
    r.location = "unknown";
    const ProductSettings* product = FindProduct(request_.productIndex);
    r.product = product != nullptr ? product->name : "?";
    // Identification let only boards that answered this ID take part.
    r.jtagId = product != nullptr ? product->expectedJtagId : 0;
    r.version = options_.version;
    r.host = options_.host;
    b.startMs = options_.clock->NowMs();
  }
  if (options_.next != nullptr) options_.next->OnJobStarted(device);
}

void BoardRecorder::OnProbeOpened(int device, const std::string& location) {
  BoardRecord started;
  bool log = false;
  {
    std::lock_guard lock(mu_);
    auto it = boards_.find(device);
    if (it != boards_.end() && !it->second.startLogged) {
      it->second.record.location = location;
      it->second.startLogged = true;
      started = it->second.record;
      log = true;
    }
  }
  if (log) Log(started, false);
  if (options_.next != nullptr) options_.next->OnProbeOpened(device, location);
}

void BoardRecorder::OnFlashIdentified(int device, uint16_t makerId, uint16_t deviceId,
                                      const std::string& part) {
  {
    std::lock_guard lock(mu_);
    auto it = boards_.find(device);
    if (it != boards_.end()) {
      it->second.record.makerId = makerId;
      it->second.record.deviceId = deviceId;
      it->second.record.flashPart = part;
    }
  }
  if (options_.next != nullptr) options_.next->OnFlashIdentified(device, makerId, deviceId, part);
}

void BoardRecorder::OnFileEnded(int device, int file, const std::string& path, uint64_t fileSize,
                                uint64_t sentBytes, double seconds, uint32_t crc32, bool ok) {
  {
    std::lock_guard lock(mu_);
    auto it = boards_.find(device);
    if (it != boards_.end()) {
      BoardRecord& r = it->second.record;
      r.images.push_back({file, path, ImagePlace(request_, file), fileSize, crc32, sentBytes, ok});
      r.bytesSent += sentBytes;
    }
  }
  if (options_.next != nullptr)
    options_.next->OnFileEnded(device, file, path, fileSize, sentBytes, seconds, crc32, ok);
}

void BoardRecorder::OnJobEnded(int device, bool failed, const std::string& failureText) {
  BoardRecord ended;
  bool found = false, logStart = false;
  {
    std::lock_guard lock(mu_);
    auto it = boards_.find(device);
    if (it != boards_.end()) {
      Board& b = it->second;
      BoardRecord& r = b.record;
      r.endedUtc = UtcTimestamp(options_.wallClock());
      r.seconds = static_cast<uint32_t>(options_.clock->NowMs() - b.startMs) / 1000.0;
      const bool stopped =
          std::any_of(r.images.begin(), r.images.end(), [](const BoardImage& i) { return !i.ok; });
      // A file short of its image without a failure is one the stop marker cut short.
      r.result = failed ? "failed" : stopped ? "stopped" : "ok";
      if (!failureText.empty()) r.failureTexts.push_back(failureText);
      logStart = !b.startLogged;  // the probe never opened: the start still gets its line
      b.startLogged = true;
      ended = r;
      found = true;
    }
  }
  if (found) {
    if (logStart) {
      BoardRecord started = ended;
      started.endedUtc.clear();
      started.result.clear();
      Log(started, false);
    }
    Log(ended, true);
  }
  if (options_.next != nullptr) options_.next->OnJobEnded(device, failed, failureText);
}

void BoardRecorder::OnPinApplyFailed() {
  if (options_.next != nullptr) options_.next->OnPinApplyFailed();
}

std::vector<BoardRecord> BoardRecorder::Records() const {
  std::lock_guard lock(mu_);
  std::vector<BoardRecord> records;
  for (const auto& [device, b] : boards_) records.push_back(b.record);
  std::sort(records.begin(), records.end(),
            [](const BoardRecord& a, const BoardRecord& b) { return a.sequence < b.sequence; });
  return records;
}

int BoardRecorder::OkBoards() const {
  std::lock_guard lock(mu_);
  return static_cast<int>(std::count_if(boards_.begin(), boards_.end(),
                                        [](const auto& b) { return b.second.record.result == "ok"; }));
}

std::string BoardRecorder::HistoryError() const {
  std::lock_guard lock(mu_);
  return historyError_;
}

}  // namespace zolt
