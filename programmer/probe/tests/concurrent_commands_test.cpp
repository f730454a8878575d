// SPDX-License-Identifier: MIT
// Several jobs drive their own probes at once: each command keeps its buffers to itself, so one
// device's bytes never end up in another device's exchange.
#include <thread>

#include "probe_fixture.h"

namespace zolt::testing {
namespace {

std::vector<uint8_t> IdBits(uint32_t id) {
  std::vector<uint8_t> bits(32);
  for (int k = 0; k < 32; ++k) bits[k] = (id >> k) & 1;
  return bits;
}

uint32_t IdOf(int device) {
  return 0x10000001u | uint32_t(device) << 8;
}

TEST(ConcurrentCommands, EachDeviceSeesOnlyItsOwnExchanges) {
  constexpr int kDevices = 8, kRounds = 200;
  ScriptedLink link;
  RecordingOperator op;
  ProbeCommands probe(link.link(), op);
  link.SetResponderForAll([](int device, const std::vector<uint8_t>& cmd, int) -> ReadReply {
    // The command written just before must be this device's own.
    if (cmd.at(0) == 0x11 && cmd.at(1) == device) return {1, IdBits(IdOf(device))};
    if (cmd.at(0) == 0x03 && cmd.at(1) == device) return {1, {0x51, 0, 0, 0, 0}};
    return {0, {}};
  });
  std::vector<int> failures(kDevices, 0);
  {
    std::vector<std::jthread> jobs;
    for (int d = 0; d < kDevices; ++d) {
      jobs.emplace_back([&, d] {
        const uint8_t param[4] = {uint8_t(d), 0, 0, 0};
        for (int round = 0; round < kRounds; ++round) {
          if (!probe.SetJtagType(d, uint8_t(d)).ok() || probe.ReadJtagId(d, param) != IdOf(d)) ++failures[d];
        }
      });
    }
  }
  EXPECT_EQ(failures, std::vector<int>(kDevices, 0));
  EXPECT_TRUE(op.Messages().empty());
  for (int d = 0; d < kDevices; ++d) EXPECT_EQ(link.Calls(d).size(), size_t(4 * kRounds)) << d;
}

}  // namespace
}  // namespace zolt::testing
