// SPDX-License-Identifier: MIT
// Where the real transports say why a libusb call failed ("usb:1-4: cannot open:
// LIBUSB_ERROR_ACCESS ..."), so that an operator whose probes cannot be opened can find the cause
// in VORLINK_TRACE. The link library itself still shows nothing.
//
// Threads: called on the thread of the failing transport operation, possibly on several threads
// at once; the sink must be safe for that (Trace::Note is). Never called on success paths.
#pragma once

#include <functional>
#include <string>

namespace vorlink {

using DiagnosticSink = std::function<void(const std::string& text)>;

}  // namespace vorlink
