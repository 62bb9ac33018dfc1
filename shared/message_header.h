// The 16-byte header of every message between a PC and a unit: management
// requests and replies, greetings, event messages and their
// acknowledgements, and (its first three words) the SCSI tunnel.
//
//   offset 0  length    bytes of the whole message, header included
//   offset 4  magic     kPcMagic from the PC, kUnitMagic from a unit
//   offset 8  code      command, status or refusal code
//   offset 12 reserved
//
// All four words are little-endian on every host.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <span>

namespace lumarc::shared {

constexpr uint32_t kPcMagic = 0x0000565A;   // bytes 5A 56 00 00
constexpr uint32_t kUnitMagic = 0xFFFF565A; // bytes 5A 56 FF FF
constexpr size_t kHeaderSize = 16;

// A greeting's code: 0 takes the connection; the trigger port turns a second
// unit away with kGreetingBusy.
constexpr uint32_t kGreetingAccept = 0;
constexpr uint32_t kGreetingBusy = 0xFFFFFFFF;

struct MessageHeader {
    uint32_t length = kHeaderSize;
    uint32_t magic = kPcMagic;
    uint32_t code = 0;
    uint32_t reserved = 0;
    bool operator==(const MessageHeader&) const = default;
};

// Little-endian words at any offset of a byte buffer. The caller checks that
// offset + 4 lies within the buffer.
uint32_t readLe32(std::span<const uint8_t> bytes, size_t offset);
void writeLe32(std::span<uint8_t> bytes, size_t offset, uint32_t value);

// The header's 16 bytes.
std::array<uint8_t, kHeaderSize> encodeHeader(const MessageHeader& header);
// Writes the header into the first 16 bytes of out (at least 16 long).
void writeHeader(std::span<uint8_t> out, const MessageHeader& header);

// Decodes the first 16 bytes; nullopt when fewer arrived. The words are
// returned as they are: checking length, magic and code is the receiver's
// business.
std::optional<MessageHeader> decodeHeader(std::span<const uint8_t> bytes);

// A bare header: the greeting of the side that accepts a connection, and the
// PC's acknowledgement of an event message.
inline MessageHeader bareHeader(uint32_t code, uint32_t magic = kPcMagic)
{
    return MessageHeader{kHeaderSize, magic, code, 0};
}

} // namespace lumarc::shared
