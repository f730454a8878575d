// SPDX-License-Identifier: MIT
// A BoardRecord as the history's JSON line (fields documented in docs/cli.md, "The board
// history"), and the UTC time stamps the records carry.
//
// Pure functions: any thread; never block, never throw (only std::bad_alloc). Every string of the
// document is valid UTF-8 (invalid bytes became U+FFFD), so any writer may dump it.
#pragma once

#include <chrono>
#include <nlohmann/json.hpp>
#include <string>

#include "jobs/board_record.h"

namespace zolt {

// The record as a "started" line (`ended` false: no end time, no result yet) or an "ended" line.
nlohmann::json BoardRecordJson(const BoardRecord& record, bool ended);

// "2026-12-10T20:41:07.123Z": ISO 8601, UTC, milliseconds (rounded down).
std::string UtcTimestamp(std::chrono::system_clock::time_point time);

}  // namespace zolt
