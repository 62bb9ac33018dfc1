// Splits the bytes of one trigger-port connection into event messages.
//
// TCP keeps no message boundaries: a unit that sends events back to back
// (a stuck button, a hostile peer) has them arrive joined and split at any
// byte. The stream keeps what arrived and hands out one message at a time,
// framed by its length word:
//   16..80            the message is that long
//   81..80 + 64 KiB   the PC takes the first 80 bytes and drops the rest as
//                     it arrives, so the next message is read from its start
//   anything else     not believed: what is there (at most 80 bytes) is
//                     taken as one message, as a single receive would
// A message that has arrived only in part waits for the rest; the caller
// decides how long, then takes it as far as it arrived (takePartial).
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>
#include <vector>

namespace lumarc::mgmt {

constexpr size_t kEventMessageMax = 80;

struct EventBytes {
    std::array<uint8_t, kEventMessageMax> bytes{};
    size_t size = 0;
    std::span<const uint8_t> view() const { return std::span(bytes).first(size); }
};

class EventStream {
public:
    // Bytes held at most; a full stream takes nothing until messages are
    // handed out, so a peer that floods the connection meets TCP's flow
    // control, not a growing buffer.
    static constexpr size_t kCapacity = 4096;

    size_t room() const { return kCapacity - m_pending.size(); }
    // Appends received bytes (at most room() are kept).
    void append(std::span<const uint8_t> bytes);
    // The next complete message, removed from the stream; with takePartial,
    // also a message that has begun but is incomplete.
    std::optional<EventBytes> next(bool takePartial = false);
    // Bytes that make no complete message yet.
    bool hasPartial() const { return !m_pending.empty(); }
    void clear();

private:
    std::vector<uint8_t> m_pending;
    uint32_t m_surplus = 0; // bytes of the last message still to drop
};

} // namespace lumarc::mgmt
