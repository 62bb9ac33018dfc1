// The unit's side of a button press: it connects to a PC's trigger port
// from its own address, takes the PC's greeting, sends event messages and
// waits for each acknowledgement. The PC then asks the unit's management
// port for the scan information, which the management server answers.
#pragma once

#include "platform/net_socket.h"

#include <chrono>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumarc::unitsim {

// Event codes a unit sends: 1 is a button press; 4, 5 and 6 are other events.
constexpr uint32_t kEventButton = 1;
// Event flags: 0x100 the Scan button, 0x400 a Send-to button with its number
// in the low 4 bits.
constexpr uint32_t kFlagScan = 0x100;
constexpr uint32_t kFlagSendTo = 0x400;

struct EventMessage {
    uint32_t code = kEventButton;
    uint32_t flags = kFlagScan;
    std::string user;
    uint32_t magic = 0xFFFF565A;            // a wrong one must be ignored by the PC
    std::optional<size_t> truncateTo;       // send only this many bytes
};

class EventConnection {
public:
    // Connects from unitAddress to the PC's trigger port and reads the
    // greeting (code 0: accepted, 0xFFFFFFFF: the PC is busy with another
    // unit).
    static Result<EventConnection> open(uint32_t unitAddress, const platform::Endpoint& pc,
                                        std::chrono::milliseconds timeout);

    uint32_t greetingCode() const { return m_greeting; }

    // Sends one event message; true when the PC acknowledged it within the
    // time-out, false when no acknowledgement came.
    Result<bool> send(const EventMessage& message, std::chrono::milliseconds timeout);

    // Sends event messages back to back without waiting, as a unit with a
    // stuck button (or a hostile one) might; acknowledgements are then
    // counted with acknowledgements().
    Status sendBurst(std::span<const EventMessage> messages);
    // Reads acknowledgements until count arrived, the PC closed, or nothing
    // came within timeout; returns how many arrived (each with code 0).
    size_t acknowledgements(size_t count, std::chrono::milliseconds timeout);

    // Whether the PC has closed the connection (waits at most timeout).
    bool closedByPeer(std::chrono::milliseconds timeout);

    void close() { m_fd.reset(); }

private:
    EventConnection(platform::UniqueFd fd, uint32_t greeting)
        : m_fd(std::move(fd)), m_greeting(greeting)
    {
    }

    platform::UniqueFd m_fd;
    uint32_t m_greeting = 0;
};

// The 80-byte event message: length 80, magic, code, flags, user name (32).
std::vector<uint8_t> encodeEventMessage(const EventMessage& message);

} // namespace lumarc::unitsim
