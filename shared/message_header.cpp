// Encoding of the message header.
#include "message_header.h"

namespace lumarc::shared {

uint32_t readLe32(std::span<const uint8_t> bytes, size_t offset)
{
    return static_cast<uint32_t>(bytes[offset]) | static_cast<uint32_t>(bytes[offset + 1]) << 8 |
           static_cast<uint32_t>(bytes[offset + 2]) << 16 |
           static_cast<uint32_t>(bytes[offset + 3]) << 24;
}

void writeLe32(std::span<uint8_t> bytes, size_t offset, uint32_t value)
{
    bytes[offset] = static_cast<uint8_t>(value);
    bytes[offset + 1] = static_cast<uint8_t>(value >> 8);
    bytes[offset + 2] = static_cast<uint8_t>(value >> 16);
    bytes[offset + 3] = static_cast<uint8_t>(value >> 24);
}

void writeHeader(std::span<uint8_t> out, const MessageHeader& header)
{
    writeLe32(out, 0, header.length);
    writeLe32(out, 4, header.magic);
    writeLe32(out, 8, header.code);
    writeLe32(out, 12, header.reserved);
}

std::array<uint8_t, kHeaderSize> encodeHeader(const MessageHeader& header)
{
    std::array<uint8_t, kHeaderSize> bytes{};
    writeHeader(bytes, header);
    return bytes;
}

std::optional<MessageHeader> decodeHeader(std::span<const uint8_t> bytes)
{
    if (bytes.size() < kHeaderSize)
        return std::nullopt;
    return MessageHeader{readLe32(bytes, 0), readLe32(bytes, 4), readLe32(bytes, 8),
                         readLe32(bytes, 12)};
}

} // namespace lumarc::shared
