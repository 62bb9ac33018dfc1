// The module state of the server library, one per process: the lock count
// and the class factory.
//
// The lock count is the number of live objects plus outstanding
// LockServer(TRUE) calls, plus one while anyone besides the module holds the
// class factory. DllCanUnloadNow answers S_OK only at 0.
#pragma once

#include "platform/com.h"

namespace lumarc::stidev {

void lockModule();
void unlockModule();
long moduleLockCount();

// The class factory, made at the first request and kept by the module
// until the library unloads; null when it cannot be made. No reference is
// added for the caller.
platform::IClassFactory* classFactory();

// An address inside this library, to find the library's own file.
const void* moduleAnchor();

} // namespace lumarc::stidev
