// SPDX-License-Identifier: MIT
// The history's JSON line of a board record, its time stamps, and the UTF-8 repair it shares with
// zolt-flash's summary.
#include "jobs/board_record_json.h"

#include <gtest/gtest.h>

#include "core/json_text.h"

namespace zolt {
namespace {

using nlohmann::json;
using std::chrono::milliseconds;
using std::chrono::system_clock;

BoardRecord EndedBoard() {
  BoardRecord r;
  r.sequence = 7;
  r.startedUtc = "2026-12-10T20:41:07.123Z";
  r.endedUtc = "2026-12-10T20:41:09.500Z";
  r.device = 3;
  r.location = "bench:b3";
  r.product = "KELDA";
  r.jtagId = 0x0B5A2F3F;
  r.makerId = 0x1C;
  r.deviceId = 0x4F;
  r.flashPart = "EN29LV040A";
  r.images.push_back({0, "/work/boot.bin", "block 1", 40000, 0x3a1f09c2, 40000, true});
  r.images.push_back({2, "/work/app.bin", "block 4", 3000, 0x0000abcd, 2048, false});
  r.bytesSent = 42048;
  r.seconds = 2.377;
  r.result = "failed";
  r.failureTexts = {"WRITE ERROR", "  second\r\n"};
  r.version = "2.0.0";
  r.host = "line-3";
  return r;
}

TEST(BoardRecordJson, EndedLineCarriesEveryField) {
  const json j = BoardRecordJson(EndedBoard(), true);
  const json expected = json::parse(R"({
    "event": "ended", "sequence": 7,
    "started": "2026-12-10T20:41:07.123Z", "ended": "2026-12-10T20:41:09.500Z",
    "device": 3, "location": "bench:b3", "product": "KELDA", "jtagId": "0x0B5A2F3F",
    "flash": {"makerId": "0x001C", "deviceId": "0x004F", "part": "EN29LV040A"},
    "images": [
      {"slot": 1, "path": "/work/boot.bin", "place": "block 1", "size": 40000, "crc32": "3a1f09c2",
       "sentBytes": 40000, "ok": true},
      {"slot": 3, "path": "/work/app.bin", "place": "block 4", "size": 3000, "crc32": "0000abcd",
       "sentBytes": 2048, "ok": false}],
    "bytesSent": 42048, "seconds": 2.377, "result": "failed",
    "failures": ["WRITE ERROR", "  second\r\n"], "version": "2.0.0", "host": "line-3"})");
  EXPECT_EQ(j, expected) << j.dump(2);
}

TEST(BoardRecordJson, StartedLineHasNoEndAndNoResult) {
  BoardRecord r = EndedBoard();
  // Even when the record already holds them (a writer that reuses it): a started line says nothing
  // of the end.
  const json j = BoardRecordJson(r, false);
  EXPECT_EQ(j["event"], "started");
  EXPECT_EQ(j["started"], "2026-12-10T20:41:07.123Z");
  EXPECT_TRUE(j["ended"].is_null());
  EXPECT_TRUE(j["result"].is_null());
  // An ended line whose record was never finished says so with nulls too, not with "".
  r.endedUtc.clear();
  r.result.clear();
  const json unfinished = BoardRecordJson(r, true);
  EXPECT_TRUE(unfinished["ended"].is_null());
  EXPECT_TRUE(unfinished["result"].is_null());
}

TEST(BoardRecordJson, EveryStringIsValidUtf8) {
  BoardRecord r = EndedBoard();
  r.images[0].path = "/work/b\xFFoot.bin";  // a Latin-1 name
  r.location = "usb:\xC3";                  // cut inside a sequence
  r.failureTexts = {"bad \x80 byte"};
  r.host = "h\xE2\x82";
  r.flashPart = "\xCE\xBC-part";  // valid: kept
  const json j = BoardRecordJson(r, true);
  // A strict dump throws on invalid UTF-8: this one must not need the repair.
  const std::string strict = j.dump();
  EXPECT_EQ(j["images"][0]["path"], "/work/b\xEF\xBF\xBDoot.bin");
  EXPECT_EQ(j["location"], "usb:\xEF\xBF\xBD");
  EXPECT_EQ(j["failures"][0], "bad \xEF\xBF\xBD byte");
  EXPECT_EQ(j["host"], "h\xEF\xBF\xBD");
  EXPECT_EQ(j["flash"]["part"], "\xCE\xBC-part");
  EXPECT_EQ(json::parse(strict), j);
}

TEST(JsonText, RepairsAsTheSummaryWritesIt) {
  struct Case {
    std::string text, repaired;
  };
  const Case cases[] = {
      {"plain", "plain"},
      {"\xE2\x82\xAC euro", "\xE2\x82\xAC euro"},
      {"\xFF", "\xEF\xBF\xBD"},
      {"a\x80\x80z", "a\xEF\xBF\xBD\xEF\xBF\xBDz"},
      {"\xC0\xAF", "\xEF\xBF\xBD\xEF\xBF\xBD"},                  // an overlong "/"
      {"\xED\xA0\x80", "\xEF\xBF\xBD\xEF\xBF\xBD\xEF\xBF\xBD"},  // a UTF-16 surrogate
      {std::string("nul\0in", 6), std::string("nul\0in", 6)},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.text);
    const std::string repaired = ValidUtf8(c.text);
    // The summary's text of the same string, read back, is the same repair.
    EXPECT_EQ(json::parse(JsonText(json(c.text), -1)).get<std::string>(), repaired);
    EXPECT_EQ(repaired, c.repaired);
    EXPECT_NO_THROW((void)json(repaired).dump());
  }
}

TEST(UtcTimestamp, IsoUtcWithMillisecondsRoundedDown) {
  struct Case {
    int64_t msSinceEpoch;
    const char* text;
  };
  const Case cases[] = {
      {0, "1970-01-01T00:00:00.000Z"},
      {1796935267123, "2026-12-10T20:41:07.123Z"},
      {951868799999, "2000-02-29T23:59:59.999Z"},  // a leap day's last millisecond
      {-1, "1969-12-31T23:59:59.999Z"},
  };
  for (const Case& c : cases) {
    EXPECT_EQ(UtcTimestamp(system_clock::time_point(milliseconds(c.msSinceEpoch))), c.text) << c.msSinceEpoch;
  }
  // Microseconds never round up into the next millisecond.
  EXPECT_EQ(UtcTimestamp(system_clock::time_point(std::chrono::microseconds(999999))),
            "1970-01-01T00:00:00.999Z");
}

}  // namespace
}  // namespace zolt
