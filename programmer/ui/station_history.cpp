// SPDX-License-Identifier: MIT
#include "ui/station_history.h"

namespace zolt::ui {

HistoryOpener DefaultHistoryOpener() {
  return [](const std::string& path, std::string* error) -> std::unique_ptr<BoardHistory> {
    *error = path + ": history files are not supported by this build";
    return nullptr;
  };
}

}  // namespace zolt::ui
