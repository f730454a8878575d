// SPDX-License-Identifier: MIT
#include "pipe_classification.h"

namespace vorlink {

void ClassifyPipes(PrimaryTransport& transport, TransportHandle interfaceHandle, uint8_t endpointCount,
                   DeviceRecord& record) {
  for (uint8_t index = 0; index < endpointCount; ++index) {
    PipeInformation pipe{};
    if (!transport.QueryPipe(interfaceHandle, 0, index, &pipe)) return;
    switch (pipe.pipeType) {
      case PipeType::kBulk:
        if (pipe.pipeId & 0x80) {
          record.bulkInPipe = pipe.pipeId;
        } else {
          record.bulkOutPipe = pipe.pipeId;
        }
        break;
      case PipeType::kInterrupt:
        record.interruptPipe = pipe.pipeId;
        break;
      case PipeType::kControl:
      case PipeType::kIsochronous:
        return;
    }
  }
}

}  // namespace vorlink
