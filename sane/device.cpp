// An open unit: options, and the scan from SET WINDOW to the last line.
#include "device.h"

#include "debug_log.h"

#include <algorithm>
#include <chrono>
#include <cstring>

namespace lumarc::sane {
namespace {

using namespace std::chrono_literals;

// A blocking read waits in slices this long, so that a cancel from a signal
// handler is acted on soon even while a piece is on its way.
constexpr std::chrono::milliseconds kCancelCheck = 50ms;

} // namespace

SANE_Status statusOf(const Error& error)
{
    switch (error.code) {
    case shared::scan_error::kBusy:
        return SANE_STATUS_DEVICE_BUSY;
    case shared::scan_error::kRefused:
        return SANE_STATUS_INVAL;
    default:
        return SANE_STATUS_IO_ERROR;
    }
}

Result<std::unique_ptr<Device>> Device::open(const std::string& address)
{
    auto connection = shared::ScannerConnection::open(address);
    if (!connection)
        return connection.error();
    auto identity = shared::readIdentity((*connection)->channel());
    if (!identity)
        return identity.error();
    auto capabilities = shared::readCapabilities((*connection)->channel());
    debugLine(debug::kInfo, "opened %s: %s %s %s, %s", address.c_str(), identity->vendor.c_str(),
              identity->product.c_str(), identity->revision.c_str(),
              capabilities ? capabilities->describe().c_str() : "no capability page");
    return std::unique_ptr<Device>(new Device(address, std::move(*connection),
                                              std::move(*identity), std::move(capabilities)));
}

Device::Device(std::string address, std::unique_ptr<shared::ScannerConnection> connection,
               shared::ScannerIdentity identity, std::optional<shared::Capabilities> capabilities)
    : m_address(std::move(address)), m_connection(std::move(connection)),
      m_identity(std::move(identity)), m_capabilities(std::move(capabilities)),
      m_facts(factsOf(m_identity, m_capabilities)), m_options(limitsOf(m_capabilities))
{
}

Device::~Device()
{
    endScan();
}

const SANE_Option_Descriptor* Device::descriptor(SANE_Int option) const
{
    return m_options.descriptor(option);
}

SANE_Status Device::control(SANE_Int option, SANE_Action action, void* value, SANE_Int* info)
{
    // The window of a scan in progress is fixed: what it delivers must stay
    // what sane_get_parameters said.
    if (action == SANE_ACTION_SET_VALUE && m_state == State::Reading)
        return SANE_STATUS_DEVICE_BUSY;
    const SANE_Status status = m_options.control(option, action, value, info);
    if (action == SANE_ACTION_SET_VALUE)
        debugLine(debug::kDetail, "option %d set: %s%s", option, statusText(status),
                  info != nullptr && (*info & SANE_INFO_INEXACT) ? " (adjusted)" : "");
    return status;
}

SANE_Status Device::parameters(SANE_Parameters& out) const
{
    // During a scan, the scan's own window; before, the best estimate.
    out = parametersOf(m_state == State::Reading ? m_window : m_options.window());
    return SANE_STATUS_GOOD;
}

SANE_Status Device::start()
{
    endScan();
    m_cancelRequested.store(false, std::memory_order_relaxed);
    m_state = State::Idle;
    const shared::ScanWindow window = m_options.window();
    if (window.pixels() == 0 || window.lines() == 0) {
        debugLine(debug::kError, "start: the scan area holds no pixels");
        return SANE_STATUS_INVAL;
    }
    // The options keep every value within the scanner's limits; this is
    // the last guard before anything reaches the scanner.
    if (m_capabilities) {
        if (auto refusal = shared::checkWindow(window, *m_capabilities, m_identity.product)) {
            debugLine(debug::kError, "start: %s", refusal->c_str());
            return SANE_STATUS_INVAL;
        }
    }
    if (!m_connection) {
        // The connection broke during an earlier scan: a new one.
        auto connection = shared::ScannerConnection::open(m_address);
        if (!connection)
            return fail(connection.error());
        m_connection = std::move(*connection);
    }
    debugLine(debug::kInfo, "start: %u dpi %s, %u x %u pixels at (%u, %u)/1200 in",
              window.resolution, window.gray ? "grey" : "colour", window.pixels(), window.lines(),
              window.left, window.top);
    if (auto started = shared::startScan(m_connection->channel(), window); !started)
        return fail(started.error());
    auto poller = platform::Poller::create();
    auto readable = platform::Event::create(platform::EventReset::Manual);
    if (!poller || !readable)
        return fail(Error{shared::scan_error::kTransport, "cannot create the select descriptor"});
    if (!poller->watch(m_connection->channel().completionFd(), platform::Poller::kReadable, 0) ||
        !poller->watch(readable->fd(), platform::Poller::kReadable, 1))
        return fail(Error{shared::scan_error::kTransport, "cannot watch the transport"});
    m_poller.emplace(std::move(*poller));
    m_readable.emplace(std::move(*readable));
    m_window = window;
    m_reader.emplace(m_connection->channel(), window);
    m_piece = {};
    m_state = State::Reading;
    updateReadiness();
    return SANE_STATUS_GOOD;
}

SANE_Status Device::read(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length)
{
    const SANE_Status status = readSome(data, maxLength, length);
    updateReadiness();
    return status;
}

SANE_Status Device::readSome(SANE_Byte* data, SANE_Int maxLength, SANE_Int* length)
{
    *length = 0;
    if (m_cancelRequested.load(std::memory_order_relaxed) && m_state == State::Reading)
        return cancelled();
    switch (m_state) {
    case State::Idle:
        return SANE_STATUS_INVAL;
    case State::Done:
        return SANE_STATUS_EOF;
    case State::Cancelled:
        return SANE_STATUS_CANCELLED;
    case State::Failed:
        return m_failure;
    case State::Reading:
        break;
    }
    if (m_piece.empty()) {
        if (m_nonBlocking) {
            if (!m_reader->ready())
                return SANE_STATUS_GOOD; // the select descriptor tells when
        } else {
            while (!m_reader->awaitReady(kCancelCheck))
                if (m_cancelRequested.load(std::memory_order_relaxed))
                    return cancelled();
        }
        auto piece = m_reader->next();
        if (!piece)
            return fail(piece.error());
        if (piece->empty()) {
            debugLine(debug::kInfo, "scan complete: %u lines", m_reader->linesDone());
            m_reader.reset();
            m_state = State::Done;
            return SANE_STATUS_EOF;
        }
        debugLine(debug::kDetail, "piece of %zu bytes, %u lines so far", piece->size(),
                  m_reader->linesDone());
        m_piece = *piece;
    }
    const size_t count = std::min(m_piece.size(), static_cast<size_t>(std::max(maxLength, 0)));
    std::memcpy(data, m_piece.data(), count);
    m_piece = m_piece.subspan(count);
    *length = static_cast<SANE_Int>(count);
    return SANE_STATUS_GOOD;
}

SANE_Status Device::setIoMode(SANE_Bool nonBlocking)
{
    if (m_state != State::Reading)
        return SANE_STATUS_INVAL;
    m_nonBlocking = nonBlocking == SANE_TRUE;
    return SANE_STATUS_GOOD;
}

SANE_Status Device::selectFd(SANE_Int* fd) const
{
    if (!m_poller)
        return SANE_STATUS_INVAL;
    *fd = m_poller->fd();
    return SANE_STATUS_GOOD;
}

void Device::updateReadiness()
{
    if (!m_readable)
        return;
    // A frontend waits on the descriptor only after read() gave nothing;
    // it must then wake for the end of the scan as well as for data.
    const bool now = m_state != State::Reading || !m_piece.empty() || m_reader->ready();
    (void)(now ? m_readable->set() : m_readable->reset());
}

void Device::endScan()
{
    m_piece = {};
    // The reader's READ on its way completes before its buffers may go;
    // the scanner drops the rest of the page at the next SET WINDOW.
    if (m_reader && m_connection)
        (void)m_connection->channel().finish();
    m_reader.reset();
    m_nonBlocking = false;
}

SANE_Status Device::fail(const Error& error)
{
    const SANE_Status status = statusOf(error);
    debugLine(debug::kError, "%s: %s", m_address.c_str(), error.text.c_str());
    m_reader.reset();
    m_piece = {};
    // A connection that broke is of no further use; a scanner that refused
    // a command is still there.
    if (status == SANE_STATUS_IO_ERROR && error.code != shared::scan_error::kScanner)
        m_connection.reset();
    m_failure = status;
    m_state = State::Failed;
    return status;
}

SANE_Status Device::cancelled()
{
    debugLine(debug::kInfo, "scan cancelled");
    endScan();
    m_state = State::Cancelled;
    return SANE_STATUS_CANCELLED;
}

} // namespace lumarc::sane
