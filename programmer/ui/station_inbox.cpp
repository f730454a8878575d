// SPDX-License-Identifier: MIT
#include "ui/station_inbox.h"

namespace zolt::ui {

bool StationMail::Empty() const {
  for (const auto& fixture : fixtures) {
    if (fixture) return false;
  }
  return started.empty() && ended.empty() && messages.empty() && notes.empty();
}

void StationInbox::ShowFixture(const FixtureStatus& status) {
  if (status.device < 0 || status.device >= kMaxProbes) return;
  std::lock_guard lock(mu_);
  mail_.fixtures[static_cast<size_t>(status.device)] = status;
}

void StationInbox::BoardStarted(const BoardRecord& record) {
  std::lock_guard lock(mu_);
  mail_.started.push_back(record);
}

void StationInbox::BoardEnded(const BoardRecord& record) {
  std::lock_guard lock(mu_);
  mail_.ended.push_back(record);
}

void StationInbox::ShowFixtureMessage(int device, std::string_view text) {
  std::lock_guard lock(mu_);
  mail_.messages.emplace_back(device, std::string(text));
}

void StationInbox::StationNote(std::string_view text) {
  std::lock_guard lock(mu_);
  mail_.notes.emplace_back(text);
}

StationMail StationInbox::Take() {
  std::lock_guard lock(mu_);
  return std::exchange(mail_, StationMail{});
}

}  // namespace zolt::ui
