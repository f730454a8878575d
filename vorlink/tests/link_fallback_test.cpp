// SPDX-License-Identifier: MIT
// The libusb0 fall-back of device index 0 is for a probe the primary transport does not list. A
// probe it lists that does not open (another program holds it, a claim or query that fails) is
// not looked for through libusb0: on Linux libusb 0.1 reaches the same probes, and its last one
// would be taken instead, with LinkMode libusb0 for the rest of the process.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "fake_transports.h"
#include "link.h"

namespace vorlink {
namespace {

using testing::FakeLibusb0Transport;
using testing::FakePrimaryTransport;
using testing::PrimaryFault;

constexpr uint16_t kVendor = 0x1F3A;

TEST(LinkFallback, OnlyAProbeThePrimaryTransportDoesNotListIsLookedForThroughLibusb0) {
  struct Case {
    const char* name;
    PrimaryFault fault;
    bool listed;  // the primary transport has a probe of product 0x16 at index 0
    bool fallsBack;
  };
  const Case cases[] = {
      {"listed, its path cannot be opened (held by another program)", PrimaryFault::kCreateFile, true, false},
      {"listed, its interface cannot be claimed", PrimaryFault::kInitialize, true, false},
      {"listed, its detail query fails", PrimaryFault::kDetailFails, true, false},
      {"listed, its speed query fails", PrimaryFault::kSpeed, true, false},
      {"listed, its interface settings query fails", PrimaryFault::kInterfaceSettings, true, false},
      {"not listed: no probe of the product", PrimaryFault::kNone, false, true},
      {"not listed: the set cannot be had", PrimaryFault::kClassDevices, true, true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePrimaryTransport primary;
    if (c.listed) {
      primary.devices = {{0x16, "usb:1-1", {}}, {0x16, "usb:1-2", {}}};
      for (auto& device : primary.devices) {
        device.pipes = {{PipeType::kBulk, 0x01, 64, 0}, {PipeType::kBulk, 0x82, 64, 0}};
      }
    }
    primary.fault = c.fault;
    FakeLibusb0Transport libusb0;
    libusb0.AddDevice(kVendor, 0x16);
    libusb0.AddDevice(kVendor, 0x16);  // the last one, which a fall-back would take
    Link link{primary, libusb0, LinkMode::kPrimary};

    EXPECT_EQ(link.OpenDevice(0x16, 0), c.fallsBack ? 1 : 0);
    EXPECT_EQ(link.Mode(), c.fallsBack ? LinkMode::kLibusb0 : LinkMode::kPrimary);
    EXPECT_EQ(libusb0.Count("open"), c.fallsBack ? 1 : 0);
    EXPECT_EQ(primary.Live(), 0);
    if (!c.fallsBack) {
      // The probe at index 0 opens through the primary transport once it is free again.
      primary.fault = PrimaryFault::kNone;
      EXPECT_EQ(link.OpenDevice(0x16, 0), 1);
      EXPECT_EQ(link.Mode(), LinkMode::kPrimary);
      EXPECT_EQ(libusb0.calls, std::vector<std::string>{});
    }
  }
}

}  // namespace
}  // namespace vorlink
