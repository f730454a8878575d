// SPDX-License-Identifier: MIT
// The download job on one probe of the fake bench, run on the test's thread.
#include "jobs/download_job.h"

#include <cstring>

#include "job_fixture.h"
#include "jobs/crc32.h"
#include "probe/nor_types.h"

namespace zolt::testing {
namespace {

constexpr int kDevice = 3;

class DownloadJobTest : public JobFixture {
 protected:
  // One KELDA NOR (EN29LV040A, 8 x 1) probe at kDevice and one 100-byte image as file #1.
  DownloadJobTest() {
    Probe([](FakeProbeConfig&) {});
    SetDownload(kKelda, /*nand=*/false, 1);
    UseImages({ImageFile(dir, "a.bin", 100)});
  }
  void Probe(const std::function<void(FakeProbeConfig&)>& change, int device = kDevice,
             int product = kKelda) {
    FakeProbeConfig config = ProbeFor(product);
    config.flashId = {0x1C, 0x4F, 0, 0};
    change(config);
    bench.Configure(device, config);
  }
  // Runs one job on the test's thread for the probe at kDevice.
  void RunJob() {
    MarkSlots({kDevice});
    TakeRequest();
    DownloadJob(ctx);
    EXPECT_EQ(ctx.settings.runningJobCount.load(), 0);
    EXPECT_FALSE(bench.IsOpen(kDevice));
    EXPECT_TRUE(op.Log().ends_with("\r\n"));
  }
  std::vector<std::string> Codes(int device = kDevice) const {
    std::vector<std::string> out;
    for (const std::string& e : bench.Commands(device)) {
      if (e.rfind("cmd=", 0) == 0) out.push_back(e.substr(4));
    }
    return out;
  }
  std::vector<uint8_t> CommandBytes(uint8_t code) const {
    for (const FakeEvent& e : bench.Events(kDevice)) {
      if (e.text.rfind("cmd=", 0) == 0 && e.bytes[0] == code) return e.bytes;
    }
    return {};
  }
  bool Sent(const char* code) const {
    const auto codes = Codes();
    return std::find(codes.begin(), codes.end(), code) != codes.end();
  }
  int Failed() const { return ctx.failedDeviceCount.load(); }
};

TEST_F(DownloadJobTest, SendsTheSetUpOrderOfEachFlashTypeAndProduct) {
  using V = std::vector<std::string>;
  struct Case {
    const char* name;
    int product;
    bool nand;
    std::array<uint16_t, 4> flashId;
    V codes;
  };
  const V dataTail{"0x18", "0x01"};
  const Case cases[] = {
      {"NOR KELDA",
       kKelda,
       false,
       {0x1C, 0x4F, 0, 0},
       {"0x98", "0x08", "0x04", "0x12", "0x13", "0x15", "0x14", "0x16", "0x18", "0x01"}},
      {"NAND",
       kKelda,
       true,
       {0xEC, 0xDA, 0, 0x15},
       {"0x98", "0x08", "0x04", "0x12", "0x13", "0x14", "0x15", "0x18", "0x01"}},
      {"NOR TARVIS",
       kTarvis,
       false,
       {0x1C, 0x6E, 0, 0},
       {"0x98", "0x08", "0x04", "0x03", "0x05", "0x05", "0x05", "0x07", "0x06", "0x15", "0x14", "0x16",
        "0x18", "0x01"}},
      {"NOR SOLANT",
       kSolant,
       false,
       {0x1C, 0x4F, 0, 0},
       {"0x98", "0x08", "0x04", "0x12", "0x13", "0x03", "0x05", "0x05", "0x05", "0x06", "0x07", "0x06",
        "0x15", "0x14", "0x16", "0x18", "0x01"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench.Reset();
    Probe([&c](FakeProbeConfig& p) { p.flashId = c.flashId; }, kDevice, c.product);
    SetDownload(c.product, c.nand, 1);
    RunJob();
    EXPECT_EQ(Codes(), c.codes);
    EXPECT_EQ(Failed(), 0);
    // The data went out between the announcement and the JTAG reset.
    const auto events = bench.Commands(kDevice);
    EXPECT_EQ(std::vector<std::string>(events.end() - 4, events.end()),
              (V{"data 64", "data 36", "block", "cmd=0x01"}));
  }
  // SetExtestDebug for TARVIS, SetExtest otherwise; TARVIS's JTAG type is 1.
  EXPECT_EQ(CommandBytes(0x04), (std::vector<uint8_t>{0x04, 0x00, 0x00, 0x00, 0x00}));
}

TEST_F(DownloadJobTest, TarvisUsesExtestDebugAndLogsItsFlashId) {
  bench.Reset();
  Probe([](FakeProbeConfig& p) { p.flashId = {0x1C, 0x4F, 0, 0}; }, kDevice, kTarvis);
  SetDownload(kTarvis, false, 0, 8, 1);
  RunJob();
  EXPECT_EQ(CommandBytes(0x04), (std::vector<uint8_t>{0x04, 0x01, 0x00, 0x00, 0x01}));
  EXPECT_EQ(CommandBytes(0x03)[1], 1);
  EXPECT_NE(op.Log().find("  DEVICE #3: Maker ID(0x001C) Device ID(0x004F)\r\n"), std::string::npos);
  EXPECT_EQ(op.firmwareVersion, " 2.12");
  EXPECT_EQ(op.bootloaderVersion, " 2.20");
}

TEST_F(DownloadJobTest, FirmwareBelow212IsRefused) {
  struct Case {
    const char* firmware;
    bool refused;
  };
  for (const Case& c : {Case{" 2.11", true}, Case{"02.11", true}, Case{" 2.12", false}, Case{"02.12", false},
                        Case{" 3.00", false}}) {
    SCOPED_TRACE(c.firmware);
    bench.Reset();
    Probe([&c](FakeProbeConfig& p) { p.firmware = c.firmware; });
    ctx.failedDeviceCount.store(0);
    RecordingOperator fresh;
    JobContext job(fresh, clock);
    job.link = ctx.link;
    job.settings.flashTypeCode = ctx.settings.flashTypeCode;
    job.settings.norType = 1, job.settings.norWidth = 8, job.settings.norInterleave = 1,
    job.settings.busWidth = 8;
    job.settings.deviceSlots[kDevice].store(1);
    job.settings.runningJobCount.store(1);
    fresh.imagePath[0] = op.imagePath[0];
    fresh.fields = op.fields;
    job.request = fresh.Request();
    DownloadJob(job);
    EXPECT_EQ(fresh.firmwareVersion, c.firmware);
    EXPECT_EQ(job.failedDeviceCount.load(), c.refused ? 1 : 0);
    if (c.refused) {
      EXPECT_EQ(fresh.Messages(), std::vector<std::string>{"DEVICE #3: Sorry, upgrate firmware of USB JTAG"});
      EXPECT_EQ(Codes(), (std::vector<std::string>{"0x98"}));
    } else {
      EXPECT_TRUE(fresh.Messages().empty());
    }
  }
}

TEST_F(DownloadJobTest, OldOrUnknownBootloaderWarnsOnlyForSourceLevelDebugProducts) {
  const std::string banner =
      "\r\n  **********************************************************\r\n"
      "  Sorry, Your USB JTAG is not support Source Level Debugging\r\n"
      "  **********************************************************\r\n\r\n";
  struct Case {
    int product;
    const char* bootloader;
    const char* shown;
    bool banner;
  };
  const Case cases[] = {
      {kSolant, "", "Unknown", true}, {kSolant, " 2.19", " 2.19", true}, {kSolant, " 2.20", " 2.20", false},
      {kKelda, "", "Unknown", false}, {kTarvis, " 1.00", " 1.00", true},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.product) + c.bootloader);
    bench.Reset();
    Probe([&c](FakeProbeConfig& p) { p.bootloader = c.bootloader; }, kDevice, c.product);
    SetDownload(c.product, false, 1);
    const size_t before = op.Log().size();
    RunJob();
    const std::string log = op.Log().substr(before);
    EXPECT_EQ(op.bootloaderVersion, c.shown);
    EXPECT_EQ(log.find(banner) != std::string::npos, c.banner);
    EXPECT_NE(log.find("Downloading done"), std::string::npos);  // the download goes on
  }
  EXPECT_EQ(Failed(), 0);
}

TEST_F(DownloadJobTest, SetUpFailuresLogTheirTextAndEndTheJobFailed) {
  struct Case {
    int product;
    std::function<void(FakeProbeConfig&)> change;
    const char* logTail;
    std::vector<std::string> messages;
    const char* lastCode;
  };
  const Case cases[] = {
      {kKelda,
       [](FakeProbeConfig& p) { p.failReadCode = 0x04; },
       "DEVICE #3: Cannot SET EXTEST\r\n",
       {},
       "0x04"},
      {kKelda, [](FakeProbeConfig& p) { p.nakCode = 0x12; }, "Cannot INIT BOUNDARY Data\r\n", {}, "0x12"},
      {kKelda, [](FakeProbeConfig& p) { p.nakCode = 0x13; }, " Cannot SET CONFIG BOUNDARY\r\n", {}, "0x13"},
      {kTarvis, [](FakeProbeConfig& p) { p.nakCode = 0x03; }, " Cannot SET JTAG TYPE\r\n", {}, "0x03"},
      {kSolant,
       [](FakeProbeConfig& p) { p.failReadCode = 0x05; },
       " Cannot CONFIG DEBUG MODE\r\n",
       {"Cannot Read 'SET JTAG DR' Response"},
       "0x05"},
      {kKelda,
       [](FakeProbeConfig& p) { p.nakCode = 0x15; },
       "\r\n",
       {"ERROR, 'SET FLASH INFO' Response"},
       "0x15"},
      {kKelda,
       [](FakeProbeConfig& p) { p.failWriteCode = 0x14; },
       "\r\n",
       {"Cannot Write 'Read FLash ID' Command"},
       "0x15"},
      {kKelda,
       [](FakeProbeConfig& p) { p.failReadCode = 0x14; },
       "\r\n",
       {"Cannot Read 'Read Flash ID' Response"},
       "0x14"},
      {kKelda,
       [](FakeProbeConfig& p) {
         p.flashId = {0x1C, 0x6E, 0, 0};
       },
       "(0x006E)\r\n\r\n",
       {"Cannot find flash"},
       "0x14"},
      {kKelda, [](FakeProbeConfig& p) { p.nakCode = 0x16; }, "\r\n", {"ERROR, Read FLASH CFI"}, "0x16"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.logTail);
    bench.Reset();
    Probe(c.change, kDevice, c.product);
    SetDownload(c.product, false, 1);
    ctx.failedDeviceCount.store(0);
    const size_t messages = op.Messages().size();
    RunJob();
    EXPECT_EQ(Failed(), 1);
    EXPECT_TRUE(op.Log().ends_with(c.logTail)) << op.Log();
    const auto all = op.Messages();
    EXPECT_EQ(std::vector<std::string>(all.begin() + messages, all.end()), c.messages);
    EXPECT_EQ(Codes().back(), c.lastCode);  // nothing after the failing step, no JTAG reset
  }
}

TEST_F(DownloadJobTest, AcceptsNorFlashByTypeAndSendsItsCfiRecord) {
  struct Case {
    int product, norType, width;
    uint16_t maker, device;
    bool accepted;
    bool zeroCfi;
    int interleave = 1;
  };
  const Case cases[] = {
      // EN29LV010A answers 0x6E (0x6E6E side by side); the record's 0x6F stays accepted too.
      {kKelda, kEn29lv010a, 8, 0x1C, 0x6E, true, false},
      {kKelda, kEn29lv010a, 8, 0x1C, 0x6E6E, true, false, 2},
      {kKelda, kEn29lv010a, 8, 0x1C, 0x6F6F, true, false, 2},
      {kKelda, kEn29lv010a, 8, 0x1C, 0x6E, false, false, 2},
      {kKelda, kEn29lv010a, 8, 0x1C, 0x6E6E, false, false},
      {kKelda, kEn29lv010a, 8, 0x1C, 0x6D, false, false},
      {kKelda, kEn29lv040a, 8, 0x1C, 0x6E, false, false},  // only EN29LV010A takes its part's real answer
      {kTarvis, kEn29lv010a, 8, 0x1C, 0x6E, true, false},
      {kTarvis, kEn29lv010a, 8, 0x1C, 0x4F, true, false},
      {kTarvis, kEn29lv010a, 8, 0x01, 0x6E, false, false},
      {kKelda, kEn29lv010a, 8, 0x01, 0x6F, true, false},
      {kKelda, kEn29lv010a, 8, 0x01, 0x4F, false, false},
      {kKelda, kS29al004d, 8, 0x01, 0x22B9, true, false},
      {kKelda, kS29al004d, 8, 0x01, 0x22BA, true, false},
      {kKelda, kS29al004d, 8, 0x01, 0x22BB, false, false},
      {kKelda, kS29al008d, 8, 0x01, 0x125B, true, false},
      {kKelda, kS29al008d, 16, 0x01, 0x00DA, true, false},
      {kKelda, kS29gl064m, 16, 0x01, 0x227E, true, true},
      {kKelda, kSst39vf6401, 16, 0xBF, 0x236B, true, true},
      {kKelda, kSst39vf6401, 16, 0xBF, 0x236C, false, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(std::to_string(c.norType) + " " + std::to_string(c.device));
    bench.Reset();
    Probe([&c](FakeProbeConfig& p) { p.flashId = {c.maker, c.device, 0, 0}; }, kDevice, c.product);
    SetDownload(c.product, false, c.norType, c.width, c.interleave);
    ctx.failedDeviceCount.store(0);
    const size_t messages = op.Messages().size();
    RunJob();
    EXPECT_EQ(Failed(), c.accepted ? 0 : 1);
    EXPECT_EQ(op.Messages().size() - messages, c.accepted ? 0u : 1u);
    EXPECT_EQ(Sent("0x16"), c.accepted);
    if (!c.accepted) continue;
    const std::vector<uint8_t> cfi = CommandBytes(0x16);
    ASSERT_EQ(cfi.size(), 40u);
    EXPECT_EQ(cfi[1], 0x22);
    const bool allZero = std::all_of(cfi.begin() + 4, cfi.end(), [](uint8_t b) { return b == 0; });
    EXPECT_EQ(allZero, c.zeroCfi);
    if (!c.zeroCfi) {
      EXPECT_EQ(std::string(cfi.begin() + 4, cfi.begin() + 7), "QRY");
    }
  }
}

TEST_F(DownloadJobTest, NandIdentificationSendsTheNandDescription) {
  bench.Reset();
  Probe([](FakeProbeConfig& p) { p.flashId = {0xEC, 0xDA, 0, 0x15}; });
  SetDownload(kKelda, true);
  RunJob();
  EXPECT_NE(
      op.Log().find("  DEVICE #3: Maker ID(0x00EC) Device ID(0x00DA)\r\n 2G08, Block Size: 0x20000\r\n"),
      std::string::npos);
  const auto info = CommandBytes(0x15);
  ASSERT_EQ(info.size(), 68u);
  EXPECT_EQ(info[1], 0x21);
  EXPECT_EQ(info[4 + 2], 0xDA);
  EXPECT_EQ(CommandBytes(0x14), (std::vector<uint8_t>{0x14, 0x21, 0, 0, 0}));

  bench.Reset();
  Probe([](FakeProbeConfig& p) { p.flashId = {0xEC, 0x01DA, 0, 0x15}; });
  RunJob();
  EXPECT_EQ(Failed(), 1);
  EXPECT_TRUE(op.Log().ends_with("  Unknown NAND Flash ID !\r\n\r\n"));
  EXPECT_EQ(Codes().back(), "0x14");
}

TEST_F(DownloadJobTest, ImageFilesAreTakenInOrderAndSkippedWhenDisabledOrWithoutPath) {
  const std::string second = ImageFile(dir, "b.bin", 3000, 2);
  op.imageEnabled = {true, true, false};
  op.imagePath = {"", second, ImageFile(dir, "c.bin", 10)};
  op.imageBlock = {7, 9, 11};
  RunJob();
  EXPECT_EQ(Failed(), 0);
  const auto files = bench.Files(kDevice);
  ASSERT_EQ(files.size(), 1u);
  EXPECT_EQ(files[0].bytes, Contents(second));
  EXPECT_EQ(files[0].dataInfo[7], 9);
  EXPECT_EQ(op.SentBytes(kDevice, 1), 3000u);  // file number 1
  EXPECT_EQ(op.SentBytes(kDevice, 0), 0u);
  EXPECT_EQ(Codes().back(), "0x01");

  bench.Reset();
  Probe([](FakeProbeConfig&) {});
  op.imageEnabled = {false, false, false};
  RunJob();
  EXPECT_EQ(Failed(), 0);
  EXPECT_FALSE(Sent("0x18"));
  EXPECT_EQ(Codes().back(), "0x01");
}

// Ends that leave a board unprogrammed count as failures; their other effects stay.
TEST_F(DownloadJobTest, EveryEndThatLeavesTheBoardUnprogrammedCountsAsFailed) {
  struct Case {
    const char* name;
    std::function<void(FakeProbeConfig&)> change;
    bool missingFirstFile;
    const char* logPart;
    std::vector<std::string> codesTail;
  };
  const Case cases[] = {
      {"probe does not open",
       [](FakeProbeConfig& p) { p.present = false; },
       false,
       "  DEVICE #3: Cannot open\r\n\r\n",
       {}},
      {"image does not open", [](FakeProbeConfig&) {}, true, "Cannot open '", {"0x18", "0x01"}},
      {"flash ID all zero",
       [](FakeProbeConfig& p) {
         p.flashId = {0, 0, 0, 0};
       },
       false,
       "  DEVICE #3: Maker ID(0x0000) Device ID(0x0000)\r\n  ERROR, Reading Flash ID\r\n\r\n",
       {"0x14"}},
      {"no erase response",
       [](FakeProbeConfig& p) { p.answerErase = false; },
       false,
       "Cannot Read 'Flash Erase' Response\r\n",
       {"0x18", "0x01"}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    bench.Reset();
    Probe(c.change);
    ctx.failedDeviceCount.store(0);
    op.imageEnabled = {true, true, false};
    op.imagePath = {c.missingFirstFile ? dir.path() + "/none.bin" : ImageFile(dir, "a.bin", 100),
                    ImageFile(dir, "b.bin", 10)};
    const size_t before = op.Log().size();
    RunJob();
    EXPECT_EQ(Failed(), 1);
    EXPECT_NE(op.Log().find(c.logPart, before), std::string::npos) << op.Log().substr(before);
    const auto codes = Codes();
    ASSERT_GE(codes.size(), c.codesTail.size());
    EXPECT_EQ(std::vector<std::string>(codes.end() - static_cast<long>(c.codesTail.size()), codes.end()),
              c.codesTail);
  }
}

TEST_F(DownloadJobTest, FailedFileEndsTheJobWithoutFurtherFilesOrReset) {
  Probe([](FakeProbeConfig& p) { p.blockResponses[1] = {0x56, 0, 0, 0, 0}; });
  UseImages({ImageFile(dir, "a.bin", 100), ImageFile(dir, "b.bin", 100)});
  RunJob();
  EXPECT_EQ(Failed(), 1);
  EXPECT_EQ(bench.Files(kDevice).size(), 1u);
  EXPECT_EQ(bench.Commands(kDevice).back(), "block");
}

TEST_F(DownloadJobTest, RefusesNorSettingsThatWouldSendNoCommandSetOrNoChipSelect) {
  struct Case {
    int norType, width, interleave;
    uint32_t offset;
    const char* log;
    const char* lastCode;
  };
  const Case cases[] = {
      {8, 16, 2, 0, "  DEVICE #3: NOR setting not supported by this flash type\r\n", "0x13"},
      {0, 16, 1, 0, "  DEVICE #3: NOR setting not supported by this flash type\r\n", "0x13"},
      {1, 8, 1, 0xE0000000, "  DEVICE #3: No chip select for offset 0xE0000000\r\n", "0x08"},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.log);
    bench.Reset();
    Probe([](FakeProbeConfig&) {});
    SetDownload(kKelda, false, c.norType, c.width, c.interleave, c.offset);
    ctx.failedDeviceCount.store(0);
    RunJob();
    EXPECT_EQ(Failed(), 1);
    EXPECT_TRUE(op.Log().ends_with(std::string(c.log) + "\r\n"));
    EXPECT_FALSE(Sent("0x15"));
    EXPECT_EQ(Codes().back(), c.lastCode);
  }
  // 0xDFFFFFFF still has KELDA's chip select 261.
  bench.Reset();
  Probe([](FakeProbeConfig&) {});
  SetDownload(kKelda, false, 1, 8, 1, 0xDFFFFFFF);
  ctx.failedDeviceCount.store(0);
  RunJob();
  EXPECT_EQ(Failed(), 0);
}

TEST_F(DownloadJobTest, JobsClaimTheLowestMarkedSlotAndNameTheirDevice) {
  for (int d : {2, 5}) Probe([](FakeProbeConfig&) {}, d);
  ctx.settings.deviceSlots[2].store(1);
  ctx.settings.deviceSlots[5].store(1);
  ctx.settings.runningJobCount.store(2);
  TakeRequest();
  DownloadJob(ctx);
  EXPECT_EQ(ctx.settings.deviceSlots[2].load(), 0);
  EXPECT_EQ(ctx.settings.deviceSlots[5].load(), 1);
  TakeRequest();
  DownloadJob(ctx);
  EXPECT_EQ(ctx.settings.runningJobCount.load(), 0);
  const std::string log = op.Log();
  EXPECT_NE(log.find("  DEVICE #2: Downloading done."), std::string::npos);
  EXPECT_NE(log.find("  DEVICE #5: Downloading done."), std::string::npos);
  EXPECT_EQ(bench.Files(2).size(), 1u);
  EXPECT_EQ(bench.Files(5).size(), 1u);
}

TEST_F(DownloadJobTest, ObserverHearsEachFileWithTheCrcOfTheBytesWritten) {
  RecordingObserver observer;
  ctx.observer = &observer;
  const std::string image = ImageFile(dir, "a.bin", 5000);
  op.imageEnabled = {true, true, false};
  op.imagePath = {dir.path() + "/none.bin", image};
  RunJob();
  const auto bytes = Contents(image);
  EXPECT_EQ(observer.crc, Crc32Final(Crc32Update(kCrc32Initial, bytes.data(), bytes.size())));
  EXPECT_EQ(observer.events,
            (std::vector<std::string>{"start 3", "file 3 1 a.bin 5000 5000 ok",
                                      "end 3 failed: Cannot open '" + dir.path() + "/none.bin'"}));

  observer.events.clear();
  bench.Reset();
  Probe([](FakeProbeConfig& p) { p.nakCode = 0x15; });
  RunJob();
  EXPECT_EQ(observer.events,
            (std::vector<std::string>{"start 3", "end 3 failed: ERROR, 'SET FLASH INFO' Response"}));
}

TEST_F(DownloadJobTest, VerifyBoxIsReadWhenTheFileIsAnnounced) {
  op.fields.verifyEnabled = false;
  RunJob();
  EXPECT_EQ(bench.Files(kDevice)[0].dataInfo[15], 0);
}

}  // namespace
}  // namespace zolt::testing
