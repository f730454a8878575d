// SPDX-License-Identifier: MIT
// The real transports' code (libusb-1.0 and libusb 0.1) against emulated USB devices (umockdev): the test
// runs under umockdev's preload library, builds a sysfs tree with probes at chosen ports, and
// answers the usbfs requests libusb makes (claim, submit, reap, discard) from its own handler.
// Covers the enumeration order, the endpoint classification, bulk transfers both ways, a
// time-out, a probe that disappears, chunks written in flight together (WriteChunks), and the fall-back to
// the real libusb 0.1, which reads the same emulated nodes (its device descriptor by read(), the rest by
// usbfs requests).
#include <gtest/gtest.h>
#include <linux/ioctl.h>
#include <linux/usbdevice_fs.h>
#include <umockdev.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <deque>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "fake_transports.h"
#include "link.h"
#include "usb01_transport.h"
#include "usb1_primary_transport.h"

namespace vorlink {
namespace {

// Device descriptor: USB 2.0, max packet 64, vendor 0x1F3A, product given; one configuration
// with interface 0 (vendor class) and three endpoints: bulk OUT 0x01, bulk IN 0x82, interrupt IN 0x83.
std::string ProbeDescriptors(uint16_t vendor, uint16_t product) {
  char ids[16];
  std::snprintf(ids, sizeof ids, "%02x%02x%02x%02x", vendor & 0xFF, vendor >> 8, product & 0xFF,
                product >> 8);
  return std::string(
             "12010002000000"
             "40") +
         ids +
         "0001"
         "01"
         "02"
         "03"
         "01" +  // device
         "0902270001010080"
         "32" +                  // configuration 1
         "0904000003ff000000" +  // interface 0
         "07050102400000"
         "07058202400000"
         "07058303080001";  // endpoints
}

// One emulated device's usbfs side. Runs on umockdev's handler thread; the test reads and
// scripts it under the mutex.
class EmulatedProbe {
 public:
  EmulatedProbe(const std::string& devnode, int address, std::vector<uint8_t> descriptors)
      : devnode_(devnode), address_(address), descriptors_(std::move(descriptors)) {
    handler_ = umockdev_ioctl_base_new();
    g_signal_connect(handler_, "handle-ioctl", G_CALLBACK(&EmulatedProbe::OnIoctl), this);
    g_signal_connect(handler_, "handle-read", G_CALLBACK(&EmulatedProbe::OnRead), this);
  }
  ~EmulatedProbe() {
    std::lock_guard lock(mutex_);
    for (UMockdevIoctlData* urb : flying_) umockdev_ioctl_data_unref(urb);
    for (UMockdevIoctlData* urb : done_) umockdev_ioctl_data_unref(urb);
    g_object_unref(handler_);
  }
  UMockdevIoctlBase* handler() const { return handler_; }
  const std::string& devnode() const { return devnode_; }

  void QueueAnswer(std::vector<uint8_t> bytes) {
    std::lock_guard lock(mutex_);
    answers_.push_back(std::move(bytes));
  }
  void Unplug() {
    std::lock_guard lock(mutex_);
    unplugged_ = true;
  }
  std::vector<std::vector<uint8_t>> Written() {
    std::lock_guard lock(mutex_);
    return written_;
  }
  int Claims() {
    std::lock_guard lock(mutex_);
    return claims_;
  }
  // From now on the OUT URB numbered `failAt` (0: the next one; -1: none) completes with
  // `status` (a negative errno, or 0) and `actual` bytes taken; what was written so far is
  // forgotten.
  void ScriptOut(int failAt, int status, int actual) {
    std::lock_guard lock(mutex_);
    written_.clear();
    outReaped_ = 0;
    maxOutFlying_ = 0;
    failAt_ = failAt;
    failStatus_ = status;
    failActual_ = actual;
  }
  // The most OUT URBs that were submitted and not yet taken at one time.
  int MaxOutInFlight() {
    std::lock_guard lock(mutex_);
    return maxOutFlying_;
  }

 private:
  static gboolean OnIoctl(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    return static_cast<EmulatedProbe*>(self)->Handle(client);
  }

  static gboolean OnRead(UMockdevIoctlBase*, UMockdevIoctlClient* client, gpointer self) {
    // libusb 0.1 reads the device descriptor from the start of a freshly opened node.
    auto* probe = static_cast<EmulatedProbe*>(self);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    std::lock_guard lock(probe->mutex_);
    size_t& position = probe->readPositions_[client];
    const size_t left = probe->descriptors_.size() - std::min(position, probe->descriptors_.size());
    const size_t n = std::min<size_t>(static_cast<size_t>(arg->data_len), left);
    std::memcpy(arg->data, probe->descriptors_.data() + position, n);
    position += n;
    umockdev_ioctl_client_complete(client, static_cast<glong>(n), 0);
    return TRUE;
  }

  gboolean Handle(UMockdevIoctlClient* client) {
    std::lock_guard lock(mutex_);
    const unsigned long request = umockdev_ioctl_client_get_request(client);
    UMockdevIoctlData* arg = umockdev_ioctl_client_get_arg(client);
    // An unplugged device refuses everything but giving back the URBs it still holds.
    if (unplugged_ && request != USBDEVFS_REAPURB && request != USBDEVFS_REAPURBNDELAY &&
        request != USBDEVFS_DISCARDURB) {
      umockdev_ioctl_client_complete(client, -1, ENODEV);
      return TRUE;
    }
    switch (request) {
      case USBDEVFS_GET_CAPABILITIES: {
        UMockdevIoctlData* caps = umockdev_ioctl_data_resolve(arg, 0, sizeof(uint32_t), nullptr);
        *reinterpret_cast<uint32_t*>(caps->data) =
            USBDEVFS_CAP_BULK_CONTINUATION | USBDEVFS_CAP_NO_PACKET_SIZE_LIM |
            USBDEVFS_CAP_REAP_AFTER_DISCONNECT | USBDEVFS_CAP_ZERO_PACKET;
        umockdev_ioctl_data_unref(caps);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_CONNECTINFO: {
        UMockdevIoctlData* info = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_connectinfo), nullptr);
        reinterpret_cast<usbdevfs_connectinfo*>(info->data)->devnum = static_cast<unsigned>(address_);
        reinterpret_cast<usbdevfs_connectinfo*>(info->data)->slow = 0;
        umockdev_ioctl_data_unref(info);
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      }
      case USBDEVFS_CLAIMINTERFACE:
      case USBDEVFS_DISCONNECT_CLAIM:
        ++claims_;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_RELEASEINTERFACE:
        --claims_;
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_GETDRIVER:
        umockdev_ioctl_client_complete(client, -1, ENODATA);  // no kernel driver bound
        return TRUE;
      case USBDEVFS_IOCTL:
      case USBDEVFS_SETCONFIGURATION:
      case USBDEVFS_CLEAR_HALT:
      case USBDEVFS_RESETEP:
        umockdev_ioctl_client_complete(client, 0, 0);
        return TRUE;
      case USBDEVFS_SUBMITURB:
        return Submit(client, arg);
      case USBDEVFS_REAPURB:
      case USBDEVFS_REAPURBNDELAY:
        return Reap(client, arg);
      case USBDEVFS_DISCARDURB: {
        const auto address = reinterpret_cast<gulong>(*reinterpret_cast<void**>(arg->data));
        for (auto it = flying_.begin(); it != flying_.end(); ++it) {
          if ((*it)->client_addr != address) continue;
          reinterpret_cast<usbdevfs_urb*>((*it)->data)->status = -ENOENT;
          done_.push_back(*it);
          flying_.erase(it);
          umockdev_ioctl_client_complete(client, 0, 0);
          return TRUE;
        }
        umockdev_ioctl_client_complete(client, -1, EINVAL);
        return TRUE;
      }
      default:
        umockdev_ioctl_client_complete(client, -1, ENOTTY);
        return TRUE;
    }
  }

  gboolean Submit(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* urbData = umockdev_ioctl_data_resolve(arg, 0, sizeof(usbdevfs_urb), nullptr);
    auto* urb = reinterpret_cast<usbdevfs_urb*>(urbData->data);
    UMockdevIoctlData* buffer = umockdev_ioctl_data_resolve(urbData, G_STRUCT_OFFSET(usbdevfs_urb, buffer),
                                                            urb->buffer_length, nullptr);
    umockdev_ioctl_data_unref(buffer);  // urbData keeps it
    flying_.push_back(urbData);
    int out = 0;
    for (UMockdevIoctlData* flying : flying_)
      out += (reinterpret_cast<usbdevfs_urb*>(flying->data)->endpoint & 0x80) == 0;
    maxOutFlying_ = std::max(maxOutFlying_, out);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }

  // Completes the oldest URB that can complete: an OUT URB at once, an IN URB when an answer is
  // queued. An IN URB without an answer stays in flight until libusb's time-out discards it.
  gboolean Reap(UMockdevIoctlClient* client, UMockdevIoctlData* arg) {
    UMockdevIoctlData* ready = nullptr;
    if (!done_.empty()) {
      ready = done_.front();
      done_.pop_front();
    } else {
      for (auto it = flying_.begin(); it != flying_.end(); ++it) {
        auto* urb = reinterpret_cast<usbdevfs_urb*>((*it)->data);
        if (urb->endpoint & 0x80) {
          if (answers_.empty()) continue;
          const std::vector<uint8_t> answer = answers_.front();
          answers_.pop_front();
          const size_t n = std::min<size_t>(answer.size(), static_cast<size_t>(urb->buffer_length));
          std::memcpy(urb->buffer, answer.data(), n);
          urb->actual_length = static_cast<int>(n);
        } else {
          const auto* bytes = static_cast<const uint8_t*>(urb->buffer);
          const bool fails = outReaped_++ == failAt_;
          urb->actual_length = fails ? std::min(failActual_, urb->buffer_length) : urb->buffer_length;
          if (urb->actual_length > 0) written_.emplace_back(bytes, bytes + urb->actual_length);
          urb->status = fails ? failStatus_ : 0;
          ready = *it;
          flying_.erase(it);
          break;
        }
        urb->status = 0;
        ready = *it;
        flying_.erase(it);
        break;
      }
    }
    if (!ready) {
      umockdev_ioctl_client_complete(client, -1, EAGAIN);
      return TRUE;
    }
    UMockdevIoctlData* pointer = umockdev_ioctl_data_resolve(arg, 0, sizeof(void*), nullptr);
    umockdev_ioctl_data_set_ptr(pointer, 0, ready);
    umockdev_ioctl_data_unref(pointer);
    umockdev_ioctl_data_unref(ready);
    umockdev_ioctl_client_complete(client, 0, 0);
    return TRUE;
  }

  std::string devnode_;
  int address_;
  std::vector<uint8_t> descriptors_;
  UMockdevIoctlBase* handler_;
  std::mutex mutex_;
  std::deque<UMockdevIoctlData*> flying_, done_;
  std::deque<std::vector<uint8_t>> answers_;
  std::map<UMockdevIoctlClient*, size_t> readPositions_;
  std::vector<std::vector<uint8_t>> written_;
  bool unplugged_ = false;
  int claims_ = 0;
  int outReaped_ = 0;
  int maxOutFlying_ = 0;
  int failAt_ = -1, failStatus_ = 0, failActual_ = 0;
};

class Usb1UmockdevTest : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* preload = std::getenv("LD_PRELOAD");
    if (!preload || !std::strstr(preload, "libumockdev-preload")) {
      GTEST_SKIP() << "needs umockdev's preload library (run under umockdev-wrapper)";
    }
    testbed_ = umockdev_testbed_new();
  }
  void TearDown() override {
    link_.reset();
    transport_.reset();
    probes_.clear();
    if (testbed_) g_object_unref(testbed_);
  }

  // A device at sysfs name `name` (such as "1-3" or "1-1.4") with the given bus and address.
  EmulatedProbe& AddDevice(const std::string& name, int bus, int address, uint16_t vendor = 0x1F3A,
                           uint16_t product = 0x16) {
    char devnode[64];
    std::snprintf(devnode, sizeof devnode, "/dev/bus/usb/%03d/%03d", bus, address);
    const std::string descriptors = ProbeDescriptors(vendor, product);
    std::vector<uint8_t> bytes;
    for (size_t i = 0; i + 1 < descriptors.size(); i += 2) {
      bytes.push_back(static_cast<uint8_t>(std::stoi(descriptors.substr(i, 2), nullptr, 16)));
    }
    auto& probe = *probes_.emplace_back(std::make_unique<EmulatedProbe>(devnode, address, bytes));
    EXPECT_TRUE(umockdev_testbed_attach_ioctl(testbed_, devnode, probe.handler(), nullptr));
    const std::string description =
        "P: /devices/pci0000:00/usb" + std::to_string(bus) + "/" + name + "\n" +
        "N: " + std::string(devnode + 5) + "\n" + "E: SUBSYSTEM=usb\nE: DEVTYPE=usb_device\n" +
        "E: DEVNAME=" + devnode + "\n" + "E: BUSNUM=" + std::to_string(bus) + "\n" +
        "E: DEVNUM=" + std::to_string(address) + "\n" + "A: busnum=" + std::to_string(bus) + "\\n\n" +
        "A: devnum=" + std::to_string(address) + "\\n\n" + "A: bConfigurationValue=1\\n\n" +
        "A: speed=12\\n\n" + "H: descriptors=" + descriptors + "\n";
    GError* error = nullptr;
    EXPECT_TRUE(umockdev_testbed_add_from_string(testbed_, description.c_str(), &error))
        << (error ? error->message : "");
    if (error) g_error_free(error);
    return probe;
  }

  Link& StartLink() {
    transport_ = Usb1PrimaryTransport::Create([this](const std::string& text) {
      std::lock_guard lock(diagnosticsMutex_);
      diagnostics_.push_back(text);
    });
    EXPECT_NE(transport_, nullptr);
    link_ = std::make_unique<Link>(*transport_, libusb0_, LinkMode::kPrimary);
    return *link_;
  }

  UMockdevTestbed* testbed_ = nullptr;
  std::vector<std::unique_ptr<EmulatedProbe>> probes_;
  std::unique_ptr<Usb1PrimaryTransport> transport_;
  testing::FakeLibusb0Transport libusb0_;
  std::unique_ptr<Link> link_;
  std::mutex diagnosticsMutex_;
  std::vector<std::string> diagnostics_;
};

TEST_F(Usb1UmockdevTest, DeviceIndicesFollowBusThenPortPath) {
  AddDevice("2-1", 2, 2);
  AddDevice("1-3", 1, 2);
  AddDevice("1-2", 1, 3, 0x1234, 0x16);  // another vendor's device
  AddDevice("1-1", 1, 4);
  AddDevice("1-1.4", 1, 5, 0x1F3A, 0x11);  // another product
  Link& link = StartLink();
  const char* expected[] = {"usb:1-1", "usb:1-3", "usb:2-1"};
  for (int index = 0; index < 3; ++index) {
    ASSERT_EQ(link.OpenDevice(0x16, index), 1) << index;
    EXPECT_STREQ(link.Record(index).devicePath, expected[index]);
    char location[32] = {};
    EXPECT_EQ(link.DeviceLocation(index, location, sizeof location),
              static_cast<int>(std::strlen(expected[index])));
    EXPECT_STREQ(location, expected[index]);
  }
  EXPECT_EQ(link.OpenDevice(0x16, 3), 0);
  for (int index = 0; index < 3; ++index) link.Close(index);
  // The device behind the hub at port 1 names its whole port path.
  ASSERT_EQ(link.OpenDevice(0x11, 0), 1);
  EXPECT_STREQ(link.Record(0).devicePath, "usb:1-1.4");
  char location[8] = {};
  EXPECT_EQ(link.DeviceLocation(0, location, sizeof location), 9);
  EXPECT_STREQ(location, "usb:1-1");  // cut to the buffer
  link.Close(0);
}

TEST_F(Usb1UmockdevTest, OpenClaimsInterfaceZeroAndClassifiesItsEndpoints) {
  EmulatedProbe& probe = AddDevice("1-1", 1, 2);
  Link& link = StartLink();
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  EXPECT_EQ(probe.Claims(), 1);
  EXPECT_EQ(link.Record(0).bulkOutPipe, 0x01);
  EXPECT_EQ(link.Record(0).bulkInPipe, 0x82);
  EXPECT_EQ(link.Record(0).interruptPipe, 0x83);
  EXPECT_EQ(link.Record(0).deviceSpeed, kSpeedFull);
  link.Close(0);
  EXPECT_EQ(probe.Claims(), 0);
}

TEST_F(Usb1UmockdevTest, BulkTransfersBothWaysAndATimeout) {
  EmulatedProbe& probe = AddDevice("1-1", 1, 2);
  Link& link = StartLink();
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);

  unsigned char command[5] = {0x01, 0, 0, 0, 0};
  int count = -1;
  EXPECT_EQ(link.Write(0, command, 5, &count, 500), 1);
  EXPECT_EQ(count, 5);
  ASSERT_EQ(probe.Written().size(), 1u);
  EXPECT_EQ(probe.Written()[0], (std::vector<uint8_t>{0x01, 0, 0, 0, 0}));

  probe.QueueAnswer({'Q', 1, 2, 3, 4});
  unsigned char answer[5] = {};
  EXPECT_EQ(link.Read(0, answer, 5, &count, 500), 1);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(answer[0], 'Q');
  EXPECT_EQ(answer[4], 4);

  // No answer: the read ends at its time-out and fails.
  EXPECT_EQ(link.Read(0, answer, 5, &count, 50), 0);
  EXPECT_EQ(count, 0);
  link.Close(0);
}

TEST_F(Usb1UmockdevTest, ProbeThatDisappearsFailsTransfersAndLaterOpens) {
  EmulatedProbe& probe = AddDevice("1-1", 1, 2);
  Link& link = StartLink();
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  probe.Unplug();
  unsigned char command[5] = {0x01, 0, 0, 0, 0};
  int count = -1;
  EXPECT_EQ(link.Write(0, command, 5, &count, 500), 0);
  EXPECT_EQ(count, 0);
  link.Close(0);
  EXPECT_TRUE(diagnostics_.empty());
  EXPECT_EQ(link.OpenDevice(0x16, 0), 0);  // still listed, but it cannot be claimed
  // The reason reaches the diagnostics (and so VORLINK_TRACE): which probe, which step, libusb's error.
  ASSERT_EQ(diagnostics_.size(), 1u);
  EXPECT_TRUE(diagnostics_[0].starts_with("libusb-1.0: usb:1-1: cannot claim interface 0: LIBUSB_ERROR_"))
      << diagnostics_[0];
  umockdev_testbed_remove_device(testbed_, "/sys/devices/pci0000:00/usb1/1-1");
  EXPECT_EQ(link.OpenDevice(0x16, 0), 0);
}

// WriteChunks through libusb's asynchronous transfers: the chunks are all in flight together,
// the device takes them in order, and the first one that does not complete whole (a stall, a
// short transfer) ends the call with the ones behind it cancelled.
TEST_F(Usb1UmockdevTest, WriteChunksGoInFlightInOrderAndStopAtTheFirstThatFails) {
  EmulatedProbe& probe = AddDevice("1-1", 1, 2);
  Link& link = StartLink();
  ASSERT_EQ(link.OpenDevice(0x16, 0), 1);
  constexpr int kChunks = 32, kLength = 64;
  std::vector<unsigned char> block(kChunks * kLength);
  for (size_t i = 0; i < block.size(); ++i) block[i] = static_cast<unsigned char>(i * 7 + i / kLength);
  auto chunk = [&](int n, int length) {
    const auto start = block.begin() + n * kLength;
    return std::vector<uint8_t>(start, start + length);
  };
  struct Case {
    const char* name;
    int failAt, status, actual;                        // the emulated device's answer
    int result, completed, failedResult, failedCount;  // WriteChunks'
  } cases[] = {
      {"all whole", -1, 0, 0, 1, kChunks, 0, 0},
      {"stall at chunk 5", 5, -EPIPE, 0, 0, 5, 0, 0},
      {"chunk 5 short", 5, 0, 10, 0, 5, 1, 10},
      {"device gone at chunk 0", 0, -ENODEV, 0, 0, 0, 0, 0},
      {"last chunk short", kChunks - 1, 0, 63, 0, kChunks - 1, 1, 63},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    probe.ScriptOut(c.failAt, c.status, c.actual);
    int completed = -1, failedResult = -1, failedCount = -1;
    EXPECT_EQ(
        link.WriteChunks(0, block.data(), kLength, kChunks, 500, &completed, &failedResult, &failedCount),
        c.result);
    EXPECT_EQ(completed, c.completed);
    EXPECT_EQ(failedResult, c.failedResult);
    EXPECT_EQ(failedCount, c.failedCount);
    // The device saw the chunks before the failed one whole and in order, the failed one as far
    // as it took it, and nothing after it.
    std::vector<std::vector<uint8_t>> expected;
    for (int n = 0; n < c.completed; ++n) expected.push_back(chunk(n, kLength));
    if (c.actual > 0) expected.push_back(chunk(c.completed, c.actual));
    EXPECT_EQ(probe.Written(), expected);
    EXPECT_EQ(probe.MaxOutInFlight(), kChunks);  // all submitted before the first was taken
  }
  // A Write after the failures still works: every cancelled transfer was reaped and freed.
  probe.ScriptOut(-1, 0, 0);
  int count = -1;
  EXPECT_EQ(link.Write(0, block.data(), kLength, &count, 500), 1);
  EXPECT_EQ(probe.Written(), (std::vector<std::vector<uint8_t>>{chunk(0, kLength)}));
  link.Close(0);
}

// Four device indices stream at once from four threads: each thread's transfers may call back on
// whichever thread handles libusb's events, and every call still returns with its own chunks, all
// of them in order on its own device.
TEST_F(Usb1UmockdevTest, WriteChunksFromSeveralThreadsAtOnce) {
  constexpr int kProbes = 4, kCalls = 20, kChunks = 32, kLength = 64;
  std::vector<EmulatedProbe*> probes;
  for (int p = 0; p < kProbes; ++p) probes.push_back(&AddDevice("1-" + std::to_string(p + 1), 1, p + 2));
  Link& link = StartLink();
  for (int p = 0; p < kProbes; ++p) ASSERT_EQ(link.OpenDevice(0x16, p), 1);
  std::vector<std::vector<unsigned char>> blocks(kProbes, std::vector<unsigned char>(kChunks * kLength));
  for (int p = 0; p < kProbes; ++p) {
    for (size_t i = 0; i < blocks[p].size(); ++i)
      blocks[p][i] = static_cast<unsigned char>(p * 64 + i / kLength);
  }
  std::vector<int> succeeded(kProbes, 0);
  std::vector<std::thread> threads;
  for (int p = 0; p < kProbes; ++p) {
    threads.emplace_back([&, p] {
      for (int call = 0; call < kCalls; ++call) {
        int completed = 0, failedResult = 0, failedCount = 0;
        succeeded[p] += link.WriteChunks(p, blocks[p].data(), kLength, kChunks, 2000, &completed,
                                         &failedResult, &failedCount) != 0 &&
                        completed == kChunks;
      }
    });
  }
  for (std::thread& thread : threads) thread.join();
  for (int p = 0; p < kProbes; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(succeeded[p], kCalls);
    const std::vector<std::vector<uint8_t>> written = probes[p]->Written();
    ASSERT_EQ(written.size(), static_cast<size_t>(kCalls * kChunks));
    for (size_t n = 0; n < written.size(); ++n) {
      const auto start = blocks[p].begin() + static_cast<long>(n % kChunks) * kLength;
      ASSERT_EQ(written[n], std::vector<uint8_t>(start, start + kLength)) << n;
    }
  }
  for (int p = 0; p < kProbes; ++p) link.Close(p);
}

// libusb 0.1 reaches the same emulated probe: a product that has no class GUID fails the
// primary open at once, and device index 0 falls back to libusb 0.1 through the real usb.h.
TEST_F(Usb1UmockdevTest, FallBackToTheRealLibusb01ForIndexZero) {
  EmulatedProbe& probe = AddDevice("1-1", 1, 2, 0x1F3A, 0x20);
  transport_ = Usb1PrimaryTransport::Create();
  ASSERT_NE(transport_, nullptr);
  Usb01Transport libusb01;
  Link link{*transport_, libusb01, LinkMode::kPrimary};

  EXPECT_EQ(link.OpenDevice(0x20, 1), 0);  // only index 0 falls back
  ASSERT_EQ(link.OpenDevice(0x20, 0), 1);
  EXPECT_EQ(link.Mode(), LinkMode::kLibusb0);
  EXPECT_EQ(probe.Claims(), 1);
  EXPECT_EQ(link.OpenDevice(0x20, 1), 0);
  // libusb 0.1 knows only bus and address; the port path comes from libusb-1.0.
  char location[32] = {};
  EXPECT_EQ(link.DeviceLocation(0, location, sizeof location), 7);
  EXPECT_STREQ(location, "usb:1-1");

  unsigned char command[5] = {0x02, 0, 0, 0, 0};
  int count = -1;
  EXPECT_EQ(link.Write(0, command, 5, &count, 500), 1);
  EXPECT_EQ(count, 5);
  ASSERT_EQ(probe.Written().size(), 1u);
  EXPECT_EQ(probe.Written()[0][0], 0x02);
  probe.QueueAnswer({'Q', 0, 0, 0, 0});
  unsigned char answer[5] = {};
  EXPECT_EQ(link.Read(0, answer, 5, &count, 500), 1);
  EXPECT_EQ(count, 5);
  EXPECT_EQ(answer[0], 'Q');

  // No answer: libusb 0.1 returns a negative value, and the read fails with it as the count.
  EXPECT_EQ(link.Read(0, answer, 5, &count, 50), 0);
  EXPECT_LT(count, 0);

  link.Close(0);
  EXPECT_EQ(probe.Claims(), 0);
  EXPECT_EQ(link.Write(0, command, 5, &count, 500), 0);  // the closed handle is not reused
  EXPECT_EQ(count, 0);
}

}  // namespace
}  // namespace vorlink
