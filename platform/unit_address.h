// Unit addresses: dotted IPv4 text first, else a host name.
#pragma once

#include "result.h"

#include <cstdint>
#include <string>
#include <string_view>

namespace lumarc::platform {

// The IPv4 address of a unit, in network byte order (first octet in the first
// byte), as the sockets layer uses it. Text in the dotted forms the Windows
// address parser accepts ("192.0.2.7", also "127.1") is taken as it is;
// anything else is resolved as a host name and its first IPv4 address is
// used. Fails with the Windows Sockets code of the resolver (11001 host not
// found, 11002 try again, 11003 no recovery, 11004 no data) or 10022 for
// empty text or text holding a NUL.
Result<uint32_t> resolveUnitAddress(std::string_view unit);

// Dotted text of an address in network byte order.
std::string addressText(uint32_t networkOrder);

} // namespace lumarc::platform
