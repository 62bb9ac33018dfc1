// libdrovik32.so: loading the library creates the transport mutex and the
// worker; unloading closes the connection and releases both.
#include "aspi_library.h"

namespace {

__attribute__((constructor)) void onLoad()
{
    lumarc::scsinet::loadTransport();
}

__attribute__((destructor)) void onUnload()
{
    lumarc::scsinet::unloadTransport();
}

} // namespace
