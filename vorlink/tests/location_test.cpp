// SPDX-License-Identifier: MIT
// DeviceLocation in the link's logic, against fake transports: the buffer rules (length as
// snprintf reports it, cut to fit, nothing written past `size`), indices that are not open or
// outside the table, and the location under libusb0.
#include <gtest/gtest.h>

#include <array>
#include <string>

#include "fake_transports.h"
#include "link.h"

namespace vorlink {
namespace {

using testing::FakeLibusb0Transport;
using testing::FakePrimaryTransport;

constexpr int kNull = -1000;  // a null buffer of the case's size

struct LocationCase {
  const char* name;
  int index;
  int size;  // kNull + n: a null buffer with size n
  int result;
  const char* text;  // what the buffer holds afterwards; nullptr: untouched
};

// Calls DeviceLocation with a buffer of 'X' and checks the result, the text and that nothing past
// `size` was written.
void Check(const Link& link, const LocationCase& c) {
  SCOPED_TRACE(c.name);
  std::array<char, 64> buffer;
  buffer.fill('X');
  const bool null = c.size <= kNull / 2;
  const int size = null ? c.size - kNull : c.size;
  EXPECT_EQ(link.DeviceLocation(c.index, null ? nullptr : buffer.data(), size), c.result);
  if (c.text == nullptr) {
    EXPECT_EQ(buffer[0], 'X') << "the buffer was written";
  } else {
    EXPECT_EQ(std::string(buffer.data()), c.text);
  }
  const size_t used = size > 0 && !null ? static_cast<size_t>(size) : 0;
  for (size_t i = used; i < buffer.size(); ++i) ASSERT_EQ(buffer[i], 'X') << "written at " << i;
}

class DeviceLocationTest : public ::testing::Test {
 protected:
  void SetUp() override { primary.devices = {{0x16, "usb:1-1", {}}, {0x16, "usb:3-1.4.2", {}}}; }
  FakePrimaryTransport primary;
  FakeLibusb0Transport libusb0;
  Link link{primary, libusb0, LinkMode::kPrimary};
};

TEST_F(DeviceLocationTest, PrimaryLocationIsTheDevicePathWithTheBufferRules) {
  ASSERT_EQ(link.OpenDevice(0x16, 1), 1);
  const LocationCase cases[] = {
      {"room to spare", 1, 64, 11, "usb:3-1.4.2"},
      {"exactly fits with its NUL", 1, 12, 11, "usb:3-1.4.2"},
      {"one short: cut, full length returned", 1, 11, 11, "usb:3-1.4."},
      {"room for the NUL only", 1, 1, 11, ""},
      {"size 0: the length, nothing written", 1, 0, 11, nullptr},
      {"null buffer, size 0: the length", 1, kNull + 0, 11, nullptr},
      {"null buffer, positive size: refused", 1, kNull + 8, 0, nullptr},
      {"negative size: refused, nothing written", 1, -1, 0, nullptr},
      {"index never opened", 0, 64, 0, ""},
      {"index 16", 16, 64, 0, ""},
      {"index -1", -1, 64, 0, ""},
      {"index outside the table, size 0", 99, 0, 0, nullptr},
  };
  for (const LocationCase& c : cases) Check(link, c);

  link.Close(1);
  Check(link, {"closed", 1, 64, 0, ""});
  // A failed open of that index leaves no location of the earlier probe behind.
  ASSERT_EQ(link.OpenDevice(0x16, 1), 1);
  primary.devices.pop_back();
  ASSERT_EQ(link.OpenDevice(0x16, 1), 0);
  Check(link, {"failed reopen", 1, 64, 0, ""});
}

TEST_F(DeviceLocationTest, UnderLibusb0OnlyIndexZeroHasALocation) {
  primary.devices.clear();
  libusb0.AddDevice(0x1F3A, 0x16);
  libusb0.location = "usb:2-5";
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  ASSERT_EQ(link.Mode(), LinkMode::kLibusb0);
  Check(link, {"index 0 through libusb0", 0, 64, 7, "usb:2-5"});
  Check(link, {"cut", 0, 4, 7, "usb"});
  Check(link, {"other index", 3, 64, 0, ""});
  link.Close(0);
  Check(link, {"closed", 0, 64, 0, ""});
  // A transport that does not know where the device is: no location, as for a closed index.
  libusb0.location.clear();
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  Check(link, {"unknown location", 0, 64, 0, ""});
}

}  // namespace
}  // namespace vorlink
