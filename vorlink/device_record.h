// SPDX-License-Identifier: MIT
// One device index's state under the primary transport.
#pragma once

#include <cstdint>

#include "transport_handle.h"

namespace vorlink {

inline constexpr int kDeviceRecordCount = 16;
inline constexpr int kDevicePathCapacity = 260;  // 259 characters and the terminator

struct DeviceRecord {
  // kNullHandle at load (never opened), kInvalidHandle once closed, else the live interface.
  TransportHandle interfaceHandle = kNullHandle;
  uint8_t deviceSpeed = 0;    // recorded only
  uint8_t bulkInPipe = 0;     // used by Read
  uint8_t bulkOutPipe = 0;    // used by Write
  uint8_t interruptPipe = 0;  // recorded only
  TransportHandle fileHandle = kInvalidHandle;
  char devicePath[kDevicePathCapacity] = {};
};

// Which transport carries the transfers.
enum class LinkMode { kPrimary, kLibusb0 };

}  // namespace vorlink
