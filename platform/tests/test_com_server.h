// The class and interface of the test COM server (test_com_server.cpp),
// shared by the server and its tests so both see one interface type.
#pragma once

#include "platform/com.h"

namespace lumarc::testing {

constexpr platform::Guid kNumberClassId =
    platform::makeGuid(0x1F0C7A10, 0x0001, 0x4C4D, {0x80, 1, 2, 3, 4, 5, 6, 7});
constexpr platform::Guid kNumberInterfaceId =
    platform::makeGuid(0x1F0C7A10, 0x0002, 0x4C4D, {0x80, 1, 2, 3, 4, 5, 6, 7});

class INumber : public platform::IUnknown {
public:
    virtual int32_t Number() = 0;

protected:
    ~INumber() = default;
};

} // namespace lumarc::testing
