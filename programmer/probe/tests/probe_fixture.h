// SPDX-License-Identifier: MIT
// What every command test needs: a scripted link, an operator that records its boxes, and the
// commands bound to both.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "probe/probe_commands.h"
#include "testing/recording_operator.h"
#include "testing/scripted_link.h"

namespace zolt::testing {

class ProbeFixture : public ::testing::Test {
 protected:
  static constexpr int kDevice = 3;

  // A response of `length` bytes starting with `first` (the rest zero).
  static std::vector<uint8_t> Answer(uint8_t first, size_t length = 5) {
    std::vector<uint8_t> bytes(length, 0);
    bytes[0] = first;
    return bytes;
  }
  static std::vector<uint8_t> Text(const std::string& text) { return {text.begin(), text.end()}; }

  // Only the Writes and Reads of the device, in order, as "W len/timeout" and "R len/timeout".
  std::vector<std::string> Transfers() const {
    std::vector<std::string> out;
    for (const LinkCall& c : link.Calls(kDevice)) {
      if (c.kind == LinkCall::Kind::kWrite)
        out.push_back("W" + std::to_string(c.length) + "/" + std::to_string(c.timeoutMs));
      if (c.kind == LinkCall::Kind::kRead)
        out.push_back("R" + std::to_string(c.length) + "/" + std::to_string(c.timeoutMs));
    }
    return out;
  }

  ScriptedLink link;
  RecordingOperator op;
  ProbeCommands probe{link.link(), op};
};

}  // namespace zolt::testing
