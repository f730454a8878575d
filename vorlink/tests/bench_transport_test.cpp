// SPDX-License-Identifier: MIT
// The bench adapter under the link logic, against a small fake bench: which probes each
// transport sees and in what order, the probe's pipes, per-pipe time-outs, transfer outcomes,
// and that every open of a bench probe is closed again.
#include "bench_transport.h"

#include <gtest/gtest.h>

#include <deque>
#include <string>

#include "fake_bench.h"
#include "link.h"

namespace vorlink {
namespace {

using probesim::EndpointInfo;
using probesim::EndpointType;
using probesim::TransferStatus;
using testing::FakeBench;
using testing::FakeBenchProbe;

class BenchTransportTest : public ::testing::Test {
 protected:
  FakeBenchProbe& AddProbe() { return bench.probes.emplace_back(); }
  int Send(int index, int length, int* count, int timeoutMs = 500) {
    std::vector<unsigned char> bytes(static_cast<size_t>(length), 0x5A);
    return link.Write(index, bytes.data(), length, count, timeoutMs);
  }
  int OpenProbes() const {
    int n = 0;
    for (const auto& probe : bench.probes) n += probe.openCount;
    return n;
  }

  FakeBench bench;
  BenchPrimaryTransport primary{&bench};
  BenchLibusb0Transport libusb0{&bench};
  Link link{primary, libusb0, LinkMode::kPrimary};
};

TEST_F(BenchTransportTest, PrimarySeesItsProbesInBenchOrderWithTheirPipesAndTimeouts) {
  FakeBenchProbe& a = AddProbe();
  AddProbe().primary = false;   // libusb0 only: not a primary member
  AddProbe().productId = 0x11;  // another product
  FakeBenchProbe& b = AddProbe();
  b.bus = 2;
  b.port = "1.4";

  ASSERT_EQ(link.OpenDevice(0x16, 1), 1);
  EXPECT_STREQ(link.Record(1).devicePath, "bench3:usb:2-1.4");
  EXPECT_EQ(link.Record(1).bulkOutPipe, 0x01);
  EXPECT_EQ(link.Record(1).bulkInPipe, 0x82);
  EXPECT_EQ(link.Record(1).deviceSpeed, kSpeedFull);
  EXPECT_EQ(b.openCount, 1);
  EXPECT_EQ(a.openCount, 0);
  EXPECT_EQ(link.OpenDevice(0x16, 2), 0);  // only two probes of 0x16 are visible to primary

  int count = 0;
  EXPECT_EQ(Send(1, 64, &count, 7000), 1);
  EXPECT_EQ(count, 64);
  unsigned char buffer[5];
  EXPECT_EQ(link.Read(1, buffer, 5, &count, 14000), 1);
  EXPECT_EQ(buffer[0], 'Q');
  EXPECT_EQ(b.log, (std::vector<std::string>{"write ep=1 n=64 t=7000", "read ep=130 n=5 t=14000"}));

  link.Close(1);
  EXPECT_EQ(OpenProbes(), 0);
}

TEST_F(BenchTransportTest, TransferOutcomesReachTheCallerUnderBothTransports) {
  struct Case {
    TransferStatus status;
    int count;
    int primaryResult, primaryCount;
    int libusb0Result, libusb0Count;
  };
  const Case cases[] = {
      {TransferStatus::kOk, 3, 1, 3, 1, 3},         {TransferStatus::kTimeout, 0, 0, 0, 0, -110},
      {TransferStatus::kTimeout, 2, 0, 2, 0, -110}, {TransferStatus::kNoDevice, 0, 0, 0, 0, -19},
      {TransferStatus::kError, 0, 0, 0, 0, -5},
  };
  FakeBenchProbe& viaPrimary = AddProbe();
  FakeBenchProbe& viaLibusb0 = AddProbe();
  viaLibusb0.primary = false;
  viaLibusb0.libusb0 = true;
  BenchPrimaryTransport nothing{nullptr};
  Link old{nothing, libusb0, LinkMode::kPrimary};
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  ASSERT_EQ(old.OpenDevice(0x16, 0), 1);  // falls back: the second probe is libusb0's only
  ASSERT_EQ(old.Mode(), LinkMode::kLibusb0);
  for (const Case& c : cases) {
    SCOPED_TRACE(static_cast<int>(c.status) * 10 + c.count);
    viaPrimary.next = viaLibusb0.next = {c.status, c.count};
    int count = 99;
    EXPECT_EQ(Send(0, 3, &count), c.primaryResult);
    EXPECT_EQ(count, c.primaryCount);
    unsigned char buffer[3];
    EXPECT_EQ(old.Read(0, buffer, 3, &count, 500), c.libusb0Result);
    EXPECT_EQ(count, c.libusb0Count);
  }
  EXPECT_EQ(viaLibusb0.log.back(), "read ep=130 n=3 t=500");
  old.Close(0);
  link.Close(0);
  EXPECT_EQ(OpenProbes(), 0);
}

TEST_F(BenchTransportTest, Libusb0WalkHasTheVisibleProbesAndUsesTheLastMatch) {
  for (int i = 0; i < 4; ++i) {
    FakeBenchProbe& probe = AddProbe();
    probe.primary = false;
    probe.libusb0 = i != 3;
    probe.bus = static_cast<uint8_t>(i < 2 ? 1 : 2);
  }
  const std::vector<Libusb0Bus> busses = libusb0.GetBusses();
  ASSERT_EQ(busses.size(), 2u);
  EXPECT_EQ(busses[0].devices.size(), 2u);
  EXPECT_EQ(busses[1].devices.size(), 1u);

  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(bench.probes[2].openCount, 1);  // the last visible match
  EXPECT_EQ(OpenProbes(), 1);
  link.Close(0);
  EXPECT_EQ(OpenProbes(), 0);
}

TEST_F(BenchTransportTest, UnpluggedProbeAndEmptyBenchOpenNothing) {
  AddProbe().unplugged = true;
  EXPECT_EQ(link.OpenDevice(0x16, 0), 0);
  EXPECT_EQ(OpenProbes(), 0);

  BenchPrimaryTransport emptyPrimary{nullptr};
  BenchLibusb0Transport emptyLibusb0{nullptr};
  Link empty{emptyPrimary, emptyLibusb0, LinkMode::kPrimary};
  for (int index = 0; index < 16; ++index) EXPECT_EQ(empty.OpenDevice(0x16, index), 0);
  int count = 99;
  unsigned char byte = 0;
  EXPECT_EQ(empty.Write(0, &byte, 1, &count, 500), 0);
  EXPECT_EQ(count, 0);
}

TEST_F(BenchTransportTest, InterruptAndWrongDirectionPipesMoveNoData) {
  FakeBenchProbe& probe = AddProbe();
  probe.endpoints = {{0x81, EndpointType::kInterrupt, 8}, {0x02, EndpointType::kBulk, 512}};
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(link.Record(0).interruptPipe, 0x81);
  EXPECT_EQ(link.Record(0).deviceSpeed, kSpeedHigh);
  int count = 99;
  unsigned char buffer[4];
  // No bulk-in pipe: the read goes to pipe 0, which the probe does not have.
  EXPECT_EQ(link.Read(0, buffer, 4, &count, 500), 0);
  EXPECT_EQ(count, 0);
  uint32_t moved = 0;
  TransportHandle interface = kNullHandle;
  EXPECT_FALSE(primary.Initialize(link.Record(0).fileHandle, &interface));  // interface 0 already claimed
  EXPECT_FALSE(primary.WritePipe(link.Record(0).interfaceHandle, 0x81, buffer, 4, &moved));
  EXPECT_FALSE(primary.ReadPipe(link.Record(0).interfaceHandle, 0x02, buffer, 4, &moved));
  EXPECT_TRUE(probe.log.empty());
  link.Close(0);
  EXPECT_EQ(OpenProbes(), 0);
}

}  // namespace
}  // namespace vorlink
