// SPDX-License-Identifier: MIT
#include "jobs/download_job.h"

#include <array>
#include <cstring>
#include <string>

#include "jobs/flash_ranges.h"
#include "jobs/image_stream.h"
#include "jobs/job_steps.h"
#include "jobs/nand_flash.h"
#include "jobs/text_format.h"
#include "probe/nor_type_table.h"
#include "probe/probe_commands.h"
#include "probe/records.h"

namespace zolt {
namespace {

constexpr uint32_t kMinimumDebugBootloader = 220;
// A NOR offset selects one of eight 512 MiB chip-select regions; the probe places block 0 at the
// offset's place inside its region.
constexpr uint32_t kChipSelectRegionBytes = 0x20000000;

class Download {
 public:
  explicit Download(JobContext& ctx)
      : ctx_(ctx),
        settings_(ctx.settings),
        op_(ctx.op),
        probe_(ctx.link, op_),
        product_(ctx.request.productIndex) {}

  // `device` < 0: claims the lowest marked device index; otherwise claims exactly that one.
  void Run(int device) {
    device_ = device < 0 ? ClaimDeviceSlot(settings_.deviceSlots)
              : device < kMaxProbes && settings_.deviceSlots[device].exchange(0) == 1 ? device
                                                                                      : -1;
    if (device_ >= 0) {
      if (ctx_.observer != nullptr) ctx_.observer->OnJobStarted(device_);
      startMs_ = ctx_.clock.NowMs();
      Program();
      End();
    }
    // The job's last access to shared state: once the count reads 0, the monitor may report.
    settings_.runningJobCount.fetch_sub(1);
    ctx_.NotifyJobEnded();
  }

 private:
  // Ends the job as failed. `text` names the failure for the observer (the first one counts).
  void Fail(const std::string& text) {
    failed_ = true;
    if (failureText_.empty()) failureText_ = text;
  }
  // The same for a probe command, which has shown its own report.
  bool Failed(const CommandResult& result) {
    Fail(result.text());
    return false;
  }
  // Appends a set-up failure text (no line end: End's blank line closes it) and fails.
  void FailWithLog(const std::string& text) {
    op_.Append(text);
    Fail(text);
  }

  void Program() {
    if (ctx_.link.OpenDevice(kProbeProductId, device_) == 0) {
      FailWithLog(Format("  DEVICE #%d: Cannot open\r\n", device_));
      return;
    }
    if (ctx_.observer != nullptr) ctx_.observer->OnProbeOpened(device_, ProbeLocation(ctx_.link, device_));
    if (!CheckProbe() || !PrepareTarget() || !IdentifyFlash()) return;
    StreamFiles();
  }

  bool CheckProbe() {
    uint32_t bootloader = 0;
    const StepResult versions = CheckProbeVersions(probe_, op_, device_, &bootloader);
    if (!versions.ok) return Fail(versions.text), false;
    if (settings_.sourceLevelDebugProduct && bootloader < kMinimumDebugBootloader) {
      op_.Append("\r\n  **********************************************************\r\n");
      op_.Append("  Sorry, Your USB JTAG is not support Source Level Debugging\r\n");
      op_.Append("  **********************************************************\r\n\r\n");
    }
    return true;
  }

  bool PrepareTarget() {
    const bool nand = settings_.flashTypeCode == kFlashTypeNand;
    if (!nand && settings_.flashTypeCode != kFlashTypeNor) return Fail("unknown flash type"), false;
    if (product_ < kTarvis || product_ > kSolant) return Fail("unknown product"), false;
    if (nand) return BoundarySetup();
    // KELDA has no chip-select cell from 0xE0000000: the pin map would drive no chip select.
    if (product_ == kKelda && !ChipSelectCell(settings_.norOffset, kKelda).has_value()) {
      FailWithLog(Format("  DEVICE #%d: No chip select for offset 0x%08X\r\n", device_, settings_.norOffset));
      return false;
    }
    switch (product_) {
      case kTarvis:
        if (!probe_.SetExtestDebug(device_).ok()) {
          FailWithLog(ExtestFailedText(device_));
          return false;
        }
        if (!DebugSetup()) return false;
        break;
      case kSolant:
        if (!BoundarySetup() || !DebugSetup()) return false;
        break;
      default:
        if (!BoundarySetup()) return false;
        break;
    }
    return DescribeNorFlash();
  }

  bool BoundarySetup() {
    int imageLength = 0;
    const StepResult loaded =
        LoadBoundaryData(probe_, op_, device_, settings_, product_, pinMap_, boundaryImage_, &imageLength);
    if (!loaded.ok) return Fail(loaded.text), false;
    if (!probe_.SetConfigBoundary(device_, pinMap_).ok()) {
      FailWithLog(" Cannot SET CONFIG BOUNDARY");
      return false;
    }
    return true;
  }

  bool DebugSetup() {
    if (!probe_.SetJtagType(device_, static_cast<uint8_t>(settings_.jtagType)).ok()) {
      FailWithLog(" Cannot SET JTAG TYPE");
      return false;
    }
    if (!probe_.ConfigDebugMode(device_, product_).ok()) {
      FailWithLog(" Cannot CONFIG DEBUG MODE");
      return false;
    }
    return true;
  }

  bool DescribeNorFlash() {
    SetNorFlashInputs(flashInfo_, settings_.norWidth, settings_.norInterleave, settings_.norOffset);
    // A refused combination would leave the record without a command set; never send that.
    if (BuildFlashInfo(settings_.norType, flashInfo_) != 0) {
      FailWithLog(Format("  DEVICE #%d: NOR setting not supported by this flash type\r\n", device_));
      return false;
    }
    const CommandResult described = probe_.SetFlashInfo(device_, flashInfo_, kFlashTypeNor);
    return described.ok() || Failed(described);
  }

  bool IdentifyFlash() {
    const FlashIdRequest request{
        static_cast<uint8_t>(settings_.flashTypeCode), static_cast<uint8_t>(settings_.norType),
        static_cast<uint8_t>(settings_.norWidth), static_cast<uint8_t>(settings_.norInterleave)};
    FlashIdReply reply;
    const CommandResult read = probe_.ReadFlashId(device_, request, &reply);
    if (!read.ok()) return Failed(read);
    op_.Append(Format("  DEVICE #%d: Maker ID(0x%04X) Device ID(0x%04X)\r\n", device_, reply.makerId,
                      reply.deviceId));
    if (reply.makerId == 0 && reply.deviceId == 0) {
      // No flash answered: the board was not programmed, so the job counts as failed.
      FailWithLog("  ERROR, Reading Flash ID\r\n");
      return false;
    }
    if (settings_.flashTypeCode == kFlashTypeNand) {
      if (IdentifyNand(op_, flashInfo_, reply) != 0) return Fail("  Unknown NAND Flash ID !\r\n"), false;
      const CommandResult described = probe_.SetFlashInfo(device_, flashInfo_, kFlashTypeNand);
      if (!described.ok()) return Failed(described);
      geometry_ = {0, NandEraseBlockBytes(flashInfo_)};  // NAND places by block only
      if (ctx_.observer != nullptr)
        ctx_.observer->OnFlashIdentified(device_, reply.makerId, reply.deviceId,
                                         NandPartName(reply.deviceId));
      return true;
    }
    return AcceptNorFlash(reply);
  }

  bool AcceptNorFlash(const FlashIdReply& reply) {
    const int type = settings_.norType;
    if (!NorFlashAccepted(type, product_, flashInfo_, reply)) {
      op_.ShowMessage("Cannot find flash");
      return Fail("Cannot find flash"), false;
    }
    if (NorTypeTakesBuiltCfi(type)) BuildFlashCfi(settings_.norInterleave, reply.deviceId, flashCfi_);
    const CommandResult described =
        probe_.SetFlashCfi(device_, flashCfi_, static_cast<uint8_t>(settings_.flashTypeCode));
    if (!described.ok()) return Failed(described);
    geometry_ = {settings_.norOffset % kChipSelectRegionBytes,
                 NorEraseBlockBytes(type, settings_.norInterleave, flashCfi_, reply.deviceId, reply.thirdId)};
    if (ctx_.observer != nullptr)
      ctx_.observer->OnFlashIdentified(device_, reply.makerId, reply.deviceId, NorTypeLogName(type));
    return true;
  }

  void StreamFiles() {
    std::array<uint32_t, 3> blocks{};
    std::array<bool, 3> enabled{};
    std::array<std::string, 3> paths;
    for (int f = 0; f < 3; ++f) blocks[f] = ctx_.request.Block(f);
    for (int f = 0; f < 3; ++f) enabled[f] = ctx_.request.images[f].enabled;
    for (int f = 0; f < 3; ++f) paths[f] = ctx_.request.images[f].path;

    bool resetJtag = true;  // false once a file failed: no further file and no JTAG reset
    WrittenRanges written(geometry_);
    for (int f = 0; f < 3; ++f) {
      if (!enabled[f] || paths[f].empty()) continue;
      const StreamRequest request{device_, f, paths[f], blocks[f], startMs_, &written};
      const StreamResult result =
          StreamImageFile(ctx_, op_, request, command_.data(), ctx_.observer != nullptr);
      // Announced is as good as erased: a later file must not reach these blocks either.
      if (result.announced) written.Claim(blocks[f], result.fileSize);
      if (result.outcome != StreamOutcome::kNotOpened && ctx_.observer != nullptr) {
        const double seconds = static_cast<uint32_t>(ctx_.clock.NowMs() - startMs_) / 1000.0;
        // A file cut short by a stop went out as done, but the flash does not hold the image.
        ctx_.observer->OnFileEnded(device_, f, paths[f], result.fileSize, result.sentBytes, seconds,
                                   result.crc32,
                                   result.outcome == StreamOutcome::kDone && !result.stopMarked);
      }
      if (result.outcome == StreamOutcome::kDone) continue;
      // Every other end leaves the board short of its image, so the job counts as failed.
      Fail(result.failureText);
      if (result.outcome == StreamOutcome::kNotOpened) continue;
      if (result.outcome == StreamOutcome::kFailed) resetJtag = false;
      break;
    }
    if (resetJtag) (void)probe_.JtagReset(device_);  // its result is not consulted
  }

  void End() {
    ctx_.link.Close(device_);
    if (failed_) ctx_.failedDeviceCount.fetch_add(1);
    op_.Append("\r\n");
    if (ctx_.observer != nullptr)
      ctx_.observer->OnJobEnded(device_, failed_, failed_ ? failureText_ : std::string());
  }

  JobContext& ctx_;
  RunSettings& settings_;
  RunView& op_;
  ProbeCommands probe_;
  const int product_;
  int device_ = -1;
  uint32_t startMs_ = 0;
  bool failed_ = false;
  std::string failureText_;
  FlashGeometry geometry_;  // known once the flash is identified
  std::array<uint8_t, 64> command_{};
  BoundaryPinMap pinMap_{};
  BoundaryImage boundaryImage_{};
  FlashInfo flashInfo_{};
  FlashCfi flashCfi_{};
};

}  // namespace

void DownloadJob(JobContext& ctx) {
  Download download(ctx);
  download.Run(-1);
}

void DownloadJobOn(JobContext& ctx, int device) {
  Download download(ctx);
  download.Run(device < 0 ? kMaxProbes : device);
}

}  // namespace zolt
