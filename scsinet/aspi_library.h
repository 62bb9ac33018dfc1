// The transport's process-wide state: start, dispatch of request blocks, the
// worker that runs them one at a time, and completion.
//
//   loaded --first support-info call--> started (connection opened, or a
//   failed start remembered) --unload--> gone
//
// Execute requests go to one persistent worker thread: a caller waits until
// the previous request has completed, then hands its block over and returns
// SS_PENDING. A completion routine that submits the next request runs on the
// worker itself; its request is queued, never waited for.
#pragma once

#include "aspi.h"

#include <cstdint>

namespace lumarc::scsinet {

uint32_t supportInfo(const char* unitOrNull);
uint32_t sendCommand(SRB_ExecSCSICmd* block);

// Library load and unload (the constructor and destructor of the shared
// library, and the tests' fixtures).
void loadTransport();
void unloadTransport();

} // namespace lumarc::scsinet
