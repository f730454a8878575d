// SPDX-License-Identifier: MIT
// The station window's texts: the read-only settings header every board will receive, a board
// record in full (the recent-boards box), and the table's short cells.
//
// Threads: any (pure functions). Nothing blocks; nothing fails.
#pragma once

#include <QString>
#include <QStringList>

#include "core/run_request.h"
#include "jobs/board_record.h"

namespace zolt::ui {

// One line per setting: "Product: KELDA", "Flash: NOR", "NOR: EN29LV040A, width 8, interleave 1,
// offset 0x00010000" (NOR only), "Image #1: app.bin, block 1" per enabled slot, "Verify: on".
QStringList SettingsLines(const RunRequest& request, bool verify);

// Every field of `record`, one "Name: value" line each, images and failure texts included.
QString RecordText(const BoardRecord& record);

// The table's cells: the end time in local time ("20:41:07"; the UTC text itself if it cannot
// be read), "#3 usb:1-2.4", the result, "12.3 s", the failure texts joined by "; ".
QString RecordTimeCell(const BoardRecord& record);
QString RecordFixtureCell(const BoardRecord& record);
QString RecordDurationCell(const BoardRecord& record);
QString RecordFailureCell(const BoardRecord& record);

// "01:02:03" for 3723 seconds.
QString HoursMinutesSeconds(double seconds);

}  // namespace zolt::ui
