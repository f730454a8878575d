// SPDX-License-Identifier: MIT
#include "ui/station_history.h"

#include "jobs/history_file.h"

namespace zolt::ui {

HistoryOpener DefaultHistoryOpener() {
  return [](const std::string& path, std::string* error) -> std::unique_ptr<BoardHistory> {
    return HistoryFile::Open(path, error);
  };
}

}  // namespace zolt::ui
