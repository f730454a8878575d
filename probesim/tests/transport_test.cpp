// SPDX-License-Identifier: MIT
// The USB side of a bench probe: endpoints, open/close, transport faults, time-outs, the event log
// and the recorded pin patterns.
#include <cstdlib>
#include <regex>
#include <sstream>

#include "board_setup.h"

namespace probesim::test {
namespace {

TEST(Transport, DescriptorsVisibilityAndEndpoints) {
  ScratchDir dir;
  auto bench = MustLoad(
      "[[probe]]\ntarget = \"KELDA\"\nusb = \"primary\"\n[[probe]]\ntarget = \"OKO\"\nusb = "
      "\"libusb0\"\nproduct_id = 0x17\n",
      dir.path());
  ASSERT_EQ(bench->ProbeCount(), 2u);
  BenchProbe& a = bench->Probe(0);
  BenchProbe& b = bench->Probe(1);
  EXPECT_EQ(a.VendorId(), 0x1F3A);
  EXPECT_EQ(a.ProductId(), 0x16);
  EXPECT_EQ(b.ProductId(), 0x17);
  EXPECT_TRUE(a.VisibleToPrimary());
  EXPECT_FALSE(a.VisibleToLibusb0());
  EXPECT_FALSE(b.VisibleToPrimary());
  EXPECT_TRUE(b.VisibleToLibusb0());
  EXPECT_NE(a.PortPath(), b.PortPath());
  const auto eps = a.Endpoints();
  ASSERT_EQ(eps.size(), 2u);
  EXPECT_EQ(eps[0].address, 0x01);
  EXPECT_EQ(eps[0].type, EndpointType::kBulk);
  EXPECT_EQ(eps[1].address, 0x82);
  EXPECT_EQ(eps[1].type, EndpointType::kBulk);
}

TEST(Transport, ClosedProbeWrongEndpointAndShortBuffer) {
  ScratchDir dir;
  auto bench = MustLoad("[[probe]]\ntarget = \"KELDA\"\n", dir.path());
  BenchProbe& p = bench->Probe(0);
  uint8_t buf[64] = {0x01};
  EXPECT_EQ(p.BulkWrite(0x01, buf, 5, 500).status, TransferStatus::kNoDevice) << "not open";
  ASSERT_TRUE(p.Open());
  EXPECT_EQ(p.BulkWrite(0x02, buf, 5, 500).status, TransferStatus::kError);
  EXPECT_EQ(p.BulkWrite(0x01, buf, 5, 500).status, TransferStatus::kOk);
  EXPECT_EQ(p.BulkRead(0x81, buf, 5, 500).status, TransferStatus::kError);
  EXPECT_EQ(p.BulkRead(0x82, buf, 3, 500).status, TransferStatus::kError) << "the 5-byte answer overflows";
  EXPECT_EQ(p.BulkRead(0x82, buf, 5, 500).status, TransferStatus::kTimeout) << "and is gone";
  p.Close();
  EXPECT_EQ(p.BulkRead(0x82, buf, 5, 500).status, TransferStatus::kNoDevice);
}

TEST(Transport, UnpluggedAfterTransfersOrBytes) {
  ScratchDir dir;
  auto bench = MustLoad(
      "[[probe]]\ntarget = \"KELDA\"\n[probe.faults]\nunplug_after_transfers = 4\n"
      "[[probe]]\ntarget = \"KELDA\"\n[probe.faults]\nunplug_after_bytes = 12\n",
      dir.path());
  {
    Host h(bench->Probe(0));
    EXPECT_EQ(h.Code(Host::Short(0x01)), 'Q');
    EXPECT_EQ(h.Code(Host::Short(0x02)), 'Q');
    EXPECT_EQ(h.Write(Host::Short(0x01)).status, TransferStatus::kNoDevice);
  }
  EXPECT_FALSE(bench->Probe(0).Open()) << "an unplugged probe cannot be opened again";
  Host h(bench->Probe(1));
  EXPECT_EQ(h.Code(Host::Short(0x01)), 'Q');                          // 10 bytes
  EXPECT_EQ(h.Write(Host::Short(0x02)).status, TransferStatus::kOk);  // reaches 15
  EXPECT_EQ(h.Write(Host::Short(0x02)).status, TransferStatus::kNoDevice);
}

TEST(Transport, MissingLateAndGarbledAnswers) {
  ScratchDir dir;
  auto bench = MustLoad(
      "[[probe]]\ntarget = \"KELDA\"\n[probe.faults]\nno_answer = [0x01]\nlate_answer = [0x02]\n"
      "garbled_answer = [0x98]\n",
      dir.path());
  Host h(bench->Probe(0));
  EXPECT_FALSE(h.Exchange(Host::Short(0x01), 5));
  EXPECT_FALSE(h.Exchange(Host::Short(0x02), 5)) << "the answer comes after the time-out";
  auto late = h.Read(5);
  ASSERT_TRUE(late) << "and is read by the next read";
  EXPECT_EQ((*late)[0], 'Q');
  auto fw = h.Exchange(Host::FirmwareQuery(), 22);
  ASSERT_TRUE(fw);
  EXPECT_EQ(fw->size(), 22u);
  EXPECT_NE(std::string(fw->begin(), fw->begin() + 13), "ZOLT USB JTAG");
  EXPECT_EQ(h.Code(Host::Short(0x03)), 'Q') << "other commands are not touched";
}

TEST(Transport, GarbledAnswersNeverLookLikeAValidCode) {
  ScratchDir dir;
  auto bench =
      MustLoad("[[probe]]\ntarget = \"KELDA\"\n[probe.faults]\ngarbled_answer = [0x01]\n", dir.path());
  Host h(bench->Probe(0));
  for (int i = 0; i < 300; ++i) {
    const int code = h.Code(Host::Short(0x01));
    ASSERT_NE(code, -1);
    EXPECT_FALSE(code >= 0x51 && code <= 0x60) << "answer " << i << ": 0x" << std::hex << code;
  }
}

TEST(Transport, MissingBlockResponse) {
  ScratchDir dir;
  auto bench = MustLoad(
      "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n[probe.faults]\nno_answer = [\"block\"]\n",
      dir.path());
  Host h(bench->Probe(0));
  KeldaNorReady(h);
  ASSERT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 64, false)), 'Q');
  h.Write(Bytes(64, 1));
  EXPECT_FALSE(h.Read(5, 14000));
  EXPECT_EQ(h.Code(Host::Short(0x01)), 'Q') << "the file was complete: the probe takes commands again";
}

TEST(Transport, LostDownloadAnnouncementLeavesTheProbeTakingCommands) {
  ScratchDir dir;
  auto bench =
      MustLoad("[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n[probe.faults]\nno_answer = [0x18]\n",
               dir.path());
  Host h(bench->Probe(0));
  KeldaNorReady(h);
  EXPECT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 0, 4096, false)), -1);
  EXPECT_EQ(h.Code(Host::Short(0x01)), 'Q');
  EXPECT_FALSE(LastDownload(*bench, 0).announced);
}

TEST(Transport, RealisticTimingHonoursScaledTimeOutsAndStillProgramsTheFlash) {
  ScratchDir dir;
  auto bench = MustLoad(
      "[bench]\ntiming = \"realistic\"\ntime_scale = 0.001\n"
      "[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n",
      dir.path());
  {
    Host h(bench->Probe(0));
    uint8_t buf[8];
    EXPECT_EQ(h.probe().BulkRead(0x82, buf, 5, 2000).status, TransferStatus::kTimeout);
    KeldaNorReady(h);
    ASSERT_EQ(h.Code(Host::DownloadInfo(kNor, 0, 1, 4096, true)), 'Q');
    for (int i = 0; i < 64; ++i) {
      h.Write(Bytes(64, static_cast<uint8_t>(i)));
      if ((i + 1) % 32 == 0) {
        auto a = h.Read(5, 14000);
        ASSERT_TRUE(a);
        EXPECT_EQ((*a)[0], i == 63 ? 0x60 : 'Q');
      }
    }
  }
  const Bytes flash = ReadFile(FlashFilePath(*bench, 0));
  for (int i = 0; i < 64; ++i) EXPECT_EQ(flash[0x10000 + 64 * static_cast<size_t>(i)], i);
}

TEST(Transport, EventLogAndPinEvents) {
  ScratchDir dir;
  const std::string log = dir.path() + "/events.log";
  ::setenv("PROBESIM_LOG", log.c_str(), 1);
  auto bench = MustLoad("[[probe]]\ntarget = \"OKO\"\n[[probe]]\ntarget = \"KELDA\"\n", dir.path());
  ::unsetenv("PROBESIM_LOG");
  {
    Host h(bench->Probe(1));
    EXPECT_EQ(h.Code({0x22}), 'Q');  // nothing loaded: the pins are not driven
    h.Exchange(Host::Short(0x04), 5);
    h.Exchange(Host::Prefixed(0x12, Model(Product::kKelda).image), 5);
    h.Exchange(Host::Prefixed(0x20, Model(Product::kKelda).highPattern), 5);
    h.Exchange(Host::Prefixed(0x21, Bytes(298, 0)), 5);
    for (int i = 0; i < 3; ++i) {
      EXPECT_EQ(h.Code({0x22}), 'Q');
      EXPECT_EQ(h.Code({0x23}), 'Q');
    }
  }
  const auto events = PinEvents(*bench, 1);
  ASSERT_EQ(events.size(), 7u);
  EXPECT_FALSE(events[0].driven);
  for (size_t i = 1; i < 7; ++i) {
    EXPECT_TRUE(events[i].driven);
    EXPECT_EQ(events[i].high, i % 2 == 1);
    EXPECT_EQ(events[i].productPattern, events[i].high) << "the low pattern sent was not KELDA's";
    EXPECT_GE(events[i].tUs, events[i - 1].tUs);
  }
  std::ifstream in(log);
  std::string line;
  std::vector<std::string> lines;
  while (std::getline(in, line)) lines.push_back(line);
  ASSERT_EQ(lines.size(), 17u);  // 11 commands + 6 driven patterns
  const std::regex command(R"(p=1 t_us=\d+ cmd=0x[0-9a-f]{2} len=\d+)");
  const std::regex apply(R"(p=1 t_us=\d+ apply=(high|low))");
  EXPECT_TRUE(std::regex_match(lines[0], command)) << lines[0];
  EXPECT_NE(lines[1].find("cmd=0x04 len=5"), std::string::npos) << lines[1];
  EXPECT_NE(lines[2].find("cmd=0x12 len=301"), std::string::npos) << lines[2];
  EXPECT_TRUE(std::regex_match(lines[6], apply)) << lines[6];
  EXPECT_NE(lines[6].find("apply=high"), std::string::npos);
}

TEST(Transport, EventLogMarksDataAndStopChunks) {
  ScratchDir dir;
  const std::string log = dir.path() + "/events.log";
  ::setenv("PROBESIM_LOG", log.c_str(), 1);
  auto bench = MustLoad("[[probe]]\ntarget = \"KELDA\"\nflash = \"EN29LV040A\"\n", dir.path());
  ::unsetenv("PROBESIM_LOG");
  {
    Host h(bench->Probe(0));
    KeldaNorReady(h);
    h.Exchange(Host::DownloadInfo(kNor, 0, 0, 100, false), 5);
    Bytes marker(64, 0);
    const std::string text = "USBJTAG_Down_STOP";
    std::copy(text.begin(), text.end(), marker.begin());
    h.Write(marker);
    h.Write(Bytes(36, 0));
    EXPECT_EQ(h.Read(5).value_or(Bytes{0})[0], 0x60);
  }
  std::ifstream in(log);
  std::stringstream all;
  all << in.rdbuf();
  EXPECT_NE(all.str().find("data len=64 stop\n"), std::string::npos) << all.str();
  EXPECT_NE(all.str().find("data len=36\n"), std::string::npos);
  EXPECT_NE(all.str().find("cmd=0x18 len=36\n"), std::string::npos);
}

}  // namespace
}  // namespace probesim::test

namespace probesim::test {
namespace {

TEST(Transport, RealisticEraseLongerThanTheHostTimeOutIsReadLater) {
  ScratchDir dir;
  auto bench = MustLoad(
      "[bench]\ntiming = \"realistic\"\ntime_scale = 0.01\n"
      "[[probe]]\ntarget = \"KELDA\"\nflash = \"AM29LV040B\"\n",
      dir.path());
  Host h(bench->Probe(0));
  KeldaNorReady(h);
  ASSERT_EQ(h.Write(Host::DownloadInfo(kNor, 0, 0, 64, false)).status, TransferStatus::kOk);
  EXPECT_FALSE(h.Read(5, 100)) << "a 0.7 s sector erase outlasts a 100 ms time-out";
  auto erase = h.Read(5, 10000);
  ASSERT_TRUE(erase);
  EXPECT_EQ((*erase)[0], 'Q');
}

}  // namespace
}  // namespace probesim::test
