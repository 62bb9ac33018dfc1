// The simulated unit's rules, without sockets.
#include "shared/message_header.h"
#include "unitsim/unit_state.h"

#include <gtest/gtest.h>

#include <cstring>

namespace lumarc::unitsim {
namespace {

std::vector<uint8_t> request(uint32_t code, size_t length)
{
    std::vector<uint8_t> bytes(length, 0);
    shared::writeHeader(bytes, {static_cast<uint32_t>(length), shared::kPcMagic, code, 0});
    return bytes;
}

void put(std::vector<uint8_t>& bytes, size_t offset, const std::string& text)
{
    std::memcpy(bytes.data() + offset, text.data(), text.size());
}

std::vector<uint8_t> admin(uint32_t code, size_t length, const std::string& pin = "0000")
{
    auto bytes = request(code, length);
    put(bytes, 16, "root");
    put(bytes, 48, pin);
    return bytes;
}

uint32_t statusOf(const std::vector<uint8_t>& reply)
{
    const auto header = shared::decodeHeader(reply);
    EXPECT_TRUE(header);
    EXPECT_EQ(header->length, reply.size()) << "the length word counts the reply";
    return header ? header->code : 0xDEAD;
}

TEST(UnitState, EveryTruncatedRequestIsRefusedWithoutHarm)
{
    UnitState unit{UnitConfig{}};
    for (uint32_t code : {0x02u, 0x06u, 0x100u, 0x103u, 0x104u, 0x110u, 0x111u, 0x120u, 0x130u,
                          0x141u, 0x150u, 0x200u, 0x201u, 0x10003u, 0x1000Au}) {
        for (size_t length : {0u, 3u, 16u, 19u}) {
            auto bytes = request(code, std::max<size_t>(length, 16));
            bytes.resize(length);
            const auto reply = unit.handle(bytes);
            EXPECT_NE(statusOf(reply), 0u) << std::hex << code << " length " << std::dec << length;
        }
    }
    EXPECT_EQ(statusOf(unit.handle(request(0x7777, 16))), status::kUnknownCommand);
}

TEST(UnitState, MaintenanceModeIsHeldOnceAndExpires)
{
    UnitConfig config;
    config.maintenanceTimeout = std::chrono::seconds(0);
    UnitState expiring{config};
    EXPECT_EQ(statusOf(expiring.handle(admin(0x150, 80))), 0u);
    EXPECT_EQ(statusOf(expiring.handle(admin(0x151, 80))), status::kTimedOut)
        << "a session that timed out cannot be left";

    UnitState unit{UnitConfig{}};
    EXPECT_EQ(statusOf(unit.handle(admin(0x150, 80, "bad"))), status::kWrongPin);
    EXPECT_EQ(statusOf(unit.handle(admin(0x150, 80))), 0u);
    EXPECT_EQ(statusOf(unit.handle(admin(0x150, 80))), status::kInMaintenance);
    unit.setBusy(true);
    EXPECT_EQ(statusOf(unit.handle(admin(0x151, 80))), 0u) << "leaving is always allowed";
    EXPECT_EQ(statusOf(unit.handle(admin(0x150, 80))), status::kBusy);
}

TEST(UnitState, FlashWritesNeedAValidChecksumAndStayInRange)
{
    UnitState unit{UnitConfig{}};
    auto write = admin(0x200, 96);
    shared::writeLe32(write, 84, 16);   // target
    shared::writeLe32(write, 88, 4);    // length
    shared::writeLe32(write, 92, 0x01020304);
    shared::writeLe32(write, 80, 0);    // wrong checksum
    EXPECT_EQ(statusOf(unit.handle(write)), status::kChecksum);
    uint32_t sum = 0;
    for (size_t o = 84; o < 96; o += 4)
        sum += shared::readLe32(write, o);
    shared::writeLe32(write, 80, 0u - sum);
    EXPECT_EQ(statusOf(unit.handle(write)), 0u);
    EXPECT_EQ(unit.flash(16, 4), (std::vector<uint8_t>{4, 3, 2, 1}));

    shared::writeLe32(write, 84, static_cast<uint32_t>(kFlashSize - 2));
    sum = 0;
    shared::writeLe32(write, 80, 0);
    for (size_t o = 84; o < 96; o += 4)
        sum += shared::readLe32(write, o);
    shared::writeLe32(write, 80, 0u - sum);
    EXPECT_EQ(statusOf(unit.handle(write)), status::kFlashRange);
}

TEST(UnitState, UserDatabaseRoundTripsOnlyWithItsKey)
{
    UnitState unit{UnitConfig{}};
    ASSERT_TRUE(unit.preloadUser({"zoe", "42", "pc-z"}));
    auto get = admin(0x110, 96);
    put(get, 80, "key-one         ");
    const auto image = unit.handle(get);
    ASSERT_EQ(statusOf(image), 0u);
    ASSERT_EQ(image.size(), 16 + kUserDatabaseReply);
    EXPECT_EQ(std::string(image.begin() + 16 + 32, image.begin() + 16 + 35).find("zoe"),
              std::string::npos)
        << "the image is scrambled";

    auto putBack = admin(0x111, 16 + 80 + kUserDatabaseSize);
    std::copy(image.begin() + 16, image.begin() + 16 + kUserDatabaseSize, putBack.begin() + 96);
    put(putBack, 80, "key-two         ");
    EXPECT_EQ(statusOf(unit.handle(putBack)), status::kWrongKey);
    put(putBack, 80, "key-one         ");
    ASSERT_TRUE(unit.preloadUser({"yann", "1", "pc-y"}));
    EXPECT_EQ(statusOf(unit.handle(putBack)), 0u);
    const auto users = unit.users();
    EXPECT_EQ(users[0].name, "zoe");
    EXPECT_EQ(users[0].pin, "42");
    EXPECT_TRUE(users[1].name.empty());
}

} // namespace
} // namespace lumarc::unitsim
