// SPDX-License-Identifier: MIT
// The link library's logic against fake transports: the primary open and its failure paths,
// pipe classification, transfers and close, the fall-back to libusb0 and the rules that keep
// one libusb0 probe from being opened sixteen times or reused after it was closed.
#include "link.h"

#include <gtest/gtest.h>

#include <climits>
#include <string>

#include "fake_transports.h"
#include "guid.h"
#include "pipe_classification.h"

namespace vorlink {
namespace {

using testing::FakeLibusb0Transport;
using testing::FakePrimaryTransport;
using testing::PrimaryFault;

constexpr uint16_t kVendor = 0x1F3A;

class LinkTest : public ::testing::Test {
 protected:
  // Two probes of product 0x16 and one of another product, all reachable through the primary
  // transport.
  void SetUp() override {
    primary.devices = {{0x16, "usb:1-1", {}}, {0x11, "usb:1-2", {}}, {0x16, "usb:1-3", {}}};
    for (auto& device : primary.devices) {
      device.pipes = {{PipeType::kBulk, 0x01, 64, 0}, {PipeType::kBulk, 0x82, 64, 0}};
    }
  }
  int WriteBytes(int index, std::vector<unsigned char> bytes, int* count, int timeoutMs = 500) {
    return link.Write(index, bytes.data(), static_cast<int>(bytes.size()), count, timeoutMs);
  }

  FakePrimaryTransport primary;
  FakeLibusb0Transport libusb0;
  Link link{primary, libusb0, LinkMode::kPrimary};
};

TEST(ProductGuidTable, LooksUpTheLow16BitsAndStopsAtTheEndingRow) {
  struct Case {
    int productId;
    const char* guid;  // null: no row
  };
  const Case cases[] = {
      {0x11, "{B35924D6-3E16-4A9E-9782-5524A4B79BAC}"},
      {0x16, "{6AA0659D-4C31-4680-B71B-817A4FDF3949}"},
      {0x17, "{7665EEE0-F3AA-4B8C-BD2C-FDAFBAFCE30F}"},
      {0x10016, "{6AA0659D-4C31-4680-B71B-817A4FDF3949}"},  // only the low 16 bits count
      {0x18, nullptr},
      {0x10, nullptr},
      {0, nullptr},  // the ending row's ID is no product
      {-1, nullptr},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.productId);
    const std::optional<Guid> guid = LookUpProductGuid(c.productId);
    if (!c.guid) {
      EXPECT_FALSE(guid);
      continue;
    }
    ASSERT_TRUE(guid);
    EXPECT_EQ(FormatGuid(*guid), c.guid);
    EXPECT_EQ(LookUpGuidProduct(*guid), c.productId & 0xFFFF);
  }
  EXPECT_EQ(ProductGuidTable().size(), 8u);
  EXPECT_EQ(ProductGuidTable().back().productId, 0);
}

TEST(PipeClassification, FollowsTypeAndDirectionAndStopsAtControlOrIsochronous) {
  using P = PipeInformation;
  const P bulkOut{PipeType::kBulk, 0x01, 64, 0}, bulkIn{PipeType::kBulk, 0x82, 64, 0};
  const P bulkOut2{PipeType::kBulk, 0x03, 64, 0}, bulkIn2{PipeType::kBulk, 0x84, 64, 0};
  const P interrupt{PipeType::kInterrupt, 0x85, 8, 1}, control{PipeType::kControl, 0x00, 64, 0};
  const P iso{PipeType::kIsochronous, 0x86, 64, 1};
  struct Case {
    const char* name;
    std::vector<P> pipes;
    uint8_t in, out, irq;  // expected; the record starts as 0xA1 / 0x0A / 0xA3
  };
  const Case cases[] = {
      {"in and out", {bulkOut, bulkIn}, 0x82, 0x01, 0xA3},
      {"interrupt recorded", {interrupt, bulkIn, bulkOut}, 0x82, 0x01, 0x85},
      {"later pipe of a kind replaces", {bulkOut, bulkIn, bulkOut2, bulkIn2}, 0x84, 0x03, 0xA3},
      {"control first: nothing changes", {control, bulkOut, bulkIn}, 0xA1, 0x0A, 0xA3},
      {"isochronous first: nothing changes", {iso, bulkOut, bulkIn}, 0xA1, 0x0A, 0xA3},
      {"control ends the scan", {bulkOut, control, bulkIn, interrupt}, 0xA1, 0x01, 0xA3},
      {"no pipes", {}, 0xA1, 0x0A, 0xA3},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    FakePrimaryTransport primary;
    primary.devices = {{0x16, "usb:1-1", c.pipes}};
    TransportHandle file = primary.CreateFile("usb:1-1"), interface = kNullHandle;
    ASSERT_TRUE(primary.Initialize(file, &interface));
    DeviceRecord record;
    record.bulkInPipe = 0xA1;
    record.bulkOutPipe = 0x0A;
    record.interruptPipe = 0xA3;
    ClassifyPipes(primary, interface, static_cast<uint8_t>(c.pipes.size()), record);
    EXPECT_EQ(record.bulkInPipe, c.in);
    EXPECT_EQ(record.bulkOutPipe, c.out);
    EXPECT_EQ(record.interruptPipe, c.irq);
  }
}

TEST_F(LinkTest, DeviceIndexOpensTheNthInterfaceOfTheProductAndTransfersOnItsPipes) {
  ASSERT_EQ(link.OpenDevice(0x16, 1), 1);
  EXPECT_EQ(primary.createdPaths, std::vector<std::string>{"usb:1-3"});  // the second 0x16 device
  EXPECT_STREQ(link.Record(1).devicePath, "usb:1-3");
  EXPECT_EQ(link.Record(1).deviceSpeed, kSpeedHigh);
  EXPECT_EQ(primary.LiveSets(), 0);  // the enumeration set is released after the open

  int count = -1;
  EXPECT_EQ(WriteBytes(1, {0x10, 0x20, 0x30}, &count, 500), 1);
  EXPECT_EQ(count, 3);
  ASSERT_EQ(primary.writes.size(), 1u);
  EXPECT_EQ(primary.writes[0].pipe, 0x01);
  EXPECT_EQ(primary.writes[0].timeoutMs, 500u);  // the caller's time-out is the pipe's policy
  EXPECT_EQ(primary.writes[0].bytes, (std::vector<uint8_t>{0x10, 0x20, 0x30}));

  primary.readQueue.push_back({'Q', 1, 2});
  unsigned char buffer[5] = {};
  EXPECT_EQ(link.Read(1, buffer, 5, &count, 7000), 1);
  EXPECT_EQ(count, 3);
  EXPECT_EQ(buffer[0], 'Q');
  EXPECT_EQ(primary.reads.back(), (std::pair<uint8_t, uint32_t>{0x82, 7000}));

  // A failed transfer reports 0 and what moved.
  primary.transferResult = false;
  EXPECT_EQ(WriteBytes(1, {1}, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(link.Mode(), LinkMode::kPrimary);
}

TEST_F(LinkTest, FirstPipeControlKeepsThePipesOfTheEarlierOpen) {
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  link.Close(0);
  primary.devices[0].pipes = {{PipeType::kControl, 0x00, 64, 0}, {PipeType::kBulk, 0x03, 64, 0}};
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);  // the open still succeeds
  int count = 0;
  EXPECT_EQ(WriteBytes(0, {1}, &count), 1);
  EXPECT_EQ(primary.writes.back().pipe, 0x01);
}

TEST_F(LinkTest, CloseReleasesTheRecordAndATransferOnItFailsAtOnce) {
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  ASSERT_EQ(primary.Live(), 2);  // file and interface
  link.Close(0);
  EXPECT_EQ(primary.Live(), 0);
  EXPECT_EQ(link.Record(0).interfaceHandle, kInvalidHandle);
  EXPECT_EQ(link.Record(0).fileHandle, kInvalidHandle);
  link.Close(0);  // the second close does nothing
  EXPECT_EQ(primary.Live(), 0);

  const int callsBefore = primary.transferCalls;
  int count = 99;
  EXPECT_EQ(WriteBytes(0, {1, 2}, &count), 0);
  EXPECT_EQ(count, 0);
  unsigned char buffer[4];
  count = 99;
  EXPECT_EQ(link.Read(0, buffer, 4, &count, 500), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(primary.transferCalls, callsBefore);

  // A record can be opened again after Close.
  EXPECT_EQ(link.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(WriteBytes(0, {1}, &count), 1);
}

TEST_F(LinkTest, NeverOpenedRecordFailsTransfers) {
  int count = 99;
  EXPECT_EQ(WriteBytes(4, {1}, &count), 0);
  EXPECT_EQ(count, 0);
  link.Close(4);
  EXPECT_EQ(primary.Live(), 0);
}

TEST_F(LinkTest, OpeningAnOpenRecordAgainReleasesTheFirstOpen) {
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(primary.LiveFiles(), 1);
  EXPECT_EQ(primary.LiveInterfaces(), 1);
}

TEST_F(LinkTest, EveryFailedPrimaryOpenFailsCleanlyWithoutFallingBackForIndexOne) {
  libusb0.AddDevice(kVendor, 0x16);  // would be found, but index 1 never falls back
  struct Case {
    const char* name;
    PrimaryFault fault;
    int productId;
    int index;
  };
  const Case cases[] = {
      {"product not in the table", PrimaryFault::kNone, 0x20, 1},
      {"no interface at that index", PrimaryFault::kNone, 0x16, 2},
      {"invalid set", PrimaryFault::kClassDevices, 0x16, 1},
      {"size query does not report a short buffer", PrimaryFault::kSizeQueryOk, 0x16, 1},
      {"size query fails", PrimaryFault::kSizeQueryFails, 0x16, 1},
      {"detail fails", PrimaryFault::kDetailFails, 0x16, 1},
      {"path cannot be opened", PrimaryFault::kCreateFile, 0x16, 1},
      {"interface cannot be claimed", PrimaryFault::kInitialize, 0x16, 1},
      {"speed query fails", PrimaryFault::kSpeed, 0x16, 1},
      {"interface settings query fails", PrimaryFault::kInterfaceSettings, 0x16, 1},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    primary.fault = c.fault;
    EXPECT_EQ(link.OpenDevice(c.productId, c.index), 0);
    EXPECT_EQ(primary.Live(), 0);  // nothing left open or claimed
    int count = 99;
    EXPECT_EQ(WriteBytes(c.index, {1}, &count), 0);
    EXPECT_EQ(count, 0);
    EXPECT_EQ(link.Mode(), LinkMode::kPrimary);
  }
  EXPECT_EQ(libusb0.calls, std::vector<std::string>{});
}

TEST_F(LinkTest, DevicePathTooLongForTheRecordFailsTheOpen) {
  primary.devices[0].path = std::string(300, 'p');
  EXPECT_EQ(link.OpenDevice(0x16, 0), 0);
  EXPECT_TRUE(primary.createdPaths.empty());
  EXPECT_EQ(primary.Live(), 0);
  primary.devices[0].path = std::string(259, 'p');  // exactly fits with its terminator
  EXPECT_EQ(link.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(std::string(link.Record(0).devicePath).size(), 259u);
}

TEST_F(LinkTest, FallBackToLibusb0OnlyForIndexZeroAndThenOnlyIndexZeroOpens) {
  primary.devices.clear();
  libusb0.AddDevice(kVendor, 0x16);
  // Index 3 fails without trying libusb0.
  EXPECT_EQ(link.OpenDevice(0x16, 3), 0);
  EXPECT_TRUE(libusb0.calls.empty());
  // Index 0 falls back and switches LinkMode for good.
  EXPECT_EQ(link.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(link.Mode(), LinkMode::kLibusb0);
  EXPECT_EQ(libusb0.calls, (std::vector<std::string>{"init", "open 1", "configuration 1", "claim 0"}));
  // Under libusb0 the other indices neither open nor reach index 0's handle.
  const int classCalls = primary.classDeviceCalls;
  for (int index = 1; index < 16; ++index) EXPECT_EQ(link.OpenDevice(0x16, index), 0) << index;
  EXPECT_EQ(primary.classDeviceCalls, classCalls);  // the primary transport is not tried any more
  EXPECT_EQ(libusb0.Count("open"), 1);
  int count = 99;
  EXPECT_EQ(WriteBytes(5, {1}, &count), 0);
  EXPECT_EQ(count, 0);
  link.Close(5);
  EXPECT_TRUE(link.Libusb0HandleOpen());
  EXPECT_EQ(libusb0.Count("close"), 0);
}

TEST_F(LinkTest, ProductNotInTheTableStillTriesLibusb0WithThatProduct) {
  libusb0.AddDevice(kVendor, 0x20);
  EXPECT_EQ(link.OpenDevice(0x20, 0), 1);
  EXPECT_EQ(primary.classDeviceCalls, 0);
  EXPECT_EQ(link.Mode(), LinkMode::kLibusb0);
}

TEST_F(LinkTest, Libusb0OpensOnlyTheLastMatchInWalkOrder) {
  primary.devices.clear();
  libusb0.AddDevice(kVendor, 0x16);        // device 1
  libusb0.AddDevice(0x1234, 0x16, true);   // device 2: other vendor
  libusb0.AddDevice(kVendor, 0x16);        // device 3: last match
  libusb0.AddDevice(kVendor, 0x17, true);  // device 4: other product
  EXPECT_EQ(link.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(libusb0.Count("open"), 1);
  EXPECT_EQ(libusb0.Count("open 3"), 1);
  EXPECT_EQ(libusb0.live.size(), 1u);
}

TEST_F(LinkTest, FailedLibusb0ConfigurationOrClaimClosesTheHandleAndFails) {
  primary.devices.clear();
  libusb0.AddDevice(kVendor, 0x16);
  for (int step = 0; step < 2; ++step) {
    SCOPED_TRACE(step);
    libusb0.setConfigurationResult = step == 0 ? -5 : 0;
    libusb0.claimResult = step == 1 ? -16 : 0;
    EXPECT_EQ(link.OpenDevice(0x16, 0), 0);
    EXPECT_TRUE(libusb0.live.empty());
    EXPECT_FALSE(link.Libusb0HandleOpen());
    EXPECT_EQ(link.Mode(), LinkMode::kPrimary);
  }
}

// Under libusb0 a negative result of the libusb call (an error or a time-out) fails the
// transfer; the count still receives the value.
TEST_F(LinkTest, Libusb0TransferResultFollowsTheSignOfTheLibusbResult) {
  primary.devices.clear();
  libusb0.AddDevice(kVendor, 0x16);
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  struct Case {
    int libusbResult;
    int expected;
  };
  const Case cases[] = {{64, 1}, {5, 1}, {0, 1}, {-110, 0}, {-19, 0}, {-5, 0}};
  for (const Case& c : cases) {
    SCOPED_TRACE(c.libusbResult);
    libusb0.transferResult = c.libusbResult;
    int count = 12345;
    unsigned char buffer[64] = {};
    EXPECT_EQ(link.Write(0, buffer, 64, &count, 500), c.expected);
    EXPECT_EQ(count, c.libusbResult);
    EXPECT_EQ(libusb0.calls.back(), "write ep=1 n=64 t=500");
    count = 12345;
    EXPECT_EQ(link.Read(0, buffer, 5, &count, 14000), c.expected);
    EXPECT_EQ(count, c.libusbResult);
    EXPECT_EQ(libusb0.calls.back(), "read ep=130 n=5 t=14000");
  }
}

TEST_F(LinkTest, ClosedLibusb0HandleIsEmptyAndNeverReused) {
  primary.devices.clear();
  libusb0.AddDevice(kVendor, 0x16);
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  link.Close(0);
  EXPECT_EQ(libusb0.Count("release 0"), 1);
  EXPECT_EQ(libusb0.Count("close"), 1);
  EXPECT_FALSE(link.Libusb0HandleOpen());

  // Closing again touches nothing.
  const size_t callsAfterClose = libusb0.calls.size();
  link.Close(0);
  EXPECT_EQ(libusb0.calls.size(), callsAfterClose);

  // A transfer on the closed handle fails without reaching libusb.
  int count = 99;
  EXPECT_EQ(WriteBytes(0, {1}, &count), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(libusb0.calls.size(), callsAfterClose);

  // The probe is gone: the next open finds nothing and fails instead of reusing the old handle.
  libusb0.busses.clear();
  EXPECT_EQ(link.OpenDevice(0x16, 0), 0);
  EXPECT_EQ(WriteBytes(0, {1}, &count), 0);
  EXPECT_EQ(libusb0.Count("write"), 0);

  // It comes back: index 0 opens it again.
  libusb0.AddDevice(kVendor, 0x16);
  EXPECT_EQ(link.OpenDevice(0x16, 0), 1);
  libusb0.transferResult = 1;
  EXPECT_EQ(WriteBytes(0, {1}, &count), 1);
}

TEST_F(LinkTest, Libusb0FromLoadServesIndexZeroOnly) {
  Link old{primary, libusb0, LinkMode::kLibusb0};
  libusb0.AddDevice(kVendor, 0x16);
  EXPECT_EQ(old.OpenDevice(0x16, 1), 0);
  EXPECT_EQ(old.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(primary.classDeviceCalls, 0);
  // Opening index 0 again without a Close does not leave the first handle open.
  EXPECT_EQ(old.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(libusb0.live.size(), 1u);
}

TEST_F(LinkTest, IndexOutsideTheTableFailsWithoutTouchingAnything) {
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  const auto before = primary.Live();
  for (int index : {-1, 16, 17, 1000, INT_MIN, INT_MAX}) {
    SCOPED_TRACE(index);
    EXPECT_EQ(link.OpenDevice(0x16, index), 0);
    int count = 99;
    unsigned char buffer[4] = {1, 2, 3, 4};
    EXPECT_EQ(link.Write(index, buffer, 4, &count, 500), 0);
    EXPECT_EQ(count, 0);
    count = 99;
    EXPECT_EQ(link.Read(index, buffer, 4, &count, 500), 0);
    EXPECT_EQ(count, 0);
    link.Close(index);
  }
  EXPECT_EQ(primary.classDeviceCalls, 1);
  EXPECT_EQ(primary.transferCalls, 0);
  EXPECT_EQ(primary.Live(), before);
  EXPECT_TRUE(libusb0.calls.empty());
  int count = 0;
  EXPECT_EQ(WriteBytes(0, {1}, &count), 1);  // index 0 still open
}

TEST_F(LinkTest, BadTransferArgumentsFailBeforeTheTransport) {
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  int count = 99;
  unsigned char buffer[4] = {};
  EXPECT_EQ(link.Write(0, buffer, -1, &count, 500), 0);
  EXPECT_EQ(count, 0);
  EXPECT_EQ(link.Read(0, nullptr, 4, &count, 500), 0);
  EXPECT_EQ(primary.transferCalls, 0);
  // A null count pointer is allowed.
  EXPECT_EQ(link.Write(0, buffer, 4, nullptr, 500), 1);
}

}  // namespace
}  // namespace vorlink
