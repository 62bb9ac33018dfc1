// Scanning through the transport: commands, identity, capabilities, window,
// and the image read in overlapping pieces.
#include "scsi_scanner.h"

#include "platform/unit_address.h"

#include <algorithm>
#include <chrono>
#include <cstdio>

namespace lumarc::shared {
namespace {

using namespace std::chrono_literals;

constexpr std::chrono::milliseconds kCommandWait = 90s;
// SCSI status BUSY: the scanner cannot take the command now.
constexpr uint8_t kScsiBusy = 0x08;
// The named mutex a scanning program holds while it has a unit's scanner.
constexpr std::string_view kClaimPrefix = "LumarcScanner.";

void putBe16(uint8_t* p, uint32_t v)
{
    p[0] = static_cast<uint8_t>(v >> 8);
    p[1] = static_cast<uint8_t>(v);
}

void putBe32(uint8_t* p, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        p[i] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

std::string trimmedField(const uint8_t* data, size_t width)
{
    std::string text(reinterpret_cast<const char*>(data), width);
    const size_t end = text.find_last_not_of(" \0", std::string::npos, 2);
    return end == std::string::npos ? std::string() : text.substr(0, end + 1);
}

} // namespace

std::string describeSense(const uint8_t* sense)
{
    static const char* const kKeys[] = {"no sense", "recovered error", "not ready", "medium error",
                                        "hardware error", "illegal request", "unit attention",
                                        "data protect"};
    const uint8_t key = sense[2] & 0x0F;
    char text[160];
    std::snprintf(text, sizeof text, "sense key %u (%s), ASC 0x%02X, ASCQ 0x%02X", key,
                  key < 8 ? kKeys[key] : "vendor specific", sense[12], sense[13]);
    return text;
}

ScsiChannel::ScsiChannel(SendCommand* send, std::unique_ptr<platform::Event> completion)
    : m_send(send), m_done(std::move(completion))
{
}

ScsiChannel::~ScsiChannel()
{
    settle();
}

void ScsiChannel::submit(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
                         bool dataIn, const char* what, bool checkConditionAllowed,
                         std::shared_ptr<void> keep)
{
    settle();
    auto p = std::make_unique<Pending>();
    p->keep = std::move(keep);
    p->what = what;
    p->checkConditionAllowed = checkConditionAllowed;
    SRB_ExecSCSICmd& block = p->block;
    block.SRB_Cmd = SC_EXEC_SCSI_CMD;
    block.SRB_Flags = SRB_EVENT_NOTIFY | (dataIn ? SRB_DIR_IN : SRB_DIR_OUT);
    block.SRB_Target = DROVIK_TARGET_ID;
    block.SRB_BufLen = length;
    block.SRB_BufPointer = data;
    block.SRB_SenseLen = sizeof block.SenseArea;
    block.SRB_CDBLen = static_cast<uint8_t>(cdb.size());
    block.SRB_PostProc = reinterpret_cast<void*>(static_cast<intptr_t>(m_done->fd()));
    std::copy(cdb.begin(), cdb.end(), block.CDBByte);
    p->pending = m_send(&block) == SS_PENDING;
    m_pending = std::move(p);
}

bool ScsiChannel::completed() const
{
    return !m_pending || !m_pending->pending ||
           __atomic_load_n(&m_pending->block.SRB_Status, __ATOMIC_ACQUIRE) != SS_PENDING;
}

bool ScsiChannel::awaitCompletion(std::chrono::milliseconds limit)
{
    if (!m_pending || !m_pending->pending)
        return true;
    if (!m_done->wait(limit))
        return false;
    // The completion's signal is taken: settle() must not wait for it again.
    m_pending->pending = false;
    return true;
}

// Waits until the transport is done with the command sent last; false when
// it did not finish in time. Such a block (and the buffer it keeps) may
// still be written by the transport later: both are then left allocated
// rather than freed under it.
bool ScsiChannel::settle()
{
    if (!m_pending || !m_pending->pending)
        return true;
    if (m_done->wait(kCommandWait)) {
        m_pending->pending = false;
        return true;
    }
    (void)m_pending.release();
    return false;
}

Result<SRB_ExecSCSICmd> ScsiChannel::finish()
{
    if (!m_pending)
        return Error{scan_error::kTransport, "no command was sent"};
    const std::string what = m_pending->what;
    const bool checkConditionAllowed = m_pending->checkConditionAllowed;
    if (!settle())
        return Error{scan_error::kTransport, what + ": no answer from the transport"};
    const SRB_ExecSCSICmd block = m_pending->block;
    m_pending.reset();
    switch (block.SRB_Status) {
    case SS_COMP:
        return block;
    case SS_ERR:
        if (block.SRB_TargStat == kScsiBusy)
            return Error{scan_error::kBusy, what + ": the scanner is busy"};
        if (checkConditionAllowed)
            return block;
        return Error{scan_error::kScanner,
                     what + ": scanner error, " + describeSense(block.SenseArea)};
    case SS_ASPI_IS_BUSY:
        return Error{scan_error::kTransport,
                     what + ": no reply from the unit (time-out or connection lost)"};
    default: {
        char code[8];
        std::snprintf(code, sizeof code, "0x%02X", block.SRB_Status);
        return Error{scan_error::kTransport, what + ": transport status " + code};
    }
    }
}

Result<SRB_ExecSCSICmd> ScsiChannel::run(std::initializer_list<uint8_t> cdb, uint8_t* data,
                                         uint32_t length, bool dataIn, const char* what,
                                         bool checkConditionAllowed)
{
    submit(cdb, data, length, dataIn, what, checkConditionAllowed);
    return finish();
}

Result<std::unique_ptr<ScannerConnection>> ScannerConnection::open(const std::string& unit)
{
    using SupportInfo2 = uint32_t(const char*);
    // The claim comes first, so that a busy unit sees no connection at all.
    const auto address = platform::resolveUnitAddress(unit);
    auto claim = platform::NamedMutex::create(std::string(kClaimPrefix) +
                                              (address ? platform::addressText(*address) : unit));
    if (!claim)
        return Error{scan_error::kTransport, "cannot claim the scanner: " + claim.error().text};
    if (claim->alreadyExisted())
        return Error{scan_error::kBusy,
                     "the scanner of " + unit + " is in use by another program on this PC"};
    auto library = platform::Library::load("DROVIK32.dll");
    if (!library)
        return Error{scan_error::kTransport,
                     "cannot load the transport library: " + library.error().text};
    auto supportInfo = library->function<SupportInfo2>("GetASPI32SupportInfo2");
    auto send = library->function<ScsiChannel::SendCommand>("SendASPI32Command");
    if (!supportInfo || !send)
        return Error{scan_error::kTransport, "the transport library lacks its ASPI exports"};
    auto done = platform::Event::create(platform::EventReset::Auto);
    if (!done)
        return Error{scan_error::kTransport, "cannot create an event: " + done.error().text};

    const uint32_t support = (*supportInfo)(unit.c_str());
    if ((support >> 8) == SS_ASPI_IS_BUSY)
        return Error{scan_error::kBusy,
                     "the unit " + unit + " refused the scanner connection (busy with another PC?)"};
    if ((support >> 8) != SS_COMP)
        return Error{scan_error::kUnreachable, "cannot reach the scanner of " + unit +
                                                   " (no unit there, or no scanner attached)"};
    std::unique_ptr<ScannerConnection> connection(new ScannerConnection);
    connection->m_claim.emplace(std::move(*claim));
    connection->m_library.emplace(std::move(*library));
    connection->m_channel = std::make_unique<ScsiChannel>(
        *send, std::make_unique<platform::Event>(std::move(*done)));
    return connection;
}

std::string Capabilities::describe() const
{
    std::string text = std::to_string(minimum) + "-" + std::to_string(maximum) + " dpi";
    if (colour && grey)
        text += ", colour and grey";
    else if (colour || grey)
        text += colour ? ", colour" : ", grey";
    return text;
}

Result<ScannerIdentity> readIdentity(ScsiChannel& channel)
{
    uint8_t inquiry[96] = {};
    auto block = channel.run({0x12, 0, 0, 0, sizeof inquiry, 0}, inquiry, sizeof inquiry, true,
                             "INQUIRY");
    if (!block)
        return block.error();
    if ((inquiry[0] & 0x1F) != 0x06)
        return Error{scan_error::kRefused, "the device is no scanner"};
    return ScannerIdentity{trimmedField(inquiry + 8, 8), trimmedField(inquiry + 16, 16),
                           trimmedField(inquiry + 32, 4)};
}

std::optional<Capabilities> readCapabilities(ScsiChannel& channel)
{
    uint8_t page[100] = {};
    auto block = channel.run({0x12, 1, 0xF0, 0, sizeof page, 0}, page, sizeof page, true,
                             "INQUIRY (VPD page F0)", true);
    if (!block || block->SRB_Status != SS_COMP || page[1] != 0xF0)
        return std::nullopt;
    const auto be = [&](size_t at, size_t width) {
        uint32_t v = 0;
        for (size_t i = 0; i < width; ++i)
            v = v << 8 | page[at + i];
        return v;
    };
    Capabilities c;
    c.basicX = be(0x05, 2);
    c.basicY = be(0x07, 2);
    c.maximum = std::min(be(0x0A, 2), be(0x0C, 2));
    c.minimum = std::max(be(0x0E, 2), be(0x10, 2));
    c.windowWidth = be(0x14, 4);
    c.windowLength = be(0x18, 4);
    c.colour = (page[0x1C] & 0xE0) != 0;
    c.grey = (page[0x1C] & 0x08) != 0;
    c.flatbed = (page[0x20] & 0x40) != 0;
    c.feeder = (page[0x20] & 0x80) != 0;
    if (c.basicX == 0 || c.basicY == 0 || c.maximum == 0 || c.minimum > c.maximum)
        return std::nullopt; // a page that says nothing usable
    return c;
}

std::optional<std::string> checkWindow(const ScanWindow& w, const Capabilities& c,
                                       const std::string& model)
{
    if (w.resolution < c.minimum || w.resolution > c.maximum)
        return "the " + model + " scans at " + std::to_string(c.minimum) + " to " +
               std::to_string(c.maximum) + " dpi, not " + std::to_string(w.resolution);
    if (!w.gray && !c.colour)
        return "the " + model + " does not scan in colour";
    if (w.gray && !c.grey)
        return "the " + model + " does not scan in grey";
    if (c.windowWidth == 0 || c.windowLength == 0)
        return std::nullopt;
    const uint64_t right = uint64_t{w.left} + w.width;
    const uint64_t bottom = uint64_t{w.top} + w.length;
    if (right * c.basicX / kUnitsPerInch > c.windowWidth ||
        bottom * c.basicY / kUnitsPerInch > c.windowLength) {
        char size[64];
        std::snprintf(size, sizeof size, "%.0f x %.0f mm", c.windowWidth * 25.4 / c.basicX,
                      c.windowLength * 25.4 / c.basicY);
        return "the area reaches beyond the " + model + "'s largest window, " + size;
    }
    return std::nullopt;
}

Status startScan(ScsiChannel& channel, const ScanWindow& w)
{
    if (auto ready = channel.run({0x00, 0, 0, 0, 0, 0}, nullptr, 0, true, "TEST UNIT READY");
        !ready)
        return ready.error();
    uint8_t window[48] = {};
    putBe16(window + 6, 40);
    putBe16(window + 8 + 2, w.resolution);
    putBe16(window + 8 + 4, w.resolution);
    putBe32(window + 8 + 6, w.left);
    putBe32(window + 8 + 10, w.top);
    putBe32(window + 8 + 14, w.width);
    putBe32(window + 8 + 18, w.length);
    window[8 + 25] = w.gray ? 2 : 5;
    window[8 + 26] = w.gray ? 8 : 24;
    if (auto set = channel.run({0x24, 0, 0, 0, 0, 0, 0, 0, sizeof window, 0}, window,
                               sizeof window, false, "SET WINDOW");
        !set)
        return set.error();
    if (auto scan = channel.run({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false, "SCAN"); !scan)
        return scan.error();
    return {};
}

ImageReader::ImageReader(ScsiChannel& channel, const ScanWindow& window, size_t chunkBytes)
    : m_channel(channel), m_window(window),
      m_linesPerRead(std::max<uint32_t>(
          1, static_cast<uint32_t>(chunkBytes / std::max<uint32_t>(1, window.bytesPerLine()))))
{
    // Two buffers: while the caller works on one piece, the transport
    // fetches the next into the other.
    for (auto& b : m_buffers)
        b = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(m_linesPerRead) *
                                                   window.bytesPerLine());
    submitRead(0);
}

void ImageReader::submitRead(int buffer)
{
    const uint32_t lines = m_window.lines();
    m_inFlight = std::min(m_linesPerRead, lines - m_linesRequested);
    if (m_inFlight == 0)
        return;
    m_readBuffer = buffer;
    const uint32_t bytes = m_inFlight * m_window.bytesPerLine();
    m_channel.submit({0x28, 0, 0, 0, 0, 0, static_cast<uint8_t>(bytes >> 16),
                      static_cast<uint8_t>(bytes >> 8), static_cast<uint8_t>(bytes), 0},
                     m_buffers[buffer]->data(), bytes, true, "READ", false, m_buffers[buffer]);
    m_linesRequested += m_inFlight;
}

bool ImageReader::ready() const
{
    return m_inFlight == 0 || m_channel.completed();
}

bool ImageReader::awaitReady(std::chrono::milliseconds limit)
{
    return m_inFlight == 0 || m_channel.awaitCompletion(limit);
}

Result<std::span<const uint8_t>> ImageReader::next()
{
    if (m_inFlight == 0)
        return std::span<const uint8_t>();
    if (auto finished = m_channel.finish(); !finished) {
        m_inFlight = 0;
        return finished.error();
    }
    const int arrived = m_readBuffer;
    const uint32_t count = m_inFlight;
    m_linesDone += count;
    // The next read goes to the other buffer while the caller works on this
    // one, which stays as it is until the call after this.
    submitRead(1 - arrived);
    return std::span<const uint8_t>(*m_buffers[arrived])
        .first(static_cast<size_t>(count) * m_window.bytesPerLine());
}

} // namespace lumarc::shared
