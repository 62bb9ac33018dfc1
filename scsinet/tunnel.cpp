// Tunnel requests and replies over the connection.
#include "tunnel.h"

#include "transport_log.h"

#include "platform/error_codes.h"
#include "platform/poller.h"
#include "shared/message_header.h"

#include <algorithm>
#include <cstring>

namespace lumarc::scsinet {
namespace {

constexpr uint8_t kFollowUpAnnounce = 0xF1;
constexpr size_t kSenseOffset = 16;
constexpr size_t kSenseSize = 24;
constexpr std::chrono::seconds kConnectTimeout{10};
// Replies that are not a request's own, dropped before the request fails:
// a unit that sends more than a few has lost its way.
constexpr int kMaxStrayReplies = 8;
// Replies given up on that are remembered by their length.
constexpr size_t kMaxOwedReplies = 4;

// Whether a reply's length word can be believed.
bool plausibleLength(uint32_t length)
{
    return length >= kTunnelHeader && length <= kTunnelHeader + DROVIK_MAX_DATA;
}

} // namespace

TunnelRequest encodeTunnelRequest(const SRB_ExecSCSICmd& block)
{
    TunnelRequest request;
    const bool announceOnly = block.CDBByte[0] == kFollowUpAnnounce;
    const bool dataIn = (block.SRB_Flags & SRB_DIR_IN) != 0;
    const uint32_t inLength = announceOnly || !dataIn ? 0 : block.SRB_BufLen;
    const uint32_t outLength = announceOnly || dataIn ? 0 : block.SRB_BufLen;
    auto& h = request.header;
    shared::writeLe32(h, 0, static_cast<uint32_t>(kTunnelHeader + outLength));
    shared::writeLe32(h, 4, shared::kPcMagic);
    shared::writeLe32(h, 8, kTunnelCode);
    shared::writeLe32(h, 12, block.SRB_CDBLen);
    shared::writeLe32(h, 16, inLength);
    shared::writeLe32(h, 20, outLength);
    std::memcpy(&h[24], block.CDBByte, std::min<size_t>(block.SRB_CDBLen, 16));
    if (outLength != 0)
        request.dataOut = std::span<const uint8_t>(block.SRB_BufPointer, outLength);
    // The reply carries the buffer's length for any data-in block, an
    // announcing request included.
    request.dataIn = dataIn ? block.SRB_BufLen : 0;
    return request;
}

uint8_t applyTunnelReply(SRB_ExecSCSICmd& block, std::span<const uint8_t, kTunnelHeader> reply)
{
    const size_t sense = std::min<size_t>(block.SRB_SenseLen, kSenseSize);
    std::memcpy(block.SenseArea, &reply[kSenseOffset], sense);
    block.SRB_TargStat = reply[12];
    return reply[12];
}

int32_t TunnelConnection::open(uint32_t address, std::chrono::seconds receiveTimeout)
{
    logLine("ネットワークの接続　開始\n");
    auto socket = platform::tcpSocket();
    if (!socket) {
        logLine("ソケット作成失敗\n");
        return static_cast<int32_t>(socket.error().code);
    }
    if (auto connected = platform::connectSocket(socket->get(), {address, kTunnelPort},
                                                 kConnectTimeout);
        !connected) {
        logLine("%s : %s\n", "ソケット接続失敗",
                platform::systemMessage(connected.error().code).c_str());
        return static_cast<int32_t>(connected.error().code);
    }
    {
        std::scoped_lock lock(m_mutex);
        m_socket = std::move(*socket);
        m_ended = false;
    }
    uint8_t greeting[shared::kHeaderSize] = {};
    const std::span<uint8_t> greetingPart[] = {greeting};
    int32_t result = receive(greetingPart, receiveTimeout);
    if (result == 0 && shared::decodeHeader(greeting)->code != 0)
        result = kTunnelFailed;
    if (result != 0) {
        logLine("接続失敗 : %d\n", result);
        return result;
    }
    logLine("ネットワークの接続　終了\n");
    return 0;
}

int TunnelConnection::socketFd()
{
    std::scoped_lock lock(m_mutex);
    return m_socket.get();
}

int32_t TunnelConnection::receive(std::span<const std::span<uint8_t>> parts,
                                  std::chrono::seconds timeout, size_t* taken)
{
    const int fd = socketFd();
    if (fd < 0)
        return static_cast<int32_t>(platform::wsa::kNotSocket);
    // The time-out is a property of the socket: set it only when it changes.
    if (timeout != m_appliedTimeout) {
        if (auto bounded = platform::setReceiveTimeout(fd, timeout); !bounded) {
            logLine("受信イベント作成失敗\n");
            return static_cast<int32_t>(bounded.error().code);
        }
        m_appliedTimeout = timeout;
    }
    size_t wanted = 0;
    for (const auto& part : parts)
        wanted += part.size();
    // Bytes put back come first; the socket fills what they leave.
    size_t fromBack = 0;
    std::array<std::span<uint8_t>, 2> rest{};
    size_t restCount = 0;
    for (const auto& part : parts) {
        const size_t n = std::min(part.size(), m_putBack.size() - fromBack);
        if (n != 0)
            std::memcpy(part.data(), m_putBack.data() + fromBack, n);
        fromBack += n;
        if (n < part.size() && restCount < rest.size())
            rest[restCount++] = part.subspan(n);
    }
    m_putBack.erase(m_putBack.begin(), m_putBack.begin() + static_cast<ptrdiff_t>(fromBack));
    size_t fromSocket = 0;
    auto got = platform::receiveAllParts(fd, std::span(rest).first(restCount), &fromSocket);
    if (got)
        fromSocket = *got;
    if (taken != nullptr)
        *taken = fromBack + fromSocket;
    if (m_aborted) {
        logLine("データ受信終了イベント発生\n");
        return kTunnelFailed;
    }
    if (!got && got.error().code == platform::wsa::kTimedOut) {
        logLine("データ受信タイムアウトイベント発生\n");
        return kTunnelFailed;
    }
    if (!got) {
        logLine("受信失敗 : %u\n", got.error().code);
        return static_cast<int32_t>(got.error().code);
    }
    if (fromBack + fromSocket < wanted) {
        // The unit closed the connection: a reply cut short is no reply.
        logLine("ソケット切断イベント\n");
        logLine("ソケット切断\n");
        return kTunnelFailed;
    }
    return 0;
}

size_t TunnelConnection::takeWaiting(int fd, std::span<uint8_t> into)
{
    if (!m_putBack.empty()) {
        const size_t n = std::min(into.size(), m_putBack.size());
        std::memcpy(into.data(), m_putBack.data(), n);
        m_putBack.erase(m_putBack.begin(), m_putBack.begin() + static_cast<ptrdiff_t>(n));
        return n;
    }
    const auto got = platform::tryReceive(fd, into);
    if (!got || (*got && **got == 0)) {
        m_ended = true; // the next send or receive tells the request
        return 0;
    }
    return *got ? **got : 0;
}

bool TunnelConnection::dropStray(int fd, std::optional<std::chrono::seconds> wait,
                                 int32_t* result, size_t* dropped)
{
    // One source of bytes for both modes: what has arrived, or a bounded wait.
    bool failed = false;
    const auto take = [&](std::span<uint8_t> into) -> size_t {
        size_t taken = 0;
        if (!wait) {
            taken = takeWaiting(fd, into);
        } else {
            const std::span<uint8_t> part[] = {into};
            const int32_t r = receive(part, *wait, &taken);
            failed = r != 0;
            if (failed && result != nullptr)
                *result = r;
        }
        if (dropped != nullptr)
            *dropped += taken;
        return taken;
    };
    std::array<uint8_t, 4096> sink;
    while (m_stray == Stray::Word) {
        m_strayWordBytes += take(std::span(m_strayWord).subspan(m_strayWordBytes));
        if (m_strayWordBytes < m_strayWord.size()) {
            if (failed || !wait)
                return false;
            continue;
        }
        const uint32_t length = shared::readLe32(m_strayWord, 0);
        if (plausibleLength(length)) {
            m_stray = Stray::Body;
            m_strayLeft = length - m_strayWord.size();
        } else {
            // No boundary to trust: drop whatever has arrived.
            while (const size_t n = takeWaiting(fd, sink))
                if (dropped != nullptr)
                    *dropped += n;
            m_stray = Stray::None;
        }
    }
    while (m_stray == Stray::Body && m_strayLeft > 0) {
        const size_t n = take(std::span(sink).first(std::min(sink.size(), m_strayLeft)));
        m_strayLeft -= n;
        if (m_strayLeft > 0 && (failed || n == 0))
            return false;
    }
    m_stray = Stray::None;
    return true;
}

void TunnelConnection::dropStrayReplies(int fd)
{
    size_t dropped = 0;
    for (;;) {
        if (m_stray == Stray::None) {
            // One system call that finds nothing, in the usual case.
            uint8_t first = 0;
            if (takeWaiting(fd, std::span(&first, 1)) == 0)
                break;
            ++dropped;
            m_stray = Stray::Word;
            m_strayWord[0] = first;
            m_strayWordBytes = 1;
        }
        if (!dropStray(fd, std::nullopt, nullptr, &dropped))
            break; // the rest is dropped once the request is sent
    }
    if (dropped != 0)
        logLine("遅れて届いた応答を破棄 : %zu\n", dropped);
}

int32_t TunnelConnection::exchange(SRB_ExecSCSICmd& block, uint8_t* scsiStatus,
                                   std::chrono::seconds receiveTimeout)
{
    TunnelExchange x;
    if (const int32_t r = startRequest(block, x, true); r != 0)
        return r;
    return finishRequest(block, x, scsiStatus, receiveTimeout);
}

int32_t TunnelConnection::startRequest(const SRB_ExecSCSICmd& block, TunnelExchange& x, bool wait)
{
    const int fd = socketFd();
    if (fd < 0)
        return static_cast<int32_t>(platform::wsa::kNotSocket);
    // Between requests nothing is due from the unit: bytes waiting now (a
    // duplicate reply, one that came after its request timed out, the rest
    // of one that broke off) belong to no request. Read as this request's
    // reply, they would hand the caller another command's data.
    dropStrayReplies(fd);
    x.request = encodeTunnelRequest(block);
    x.sent = 0;
    const std::span<const uint8_t> parts[] = {x.request.header, x.request.dataOut};
    if (wait) {
        if (auto sent = platform::sendAllParts(fd, parts); !sent) {
            logLine("データ送信失敗(%u)\n", sent.error().code);
            return static_cast<int32_t>(sent.error().code);
        }
        x.sent = x.request.size();
        return 0;
    }
    auto sent = platform::sendSomeParts(fd, parts);
    if (!sent) {
        logLine("データ送信失敗(%u)\n", sent.error().code);
        return static_cast<int32_t>(sent.error().code);
    }
    x.sent = *sent;
    return 0;
}

int32_t TunnelConnection::replyTimedOut(const TunnelExchange& x)
{
    // As a receive that waited in vain: for the rest of a message that
    // belongs to no request, or for the reply itself.
    logLine("データ受信タイムアウトイベント発生\n");
    if (m_stray != Stray::None) {
        m_stray = Stray::None;
        return kTunnelFailed;
    }
    noteBrokenReply(kTunnelHeader + x.request.dataIn, {}, {}, 0);
    return kTunnelFailed;
}

int TunnelConnection::arrivalFd()
{
    std::scoped_lock lock(m_mutex);
    return m_ended ? -1 : m_socket.get();
}

bool TunnelConnection::dropArrived()
{
    const int fd = socketFd();
    if (fd < 0)
        return false;
    dropStrayReplies(fd);
    return !m_ended;
}

int32_t TunnelConnection::finishRequest(SRB_ExecSCSICmd& block, TunnelExchange& x,
                                        uint8_t* scsiStatus, std::chrono::seconds receiveTimeout)
{
    const int fd = socketFd();
    if (fd < 0)
        return static_cast<int32_t>(platform::wsa::kNotSocket);
    const TunnelRequest& request = x.request;
    if (x.sent < request.size()) {
        // What the socket did not take at once.
        const size_t inHeader = std::min(x.sent, request.header.size());
        const std::span<const uint8_t> rest[] = {
            std::span<const uint8_t>(request.header).subspan(inHeader),
            request.dataOut.subspan(x.sent - inHeader)};
        if (auto sent = platform::sendAllParts(fd, rest); !sent) {
            logLine("データ送信失敗(%u)\n", sent.error().code);
            return static_cast<int32_t>(sent.error().code);
        }
        x.sent = request.size();
    }
    int32_t result = kTunnelFailed;
    // The rest of such a message that was still on its way comes first.
    if (m_stray != Stray::None && !dropStray(fd, receiveTimeout, &result, nullptr)) {
        m_stray = Stray::None;
        return result;
    }
    // The reply header and the data-in arrive in one read where possible;
    // the data go straight to the caller's buffer.
    std::array<uint8_t, kTunnelHeader> reply{};
    const std::span<uint8_t> data(block.SRB_BufPointer, request.dataIn);
    const size_t expected = kTunnelHeader + request.dataIn;
    for (int stray = 0;; ++stray) {
        const std::span<uint8_t> replyParts[] = {reply, data};
        size_t taken = 0;
        if (const int32_t r = receive(replyParts, receiveTimeout, &taken); r != 0) {
            noteBrokenReply(expected, reply, data, taken);
            return r;
        }
        const uint32_t length = shared::readLe32(reply, 0);
        if (!plausibleLength(length) || length == expected)
            break;
        const auto owed = std::find(m_owed.begin(), m_owed.end(), length);
        if (owed == m_owed.end() && length > expected) {
            // More than was asked for: the surplus is dropped here, never
            // read as the next request's reply.
            logLine("応答の余剰を破棄 : %zu\n", length - expected);
            m_stray = Stray::Body;
            m_strayLeft = length - expected;
            if (!dropStray(fd, receiveTimeout, &result, nullptr)) {
                m_stray = Stray::None;
                return result;
            }
            break;
        }
        // Not this request's: the late reply of a request given up (its
        // length tells), or shorter than this request's reply can be.
        logLine("要求に合わない応答を破棄 : %u/%zu\n", length, expected);
        if (owed != m_owed.end())
            m_owed.erase(owed);
        if (length < expected) {
            // What was read behind it is the start of what comes next.
            const auto behind = data.subspan(length - kTunnelHeader);
            m_putBack.insert(m_putBack.begin(), behind.begin(), behind.end());
        } else {
            m_stray = Stray::Body;
            m_strayLeft = length - expected;
            if (!dropStray(fd, receiveTimeout, &result, nullptr)) {
                m_stray = Stray::None;
                return result;
            }
        }
        if (stray + 1 >= kMaxStrayReplies)
            return kTunnelFailed;
    }
    *scsiStatus = applyTunnelReply(block, reply);
    return 0;
}

void TunnelConnection::noteBrokenReply(size_t expected, std::span<const uint8_t> header,
                                       std::span<const uint8_t> data, size_t taken)
{
    // The reply may still come, whole or in part, after the request gave
    // up; what is known of it keeps the stream framed.
    if (taken == 0) {
        if (m_owed.size() == kMaxOwedReplies)
            m_owed.pop_front();
        m_owed.push_back(expected);
        return;
    }
    if (taken < m_strayWord.size()) {
        m_stray = Stray::Word;
        std::memcpy(m_strayWord.data(), header.data(), taken);
        m_strayWordBytes = taken;
        return;
    }
    const uint32_t length = shared::readLe32(header, 0);
    if (!plausibleLength(length))
        return; // nothing to frame by: what arrives before the next request is dropped
    if (length > taken) {
        m_stray = Stray::Body;
        m_strayLeft = length - taken;
    } else if (taken > length) {
        // A short reply and the start of the next message arrived before
        // the wait ran out: the latter comes first next time.
        const auto behind = data.subspan(length - kTunnelHeader, taken - length);
        m_putBack.insert(m_putBack.begin(), behind.begin(), behind.end());
    }
}

void TunnelConnection::abort()
{
    std::scoped_lock lock(m_mutex);
    m_aborted = true;
    if (m_socket)
        platform::shutdownBoth(m_socket.get());
}

void TunnelConnection::close()
{
    std::scoped_lock lock(m_mutex);
    if (!m_socket)
        return;
    platform::shutdownBoth(m_socket.get());
    m_socket.reset();
    logLine("ネットワークの切断\n");
}

} // namespace lumarc::scsinet
