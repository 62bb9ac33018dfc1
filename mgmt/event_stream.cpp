// Framing of event messages on a trigger-port connection.
#include "event_stream.h"

#include "shared/message_header.h"

#include <algorithm>
#include <cstring>

namespace lumarc::mgmt {
namespace {

constexpr uint32_t kEventMessageMin = 16;
constexpr uint32_t kSurplusMax = 64 * 1024;

} // namespace

void EventStream::append(std::span<const uint8_t> bytes)
{
    const size_t dropped = std::min<size_t>(m_surplus, bytes.size());
    m_surplus -= static_cast<uint32_t>(dropped);
    bytes = bytes.subspan(dropped);
    bytes = bytes.first(std::min(bytes.size(), room()));
    m_pending.insert(m_pending.end(), bytes.begin(), bytes.end());
}

std::optional<EventBytes> EventStream::next(bool takePartial)
{
    if (m_pending.empty())
        return std::nullopt;
    size_t take = std::min(m_pending.size(), kEventMessageMax);
    uint32_t surplus = 0;
    if (m_pending.size() >= 4) {
        const uint32_t length = shared::readLe32(m_pending, 0);
        if (length >= kEventMessageMin && length <= kEventMessageMax + kSurplusMax) {
            const size_t framed = std::min<size_t>(length, kEventMessageMax);
            if (m_pending.size() < framed && !takePartial)
                return std::nullopt;
            take = std::min(m_pending.size(), framed);
            if (take == kEventMessageMax)
                surplus = length - static_cast<uint32_t>(kEventMessageMax);
        }
    } else if (!takePartial) {
        return std::nullopt; // not even the length word yet
    }
    EventBytes message;
    message.size = take;
    std::memcpy(message.bytes.data(), m_pending.data(), take);
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<ptrdiff_t>(take));
    // The surplus may already be here, behind the message.
    const size_t here = std::min<size_t>(surplus, m_pending.size());
    m_pending.erase(m_pending.begin(), m_pending.begin() + static_cast<ptrdiff_t>(here));
    m_surplus = surplus - static_cast<uint32_t>(here);
    return message;
}

void EventStream::clear()
{
    m_pending.clear();
    m_surplus = 0;
}

} // namespace lumarc::mgmt
