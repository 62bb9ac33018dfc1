// The message header's byte layout.
#include "shared/message_header.h"

#include <gtest/gtest.h>

#include <vector>

namespace lumarc::shared {
namespace {

TEST(MessageHeader, IsLittleEndianWithTheTwoMagics)
{
    const auto bytes = encodeHeader({132, kPcMagic, 0x141, 0});
    const std::array<uint8_t, 16> expected{0x84, 0, 0, 0, 0x5A, 0x56, 0, 0,
                                           0x41, 0x01, 0, 0, 0,    0,    0, 0};
    EXPECT_EQ(bytes, expected);
    const auto unit = encodeHeader(bareHeader(kGreetingBusy, kUnitMagic));
    EXPECT_EQ(std::vector<uint8_t>(unit.begin() + 4, unit.begin() + 12),
              (std::vector<uint8_t>{0x5A, 0x56, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF, 0xFF}));
}

TEST(MessageHeader, DecodesOnlyWhenAllSixteenBytesArrived)
{
    const auto full = encodeHeader({20, kUnitMagic, 1, 0x403});
    for (size_t n = 0; n < full.size(); ++n)
        EXPECT_FALSE(decodeHeader(std::span(full).first(n))) << "length " << n;
    EXPECT_EQ(decodeHeader(full), (MessageHeader{20, kUnitMagic, 1, 0x403}));
    std::vector<uint8_t> longer(full.begin(), full.end());
    longer.resize(40, 0xEE);
    EXPECT_EQ(decodeHeader(longer)->reserved, 0x403u);
}

} // namespace
} // namespace lumarc::shared
