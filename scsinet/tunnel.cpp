// Tunnel requests and replies over the connection.
#include "tunnel.h"

#include "transport_log.h"

#include "platform/error_codes.h"
#include "shared/message_header.h"

#include <algorithm>
#include <cstring>

namespace lumarc::scsinet {
namespace {

constexpr uint8_t kFollowUpAnnounce = 0xF1;
constexpr size_t kSenseOffset = 16;
constexpr size_t kSenseSize = 24;
constexpr std::chrono::seconds kConnectTimeout{10};

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
                                  std::chrono::seconds timeout)
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
    auto got = platform::receiveAllParts(fd, parts);
    if (m_aborted) {
        logLine("データ受信終了イベント発生\n");
        return kTunnelFailed;
    }
    if (!got && got.error().code == platform::wsa::kTimedOut) {
        m_lateRepliesPossible = true;
        logLine("データ受信タイムアウトイベント発生\n");
        return kTunnelFailed;
    }
    if (!got) {
        logLine("受信失敗 : %u\n", got.error().code);
        return static_cast<int32_t>(got.error().code);
    }
    if (*got < wanted) {
        // The unit closed the connection: a reply cut short is no reply.
        logLine("ソケット切断イベント\n");
        logLine("ソケット切断\n");
        return kTunnelFailed;
    }
    return 0;
}

int32_t TunnelConnection::exchange(SRB_ExecSCSICmd& block, uint8_t* scsiStatus,
                                   std::chrono::seconds receiveTimeout)
{
    const int fd = socketFd();
    if (fd < 0)
        return static_cast<int32_t>(platform::wsa::kNotSocket);
    // Between requests nothing is due from the unit: bytes waiting now are a
    // reply that came after its request timed out. Read as this request's
    // reply, they would hand the caller another command's data.
    if (m_lateRepliesPossible)
        discardLateReplies(fd);
    const TunnelRequest request = encodeTunnelRequest(block);
    const std::span<const uint8_t> parts[] = {request.header, request.dataOut};
    if (auto sent = platform::sendAllParts(fd, parts); !sent) {
        logLine("データ送信失敗(%u)\n", sent.error().code);
        return static_cast<int32_t>(sent.error().code);
    }
    // The reply header and the data-in arrive in one read where possible;
    // the data go straight to the caller's buffer.
    std::array<uint8_t, kTunnelHeader> reply{};
    const std::span<uint8_t> replyParts[] = {
        reply, std::span<uint8_t>(block.SRB_BufPointer, request.dataIn)};
    if (const int32_t r = receive(replyParts, receiveTimeout); r != 0)
        return r;
    *scsiStatus = applyTunnelReply(block, reply);
    return 0;
}

void TunnelConnection::discardLateReplies(int fd)
{
    // A stack buffer: this runs before every request once a time-out has
    // happened, and almost always finds nothing.
    std::array<uint8_t, 4096> sink;
    size_t discarded = 0;
    for (;;) {
        const auto got = platform::tryReceive(fd, sink);
        if (!got || !*got || **got == 0)
            break; // an error, nothing waiting, or the unit closed: the send will tell
        discarded += **got;
    }
    if (discarded != 0)
        logLine("遅れて届いた応答を破棄 : %zu\n", discarded);
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
