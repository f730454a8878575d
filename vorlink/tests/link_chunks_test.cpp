// SPDX-License-Identifier: MIT
// WriteChunks in the link's logic against fake transports: under the primary transport the chunks
// reach the pipe in order with the caller's time-out, and a failed one stops the rest; under
// libusb0 one bulk write follows another with Write's results (a short one and a negative one
// stop the rest).
#include <gtest/gtest.h>

#include <vector>

#include "fake_transports.h"
#include "link.h"

namespace vorlink {
namespace {

using testing::FakeLibusb0Transport;
using testing::FakePrimaryTransport;

constexpr uint16_t kVendor = 0x1F3A;

std::vector<unsigned char> Chunks(int count, int length) {
  std::vector<unsigned char> bytes(static_cast<size_t>(count * length));
  for (size_t i = 0; i < bytes.size(); ++i) bytes[i] = static_cast<unsigned char>(i);
  return bytes;
}

TEST(LinkChunks, PrimaryChunksReachThePipeInOrderAndAFailedOneStopsTheRest) {
  FakePrimaryTransport primary;
  primary.devices = {{0x16, "usb:1-1", {{PipeType::kBulk, 0x01, 64, 0}, {PipeType::kBulk, 0x82, 64, 0}}}};
  FakeLibusb0Transport libusb0;
  Link link{primary, libusb0, LinkMode::kPrimary};
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  const std::vector<unsigned char> bytes = Chunks(4, 16);
  int completed = -1, failedResult = -1, failedCount = -1;
  EXPECT_EQ(link.WriteChunks(0, bytes.data(), 16, 4, 700, &completed, &failedResult, &failedCount), 1);
  EXPECT_EQ(completed, 4);
  EXPECT_EQ(failedResult, 0);
  EXPECT_EQ(failedCount, 0);
  ASSERT_EQ(primary.writes.size(), 4u);
  for (size_t i = 0; i < 4; ++i) {
    EXPECT_EQ(primary.writes[i].pipe, 0x01);
    EXPECT_EQ(primary.writes[i].timeoutMs, 700u);
    EXPECT_EQ(primary.writes[i].bytes,
              std::vector<uint8_t>(bytes.begin() + 16 * i, bytes.begin() + 16 * (i + 1)));
  }
  primary.transferResult = false;
  EXPECT_EQ(link.WriteChunks(0, bytes.data(), 16, 4, 700, &completed, &failedResult, &failedCount), 0);
  EXPECT_EQ(completed, 0);
  EXPECT_EQ(failedResult, 0);
  EXPECT_EQ(failedCount, 0);
  EXPECT_EQ(primary.writes.size(), 5u);  // the failed first chunk only
}

TEST(LinkChunks, Libusb0ChunksFollowOneAnotherWithWritesResults) {
  FakePrimaryTransport primary;
  FakeLibusb0Transport libusb0;
  libusb0.AddDevice(kVendor, 0x16);
  Link link{primary, libusb0, LinkMode::kPrimary};
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  ASSERT_EQ(link.Mode(), LinkMode::kLibusb0);
  struct Case {
    int libusbResult;  // what every usb_bulk_write returns
    int result, completed, failedResult, failedCount, writes;
  } cases[] = {
      {64, 1, 3, 0, 0, 3},
      {10, 0, 0, 1, 10, 1},      // short: Write would succeed with 10 bytes
      {-110, 0, 0, 0, -110, 1},  // a time-out: Write fails with libusb's code as its count
  };
  const std::vector<unsigned char> bytes = Chunks(3, 64);
  for (const Case& c : cases) {
    SCOPED_TRACE(c.libusbResult);
    libusb0.transferResult = c.libusbResult;
    const int before = libusb0.Count("write");
    int completed = -1, failedResult = -1, failedCount = -1;
    EXPECT_EQ(link.WriteChunks(0, bytes.data(), 64, 3, 500, &completed, &failedResult, &failedCount),
              c.result);
    EXPECT_EQ(completed, c.completed);
    EXPECT_EQ(failedResult, c.failedResult);
    EXPECT_EQ(failedCount, c.failedCount);
    EXPECT_EQ(libusb0.Count("write") - before, c.writes);
    EXPECT_EQ(libusb0.calls.back(), "write ep=1 n=64 t=500");
  }
  // libusb0 serves device index 0 only.
  int completed = -1, failedResult = -1, failedCount = -1;
  libusb0.transferResult = 64;
  EXPECT_EQ(link.WriteChunks(1, bytes.data(), 64, 3, 500, &completed, &failedResult, &failedCount), 0);
  EXPECT_EQ(completed, 0);
}

}  // namespace
}  // namespace vorlink
