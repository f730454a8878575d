// SPDX-License-Identifier: MIT
#include "jobs/board_record_json.h"

#include <ctime>

#include "core/json_text.h"
#include "jobs/text_format.h"

namespace zolt {
namespace {

using nlohmann::json;

json TextOrNull(const std::string& text) {
  return text.empty() ? json(nullptr) : json(ValidUtf8(text));
}

}  // namespace

json BoardRecordJson(const BoardRecord& r, bool ended) {
  json images = json::array();
  for (const BoardImage& image : r.images) {
    images.push_back({{"slot", image.slot + 1},
                      {"path", ValidUtf8(image.path)},
                      {"place", ValidUtf8(image.place)},
                      {"size", image.size},
                      // As the run summary writes CRCs: 8 lower-case hex digits.
                      {"crc32", Format("%08x", static_cast<unsigned>(image.crc32))},
                      {"sentBytes", image.sentBytes},
                      {"ok", image.ok}});
  }
  json failures = json::array();
  for (const std::string& text : r.failureTexts) failures.push_back(ValidUtf8(text));
  return json{
      {"event", ended ? "ended" : "started"},
      {"sequence", r.sequence},
      {"started", TextOrNull(r.startedUtc)},
      {"ended", ended ? TextOrNull(r.endedUtc) : json(nullptr)},
      {"device", r.device},
      {"location", ValidUtf8(r.location)},
      {"product", ValidUtf8(r.product)},
      {"jtagId", Format("0x%08X", static_cast<unsigned>(r.jtagId))},
      {"flash",
       {{"makerId", Format("0x%04X", static_cast<unsigned>(r.makerId))},
        {"deviceId", Format("0x%04X", static_cast<unsigned>(r.deviceId))},
        {"part", ValidUtf8(r.flashPart)}}},
      {"images", images},
      {"bytesSent", r.bytesSent},
      {"seconds", r.seconds},
      {"result", ended ? TextOrNull(r.result) : json(nullptr)},
      {"failures", failures},
      {"version", ValidUtf8(r.version)},
      {"host", ValidUtf8(r.host)},
  };
}

std::string UtcTimestamp(std::chrono::system_clock::time_point time) {
  using namespace std::chrono;
  // Rounded down, also before 1970, so that the seconds and the milliseconds agree.
  const auto ms = floor<milliseconds>(time).time_since_epoch().count();
  const auto secondsSinceEpoch = static_cast<std::time_t>(ms >= 0 ? ms / 1000 : -((-ms + 999) / 1000));
  const int millis = static_cast<int>(ms - static_cast<long long>(secondsSinceEpoch) * 1000);
  std::tm utc{};
  if (::gmtime_r(&secondsSinceEpoch, &utc) == nullptr) return "1970-01-01T00:00:00.000Z";
  return Format("%04d-%02d-%02dT%02d:%02d:%02d.%03dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec, millis);
}

}  // namespace zolt
