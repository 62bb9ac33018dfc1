// The transport's process-wide state: start, dispatch of request blocks, the
// worker that runs them one at a time, and completion.
//
//   loaded --first support-info call--> started (connection opened, or a
//   failed start remembered) --unload--> gone
//
// Execute requests run one at a time and complete on one persistent worker
// thread: a caller waits until the previous request has completed, sends its
// request (as far as the socket takes it at once) and returns SS_PENDING;
// the worker, which watches the connection between requests, receives the
// reply and signals the completion. A request submitted while a completion
// is being signalled (a completion routine's, for one) is queued for the
// worker, never waited for.
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
