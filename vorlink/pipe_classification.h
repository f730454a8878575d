// SPDX-License-Identifier: MIT
// Reads an opened interface's pipes into a DeviceRecord.
#pragma once

#include "device_record.h"
#include "primary_transport.h"

namespace vorlink {

// Queries pipes 0..endpointCount-1 of alternate setting 0 in order: a bulk pipe with bit 7 set
// becomes the bulk-in pipe, a bulk pipe with bit 7 clear the bulk-out pipe, an interrupt pipe
// the interrupt pipe; a later pipe of one kind replaces an earlier one. The first control or
// isochronous pipe ends the scan, and so does a pipe the transport cannot report. Fields not
// found keep their values. Blocks only as long as the transport's queries do.
void ClassifyPipes(PrimaryTransport& transport, TransportHandle interfaceHandle, uint8_t endpointCount,
                   DeviceRecord& record);

}  // namespace vorlink
