// Unit address resolution with inet_aton and getaddrinfo.
#include "unit_address.h"

#include "error_codes.h"

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>

namespace lumarc::platform {
namespace {

uint32_t resolverCode(int rc)
{
    switch (rc) {
    case EAI_AGAIN:
        return wsa::kTryAgain;
    case EAI_FAIL:
        return wsa::kNoRecovery;
    case EAI_NODATA:
    case EAI_ADDRFAMILY:
        return wsa::kNoData;
    default:
        return wsa::kHostNotFound;
    }
}

} // namespace

Result<uint32_t> resolveUnitAddress(std::string_view unit)
{
    const std::string text(unit);
    if (text.empty() || text.find('\0') != std::string::npos)
        return Error{wsa::kInvalid, "resolve: empty unit address"};
    in_addr address{};
    if (::inet_aton(text.c_str(), &address) != 0)
        return address.s_addr;

    addrinfo hints{};
    hints.ai_family = AF_INET;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* found = nullptr;
    const int rc = ::getaddrinfo(text.c_str(), nullptr, &hints, &found);
    if (rc != 0 || found == nullptr) {
        if (found != nullptr)
            ::freeaddrinfo(found);
        return Error{resolverCode(rc),
                     "resolve " + text + ": " + (rc != 0 ? gai_strerror(rc) : "no address")};
    }
    const uint32_t result = reinterpret_cast<const sockaddr_in*>(found->ai_addr)->sin_addr.s_addr;
    ::freeaddrinfo(found);
    return result;
}

std::string addressText(uint32_t networkOrder)
{
    in_addr address{};
    address.s_addr = networkOrder;
    char text[INET_ADDRSTRLEN] = {};
    ::inet_ntop(AF_INET, &address, text, sizeof text);
    return text;
}

} // namespace lumarc::platform
