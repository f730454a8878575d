// SPDX-License-Identifier: MIT
// Filling RunSettings, the one place that turns a product row and a run request into what the
// jobs read. Run control calls both when RUN is pressed (a pin-toggle run only the first: it
// leaves the flash fields as the last download left them); tests and fuzz targets call them to
// set a context up exactly as run control would. Plain functions on the caller's thread; they
// write only the plain fields, before any job starts.
#pragma once

#include "core/run_request.h"
#include "jobs/job_context.h"
#include "probe/products.h"

namespace zolt {

// The product's row: expected JTAG ID, ID-read parameter, bootloader warning, JTAG type.
void FillProductSettings(RunSettings& settings, const ProductSettings& product);

// The flash fields of a download run: flash type code, NOR type (0 for NAND and for TARVIS, which
// detects its part), width and interleave (0 for NAND), bus width and NOR offset. False, and
// nothing changed, when the request names no flash type.
bool FillDownloadSettings(RunSettings& settings, const RunRequest& request);

}  // namespace zolt
