// SPDX-License-Identifier: MIT
#include "jobs/run_settings.h"

#include "probe/records.h"

namespace zolt {

void FillProductSettings(RunSettings& settings, const ProductSettings& product) {
  settings.expectedJtagId = product.expectedJtagId;
  settings.jtagIdParam = product.jtagIdParam;
  settings.sourceLevelDebugProduct = product.sourceLevelDebugProduct;
  settings.jtagType = product.jtagType;
}

bool FillDownloadSettings(RunSettings& settings, const RunRequest& request) {
  if (request.flashType == FlashType::kNand) {
    settings.flashTypeCode = kFlashTypeNand;
    settings.norType = 0;
    settings.norWidth = 0;
    settings.norInterleave = 0;
  } else if (request.flashType == FlashType::kNor) {
    settings.flashTypeCode = kFlashTypeNor;
    settings.norType = request.productIndex == kTarvis ? 0 : request.norType;
    settings.norWidth = request.width;
    settings.norInterleave = request.interleave;
  } else {
    return false;
  }
  settings.busWidth = settings.norInterleave * settings.norWidth;
  settings.norOffset = request.Offset();
  return true;
}

}  // namespace zolt
