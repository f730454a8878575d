// SPDX-License-Identifier: MIT
// Whether the environment asks the dialog and the station window for transfers in flight:
// ZOLT_TRANSFERS_IN_FLIGHT=1 only. Unlike zolt-flash, the dialog program refuses no other value
// and says nothing when the link library cannot keep transfers in flight (it then streams as usual).
#pragma once

#include <cstdlib>
#include <string_view>

namespace zolt::ui {

inline bool TransfersInFlightAsked() {
  const char* value = std::getenv("ZOLT_TRANSFERS_IN_FLIGHT");
  return value != nullptr && std::string_view(value) == "1";
}

}  // namespace zolt::ui
