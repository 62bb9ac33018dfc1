// The simulated scanner's commands.
#include "simulated_scanner.h"

#include "platform/page_memory.h"

#include <algorithm>
#include <cstring>

namespace lumarc::unitsim {
namespace {

constexpr uint8_t kGood = 0x00;
constexpr uint8_t kCheckCondition = 0x02;
constexpr uint8_t kSenseNoSense = 0x00;
constexpr uint8_t kSenseNotReady = 0x02;
constexpr uint8_t kSenseIllegalRequest = 0x05;
constexpr uint8_t kAscInvalidOpcode = 0x20;
constexpr uint8_t kAscInvalidField = 0x24;
constexpr uint8_t kAscInvalidParameter = 0x26;
constexpr uint8_t kAscNotReady = 0x04;
constexpr size_t kWindowHeader = 8;
constexpr size_t kWindowDescriptor = 40;

uint32_t be16(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint32_t>(b[at] << 8 | b[at + 1]);
}
uint32_t be24(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint32_t>(b[at] << 16 | b[at + 1] << 8 | b[at + 2]);
}
uint32_t be32(std::span<const uint8_t> b, size_t at)
{
    return static_cast<uint32_t>(b[at]) << 24 | be24(b, at + 1);
}
void putBe16(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    b[at] = static_cast<uint8_t>(v >> 8);
    b[at + 1] = static_cast<uint8_t>(v);
}
void putBe32(std::vector<uint8_t>& b, size_t at, uint32_t v)
{
    for (int i = 0; i < 4; ++i)
        b[at + static_cast<size_t>(i)] = static_cast<uint8_t>(v >> (24 - 8 * i));
}

ScsiResult check(uint8_t key, uint8_t asc, size_t dataInLength, uint32_t information = 0,
                 uint8_t flags = 0)
{
    ScsiResult r;
    r.status = kCheckCondition;
    r.sense[0] = 0x70 | (information != 0 ? 0x80 : 0);
    r.sense[2] = static_cast<uint8_t>(key | flags);
    r.sense[3] = static_cast<uint8_t>(information >> 24);
    r.sense[4] = static_cast<uint8_t>(information >> 16);
    r.sense[5] = static_cast<uint8_t>(information >> 8);
    r.sense[6] = static_cast<uint8_t>(information);
    r.sense[7] = 10;
    r.sense[12] = asc;
    r.dataIn.assign(dataInLength, 0);
    return r;
}

ScsiResult good(std::span<const uint8_t> data, size_t dataInLength)
{
    ScsiResult r;
    r.dataIn.assign(dataInLength, 0);
    std::copy_n(data.begin(), std::min(data.size(), dataInLength), r.dataIn.begin());
    return r;
}

std::string commandText(std::span<const uint8_t> payload)
{
    return std::string(payload.begin(), payload.begin() + std::min<size_t>(16, payload.size()));
}

} // namespace

std::array<uint8_t, 3> chartPixel(uint32_t x, uint32_t y)
{
    constexpr uint32_t kLine = 12; // 1/100 inch
    if (x % kChartUnits < kLine || y % kChartUnits < kLine)
        return {0, 0, 0}; // the one-inch grid
    if (y < 2 * kChartUnits) {
        // Eight colour bars: white, yellow, cyan, green, magenta, red, blue, black.
        static constexpr std::array<std::array<uint8_t, 3>, 8> kBars{{{255, 255, 255},
                                                                      {255, 255, 0},
                                                                      {0, 255, 255},
                                                                      {0, 255, 0},
                                                                      {255, 0, 255},
                                                                      {255, 0, 0},
                                                                      {0, 0, 255},
                                                                      {0, 0, 0}}};
        return kBars[std::min<uint32_t>(x * 8 / kA4Width, 7)];
    }
    if (y < 4 * kChartUnits) {
        const auto grey = static_cast<uint8_t>(std::min<uint32_t>(x * 256 / kA4Width, 255));
        return {grey, grey, grey};
    }
    return {255, 255, 255};
}

size_t chartRowKind(uint32_t y)
{
    // The bands of chartPixel, each with and without a grid line.
    constexpr uint32_t kLine = 12;
    const size_t band = y < 2 * kChartUnits ? 0 : y < 4 * kChartUnits ? 1 : 2;
    return band * 2 + (y % kChartUnits < kLine ? 1 : 0);
}

std::vector<uint8_t> ScsiResult::dataInBytes() const
{
    std::vector<uint8_t> bytes(image.begin(), image.end());
    bytes.insert(bytes.end(), dataIn.begin(), dataIn.end());
    return bytes;
}

std::vector<uint8_t> encodeWindow(const ScanWindow& window)
{
    std::vector<uint8_t> data(kWindowHeader + kWindowDescriptor, 0);
    putBe16(data, 6, kWindowDescriptor);
    const size_t d = kWindowHeader;
    putBe16(data, d + 2, window.xResolution);
    putBe16(data, d + 4, window.yResolution);
    putBe32(data, d + 6, window.left);
    putBe32(data, d + 10, window.top);
    putBe32(data, d + 14, window.width);
    putBe32(data, d + 18, window.length);
    data[d + 25] = window.bitsPerPixel == 24 ? 5 : 2; // colour or grey
    data[d + 26] = window.bitsPerPixel;
    return data;
}

SimulatedScanner::SimulatedScanner(ScannerProfile profile) : m_profile(std::move(profile))
{
    m_eeprom = m_profile.eeprom;
    m_working = m_eeprom;
    m_ink = m_profile.hardwareStatus[kHardwareStatusInk];
    m_lampTimer = m_profile.lampTimer;
    m_powerSaving = m_profile.powerSaving;
    if (m_profile.block)
        m_block = *m_profile.block;
    else
        for (size_t i = 0; i < m_block.size(); ++i)
            m_block[i] = static_cast<uint8_t>(0x80 + i);
}

ScsiResult SimulatedScanner::execute(std::span<const uint8_t> cdb,
                                     std::span<const uint8_t> dataOut, size_t dataInLength)
{
    std::scoped_lock lock(m_mutex);
    ScsiResult result = run(cdb, dataOut, dataInLength);
    // REQUEST SENSE reports the last command's sense (and clears it).
    if (cdb.empty() || cdb[0] != 0x03)
        m_lastSense = result.sense;
    return result;
}

ScsiResult SimulatedScanner::run(std::span<const uint8_t> cdb, std::span<const uint8_t> dataOut,
                                 size_t dataInLength)
{
    if (cdb.empty())
        return check(kSenseIllegalRequest, kAscInvalidOpcode, dataInLength);
    ScsiResult result;
    switch (cdb[0]) {
    case 0x00: // TEST UNIT READY
        result = good({}, dataInLength);
        break;
    case 0x03: // REQUEST SENSE
        result = good(m_lastSense, dataInLength);
        m_lastSense = {};
        break;
    case 0x12: { // INQUIRY
        if (cdb.size() < 6)
            return check(kSenseIllegalRequest, kAscInvalidField, dataInLength);
        if ((cdb[1] & 1) == 0) {
            result = good(inquiryData(m_profile), std::min<size_t>(dataInLength, cdb[4]));
            result.dataIn.resize(dataInLength, 0);
        } else if (cdb[2] == 0xF0) {
            result = good(encodeVpdF0(m_profile.vpd), dataInLength);
        } else {
            result = check(kSenseIllegalRequest, kAscInvalidField, dataInLength);
        }
        break;
    }
    case 0x1D: // SEND DIAGNOSTIC
        result = diagnostic(dataOut);
        result.dataIn.assign(dataInLength, 0);
        break;
    case 0x1C: // RECEIVE DIAGNOSTIC
        result = good(m_diagnosticResult, dataInLength);
        break;
    case 0x1A: { // MODE SENSE(6)
        const uint8_t page = cdb.size() > 2 ? (cdb[2] & 0x3F) : 0;
        if (page != 0x34 && page != 0x3D)
            return check(kSenseIllegalRequest, kAscInvalidField, dataInLength);
        std::vector<uint8_t> data(12, 0);
        data[0] = 11;
        data[4] = page;
        data[5] = 6;
        data[6] = page == 0x34 ? m_powerSaving : m_lampTimer;
        result = good(data, dataInLength);
        break;
    }
    case 0x15: // MODE SELECT(6)
        if (dataOut.size() < 7 || (dataOut[4] != 0x34 && dataOut[4] != 0x3D))
            return check(kSenseIllegalRequest, kAscInvalidParameter, dataInLength);
        (dataOut[4] == 0x34 ? m_powerSaving : m_lampTimer) = dataOut[6];
        // A scanner that keeps the time in its EEPROM stores it there too.
        if (dataOut[4] == 0x34 && m_profile.powerSavingByte) {
            m_eeprom[*m_profile.powerSavingByte] = dataOut[6];
            m_working[*m_profile.powerSavingByte] = dataOut[6];
        }
        result = good({}, dataInLength);
        break;
    case 0x28: // READ(10): the 128-byte block, or image data
        if (cdb.size() >= 10 && cdb[2] == 0x69)
            result = good(m_block, dataInLength);
        else
            result = readImage(dataInLength);
        break;
    case 0x2A: // WRITE(10) of the block
        if (cdb.size() < 10 || cdb[2] != 0x85 || dataOut.size() < kBlockSize)
            return check(kSenseIllegalRequest, kAscInvalidField, dataInLength);
        std::copy_n(dataOut.begin(), kBlockSize, m_block.begin());
        result = good({}, dataInLength);
        break;
    case 0xF1: // announces the vendor command that follows as F2
        result = good({}, dataInLength);
        break;
    case 0xF2: { // the announced vendor command: returns its pattern
        std::vector<uint8_t> data(dataInLength);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(0xF2 ^ i);
        result = good(data, dataInLength);
        break;
    }
    case 0xC2: { // hardware status
        auto status = m_profile.hardwareStatus;
        status[kHardwareStatusInk] = m_ink;
        result = good(status, dataInLength);
        break;
    }
    case 0x24: { // SET WINDOW
        if (dataOut.size() < kWindowHeader + 27)
            return check(kSenseIllegalRequest, kAscInvalidParameter, dataInLength);
        const auto d = dataOut.subspan(kWindowHeader);
        ScanWindow w;
        w.xResolution = static_cast<uint16_t>(be16(d, 2));
        w.yResolution = static_cast<uint16_t>(be16(d, 4));
        w.left = be32(d, 6);
        w.top = be32(d, 10);
        w.width = be32(d, 14);
        w.length = be32(d, 18);
        w.bitsPerPixel = d[26];
        // What the scanner can do is what its VPD page says.
        const auto& can = m_profile.vpd;
        const bool depthOffered = (w.bitsPerPixel == 24 && (can.videoOutput & 0xE0) != 0) ||
                                  (w.bitsPerPixel == 8 && (can.videoOutput & 0x08) != 0);
        const bool valid = w.xResolution >= can.minimumX && w.xResolution <= can.maximumX &&
                           w.yResolution >= can.minimumY && w.yResolution <= can.maximumY &&
                           depthOffered &&
                           w.width > 0 && w.length > 0 && w.width <= kA4Width &&
                           w.left <= kA4Width - w.width && w.length <= kA4Length &&
                           w.top <= kA4Length - w.length && w.pixelsPerLine() > 0 &&
                           w.lines() > 0;
        if (!valid)
            return check(kSenseIllegalRequest, kAscInvalidParameter, dataInLength);
        if (w != m_window) {
            m_window = w;
            if (m_page)
                m_spare = std::move(m_page);
            m_chunk.reset();
            for (auto& row : m_rows)
                row.clear();
        }
        m_scanning = false;
        result = good({}, dataInLength);
        break;
    }
    case 0x1B: // SCAN
        m_scanning = true;
        m_imageOffset = 0;
        result = good({}, dataInLength);
        break;
    default:
        result = check(kSenseIllegalRequest, kAscInvalidOpcode, dataInLength);
        break;
    }
    return result;
}

ScsiResult SimulatedScanner::diagnostic(std::span<const uint8_t> payload)
{
    const std::string text = commandText(payload);
    const auto extra = payload.size() > 16 ? payload.subspan(16) : std::span<const uint8_t>{};
    m_diagnosticResult.clear();
    if (text == "DEBUG,E2T,RED   " || text == "DEBUG,H3T,RED   ") {
        m_diagnosticResult.assign(m_working.begin(), m_working.begin() + 127);
    } else if (text == "DEBUG,E2T,RED  W") {
        m_diagnosticResult.assign(m_working.begin(), m_working.end());
    } else if (text == "DEBUG,E2T,WRT   " || text == "DEBUG,H3T,WRT   ") {
        if (extra.size() < 2 || extra.size() < 2u + extra[1] || extra[0] + extra[1] > kEepromSize)
            return check(kSenseIllegalRequest, kAscInvalidParameter, 0);
        std::copy_n(extra.begin() + 2, extra[1], m_working.begin() + extra[0]);
    } else if (text == "DEBUG,E2T,WRT  W") {
        if (extra.size() < 4)
            return check(kSenseIllegalRequest, kAscInvalidParameter, 0);
        // The length counts the four bytes of offset and length as well.
        const size_t offset = static_cast<size_t>(extra[0] << 8 | extra[1]);
        const size_t counted = static_cast<size_t>(extra[2] << 8 | extra[3]);
        if (counted < 4)
            return check(kSenseIllegalRequest, kAscInvalidParameter, 0);
        const size_t length = counted - 4;
        if (extra.size() < 4 + length || offset + length > kEepromSize)
            return check(kSenseIllegalRequest, kAscInvalidParameter, 0);
        std::copy_n(extra.begin() + 4, length, m_working.begin() + static_cast<ptrdiff_t>(offset));
    } else if (text == "DEBUG,E2P,WRT   ") {
        m_eeprom = m_working; // written data become permanent
        if (m_profile.powerSavingByte)
            m_powerSaving = m_eeprom[*m_profile.powerSavingByte];
    } else if (text == "CLEAR INK-LIFE  ") {
        m_ink = 100;
    } else if (text == "GET IMP-LIFE    ") {
        m_diagnosticResult = {0, 0, 0x12, 0x34};
    } else if (text == "GET FIRMVERSION ") {
        m_diagnosticResult.assign(m_profile.firmware.begin(), m_profile.firmware.end());
        m_diagnosticResult.resize(kFirmwareSize, ' ');
    } else {
        return check(kSenseIllegalRequest, kAscInvalidParameter, 0);
    }
    return good({}, 0);
}

std::span<const uint8_t> SimulatedScanner::renderedLine(uint32_t index)
{
    const uint32_t y = m_window.top + index * kChartUnits / m_window.yResolution;
    auto& row = m_rows[chartRowKind(y)];
    if (row.empty())
        renderLine(index, row);
    return row;
}

ScsiResult SimulatedScanner::readImage(size_t length)
{
    if (!m_scanning)
        return check(kSenseNotReady, kAscNotReady, length);
    const uint32_t bytesPerLine = m_window.bytesPerLine();
    const uint64_t total = static_cast<uint64_t>(bytesPerLine) * m_window.lines();
    const uint64_t available = total - m_imageOffset;
    const size_t n = static_cast<size_t>(std::min<uint64_t>(length, available));
    ScsiResult result;
    if (!m_page && total <= kPageCacheLimit) {
        std::shared_ptr<std::vector<uint8_t>> page;
        if (m_spare && m_spare.use_count() == 1) {
            page = std::move(m_spare);
            page->clear();
        } else {
            page = std::make_shared<std::vector<uint8_t>>();
        }
        m_spare.reset();
        if (page->capacity() < total) {
            page->reserve(static_cast<size_t>(total));
            platform::populate(page->data(), page->capacity());
        }
        for (uint32_t index = 0; index < m_window.lines(); ++index) {
            const auto bytes = renderedLine(index);
            page->insert(page->end(), bytes.begin(), bytes.end());
        }
        m_page = std::move(page);
    }
    if (m_page) {
        result.image = std::span(*m_page).subspan(static_cast<size_t>(m_imageOffset), n);
        result.imageOwner = m_page;
    } else {
        // A reply may still be sending the previous piece from the buffer.
        if (!m_chunk || m_chunk.use_count() > 1)
            m_chunk = std::make_shared<std::vector<uint8_t>>();
        m_chunk->resize(n);
        for (size_t done = 0; done < n;) {
            const uint64_t at = m_imageOffset + done;
            const auto bytes = renderedLine(static_cast<uint32_t>(at / bytesPerLine));
            const auto from = static_cast<size_t>(at % bytesPerLine);
            const size_t take = std::min(n - done, bytes.size() - from);
            std::memcpy(m_chunk->data() + done, bytes.data() + from, take);
            done += take;
        }
        result.image = std::span<const uint8_t>(*m_chunk);
        result.imageOwner = m_chunk;
    }
    m_imageOffset += n;
    if (n < length) {
        // End of the page: zeros for the rest, the residue in the
        // information bytes, EOM and ILI.
        result.dataIn.assign(length - n, 0);
        const ScsiResult eom =
            check(kSenseNoSense, 0, 0, static_cast<uint32_t>(length - n), 0x40 | 0x20);
        result.status = eom.status;
        result.sense = eom.sense;
        m_scanning = false;
    }
    return result;
}

void SimulatedScanner::renderLine(uint32_t line, std::vector<uint8_t>& out) const
{
    const uint32_t pixels = m_window.pixelsPerLine();
    const bool colour = m_window.bitsPerPixel == 24;
    out.resize(m_window.bytesPerLine());
    const uint32_t y = m_window.top + line * kChartUnits / m_window.yResolution;
    for (uint32_t p = 0; p < pixels; ++p) {
        const uint32_t x = m_window.left + p * kChartUnits / m_window.xResolution;
        const auto rgb = chartPixel(x, y);
        if (colour) {
            std::copy(rgb.begin(), rgb.end(), out.begin() + 3 * p);
        } else {
            out[p] = static_cast<uint8_t>((rgb[0] * 30 + rgb[1] * 59 + rgb[2] * 11) / 100);
        }
    }
}

std::array<uint8_t, kEepromSize> SimulatedScanner::eeprom() const
{
    std::scoped_lock lock(m_mutex);
    return m_eeprom;
}

std::array<uint8_t, kEepromSize> SimulatedScanner::eepromWorking() const
{
    std::scoped_lock lock(m_mutex);
    return m_working;
}

uint8_t SimulatedScanner::lampTimer() const
{
    std::scoped_lock lock(m_mutex);
    return m_lampTimer;
}

uint8_t SimulatedScanner::powerSaving() const
{
    std::scoped_lock lock(m_mutex);
    return m_powerSaving;
}

uint8_t SimulatedScanner::inkPercent() const
{
    std::scoped_lock lock(m_mutex);
    return m_ink;
}

} // namespace lumarc::unitsim
