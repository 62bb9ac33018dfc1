// The scanning program: load the transport, identify the scanner, set the
// window, scan, read the image in large pieces and write it line by line.
#include "scan_command.h"

#include "png_writer.h"

#include "platform/event.h"
#include "platform/library.h"
#include "scsinet/aspi.h"

#include <algorithm>
#include <atomic>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <optional>
#include <ostream>
#include <sstream>

#include <fcntl.h>
#include <unistd.h>

namespace lumarc::tools {
namespace {

using namespace std::chrono_literals;

constexpr const char* kUsage = R"(usage: lumarc-scan [OPTIONS]

Scans one page from the scanner attached to a Lumarc unit into a PNG file.

  -u, --unit ADDRESS    the unit (dotted IPv4 or host name; or $LUMARC_UNIT)
  -o, --output FILE     the PNG file to write (default scan.png)
  -r, --resolution DPI  50 to 1200 (default 300), within what the scanner
                        offers
  --area X,Y,W,H        the area in millimetres from the top-left corner
                        (default: the whole A4 page)
  --gray                8-bit grey instead of 24-bit colour
  --quiet               no progress
  --help, --version

The PNG file takes its name only when the page is complete; a failed scan
leaves an earlier file of that name alone.

Exit status: 0 success, 1 the scan failed (with the reason), 2 a wrong
command line.
)";

constexpr uint32_t kUnitsPerInch = 1200;
constexpr uint32_t kA4Width = 9921; // 1/1200 inch
constexpr uint32_t kA4Length = 14031;
constexpr std::chrono::milliseconds kCommandWait = 90s;
constexpr size_t kReadChunk = 512 * 1024;

using SupportInfo2 = uint32_t(const char*);
using SendCommand = uint32_t(void*);

class ScanError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

struct Settings {
    std::string unit;
    std::string output = "scan.png";
    uint32_t resolution = 300;
    uint32_t left = 0, top = 0, width = kA4Width, length = kA4Length; // 1/1200 inch
    bool gray = false;
    bool quiet = false;
};

// Sense data in words a user can act on.
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

// Commands to the scanner through the transport, one at a time. A command
// can be sent and finished later, so that the caller works while the
// transport fetches its data.
class Scanner {
public:
    Scanner(SendCommand* send) : m_send(send)
    {
        auto done = platform::Event::create(platform::EventReset::Auto);
        if (!done)
            throw ScanError("cannot create an event: " + done.error().text);
        m_done = std::make_unique<platform::Event>(std::move(*done));
    }
    Scanner(const Scanner&) = delete;
    Scanner& operator=(const Scanner&) = delete;
    // Waits for a command still on its way, so that the transport never
    // writes into memory that is gone.
    ~Scanner() { settle(); }

    // Sends one command and returns at once. data must stay valid until the
    // command is finished: keep, when given, owns it and is held until then
    // (also by a scanner destroyed meanwhile).
    void submit(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length, bool dataIn,
                const char* what, bool checkConditionAllowed = false,
                std::shared_ptr<void> keep = {})
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

    // Waits for the command sent last; the block afterwards holds status
    // and sense. Throws with a clear reason when it failed (a CHECK
    // CONDITION only when the caller does not expect one).
    SRB_ExecSCSICmd finish()
    {
        if (!m_pending)
            throw ScanError("no command was sent");
        const std::string what = m_pending->what;
        const bool checkConditionAllowed = m_pending->checkConditionAllowed;
        if (!settle())
            throw ScanError(what + ": no answer from the transport");
        const SRB_ExecSCSICmd block = m_pending->block;
        m_pending.reset();
        switch (block.SRB_Status) {
        case SS_COMP:
            return block;
        case SS_ERR:
            if (checkConditionAllowed)
                return block;
            throw ScanError(what + ": scanner error, " + describeSense(block.SenseArea));
        case SS_ASPI_IS_BUSY:
            throw ScanError(what + ": no reply from the unit (time-out or connection lost)");
        default: {
            char code[8];
            std::snprintf(code, sizeof code, "0x%02X", block.SRB_Status);
            throw ScanError(what + ": transport status " + code);
        }
        }
    }

    // Runs one command and waits for it (submit, then finish).
    SRB_ExecSCSICmd run(std::initializer_list<uint8_t> cdb, uint8_t* data, uint32_t length,
                        bool dataIn, const char* what, bool checkConditionAllowed = false)
    {
        submit(cdb, data, length, dataIn, what, checkConditionAllowed);
        return finish();
    }

private:
    struct Pending {
        SRB_ExecSCSICmd block{};
        std::shared_ptr<void> keep; // what block.SRB_BufPointer points into
        const char* what = "";
        bool checkConditionAllowed = false;
        bool pending = false; // completion still to come
    };

    // Waits until the transport is done with the command sent last; false
    // when it did not finish in time. Such a block (and the buffer it
    // keeps) may still be written by the transport later: both are then
    // left allocated rather than freed under it.
    bool settle()
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

    SendCommand* m_send;
    std::unique_ptr<platform::Event> m_done;
    std::unique_ptr<Pending> m_pending;
};

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

uint32_t millimetres(const std::string& text)
{
    char* end = nullptr;
    const double mm = std::strtod(text.c_str(), &end);
    if (end == text.c_str() || *end != '\0' || mm < 0 || mm > 1000)
        throw std::invalid_argument("not a length in millimetres: " + text);
    return static_cast<uint32_t>(mm * kUnitsPerInch / 25.4 + 0.5);
}

Settings parse(const std::vector<std::string>& args, std::ostream& out, bool& done)
{
    Settings s;
    if (const char* unit = std::getenv("LUMARC_UNIT"))
        s.unit = unit;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        const auto value = [&]() -> std::string {
            if (i + 1 >= args.size())
                throw std::invalid_argument(arg + " needs a value");
            return args[++i];
        };
        if (arg == "--help" || arg == "-h") {
            out << kUsage;
            done = true;
            return s;
        } else if (arg == "--version") {
            out << "lumarc-scan 0.1.0\n";
            done = true;
            return s;
        } else if (arg == "-u" || arg == "--unit") {
            s.unit = value();
        } else if (arg == "-o" || arg == "--output") {
            s.output = value();
        } else if (arg == "-r" || arg == "--resolution") {
            const std::string v = value();
            char* end = nullptr;
            const long dpi = std::strtol(v.c_str(), &end, 10);
            if (*end != '\0' || dpi < 50 || dpi > 1200)
                throw std::invalid_argument("the resolution is 50 to 1200 dpi");
            s.resolution = static_cast<uint32_t>(dpi);
        } else if (arg == "--area") {
            std::stringstream parts(value());
            std::string x, y, w, l;
            std::getline(parts, x, ',');
            std::getline(parts, y, ',');
            std::getline(parts, w, ',');
            std::getline(parts, l);
            s.left = millimetres(x);
            s.top = millimetres(y);
            s.width = millimetres(w);
            s.length = millimetres(l);
            if (s.width == 0 || s.length == 0 || s.left + s.width > kA4Width ||
                s.top + s.length > kA4Length)
                throw std::invalid_argument("the area must lie within the A4 page");
        } else if (arg == "--gray") {
            s.gray = true;
        } else if (arg == "--quiet") {
            s.quiet = true;
        } else {
            throw std::invalid_argument("unknown option " + arg);
        }
    }
    if (s.unit.empty())
        throw std::invalid_argument("no unit given (--unit ADDRESS or $LUMARC_UNIT)");
    return s;
}

// What the scanner says it can do, from its vendor VPD page F0 (numbers
// big-endian). Scanners without the page are simply not checked.
struct Capabilities {
    uint32_t basicX = 0, basicY = 0;             // dpi
    uint32_t minimum = 0, maximum = 0;           // resolutions both directions offer
    uint32_t windowWidth = 0, windowLength = 0;  // pixels at the basic resolution
    bool colour = false, grey = false;
};

std::optional<Capabilities> readCapabilities(Scanner& scanner)
{
    uint8_t page[100] = {};
    const auto block = scanner.run({0x12, 1, 0xF0, 0, sizeof page, 0}, page, sizeof page, true,
                                   "INQUIRY (VPD page F0)", true);
    if (block.SRB_Status != SS_COMP || page[1] != 0xF0)
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
    if (c.basicX == 0 || c.basicY == 0 || c.maximum == 0 || c.minimum > c.maximum)
        return std::nullopt; // a page that says nothing usable
    return c;
}

std::string describe(const Capabilities& c)
{
    std::string text = std::to_string(c.minimum) + "-" + std::to_string(c.maximum) + " dpi";
    if (c.colour && c.grey)
        text += ", colour and grey";
    else if (c.colour || c.grey)
        text += c.colour ? ", colour" : ", grey";
    return text;
}

// Refuses before scanning what the scanner said it cannot do, in its terms
// rather than as the sense data of a refused SET WINDOW.
void checkRequest(const Settings& s, const Capabilities& c, const std::string& model)
{
    if (s.resolution < c.minimum || s.resolution > c.maximum)
        throw ScanError("the " + model + " scans at " + std::to_string(c.minimum) + " to " +
                        std::to_string(c.maximum) + " dpi, not " +
                        std::to_string(s.resolution));
    if (!s.gray && !c.colour)
        throw ScanError("the " + model + " does not scan in colour (--gray scans in grey)");
    if (s.gray && !c.grey)
        throw ScanError("the " + model + " does not scan in grey");
    if (c.windowWidth == 0 || c.windowLength == 0)
        return;
    const uint64_t right = uint64_t{s.left} + s.width;
    const uint64_t bottom = uint64_t{s.top} + s.length;
    if (right * c.basicX / kUnitsPerInch > c.windowWidth ||
        bottom * c.basicY / kUnitsPerInch > c.windowLength) {
        char size[64];
        std::snprintf(size, sizeof size, "%.0f x %.0f mm", c.windowWidth * 25.4 / c.basicX,
                      c.windowLength * 25.4 / c.basicY);
        throw ScanError("the area reaches beyond the " + model + "'s largest window, " + size);
    }
}

// The image goes to a new file beside the output, which takes the output's
// name only once the image is complete: a failed scan leaves no truncated
// PNG behind and never spoils an earlier scan of the same name.
class OutputFile {
public:
    explicit OutputFile(std::string path) : m_path(std::move(path))
    {
        static std::atomic<unsigned> counter{0};
        for (int attempt = 0; attempt < 100 && m_partial.empty(); ++attempt) {
            std::string candidate = m_path + ".part-" + std::to_string(::getpid()) + "-" +
                                    std::to_string(counter++);
            const int fd = ::open(candidate.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
            if (fd >= 0) {
                ::close(fd);
                m_partial = std::move(candidate);
            } else if (errno != EEXIST) {
                throw ScanError("cannot create " + m_path + ": " + std::strerror(errno));
            }
        }
        if (m_partial.empty())
            throw ScanError("cannot create a new file beside " + m_path);
    }
    ~OutputFile()
    {
        if (!m_kept)
            ::unlink(m_partial.c_str());
    }
    OutputFile(const OutputFile&) = delete;
    OutputFile& operator=(const OutputFile&) = delete;

    const std::string& partial() const { return m_partial; }

    void keep()
    {
        if (::rename(m_partial.c_str(), m_path.c_str()) != 0)
            throw ScanError("cannot name the scan " + m_path + ": " + std::strerror(errno));
        m_kept = true;
    }

private:
    std::string m_path;
    std::string m_partial;
    bool m_kept = false;
};

void scan(const Settings& s, std::ostream& out, std::ostream& err)
{
    auto library = platform::Library::load("DROVIK32.dll");
    if (!library)
        throw ScanError("cannot load the transport library: " + library.error().text);
    auto supportInfo = library->function<SupportInfo2>("GetASPI32SupportInfo2");
    auto send = library->function<SendCommand>("SendASPI32Command");
    if (!supportInfo || !send)
        throw ScanError("the transport library lacks its ASPI exports");

    const uint32_t support = (*supportInfo)(s.unit.c_str());
    if ((support >> 8) == SS_ASPI_IS_BUSY)
        throw ScanError("the unit " + s.unit +
                        " refused the scanner connection (busy with another PC?)");
    if ((support >> 8) != SS_COMP)
        throw ScanError("cannot reach the scanner of " + s.unit +
                        " (no unit there, or no scanner attached)");

    Scanner scanner(*send);
    uint8_t inquiry[96] = {};
    scanner.run({0x12, 0, 0, 0, sizeof inquiry, 0}, inquiry, sizeof inquiry, true, "INQUIRY");
    if ((inquiry[0] & 0x1F) != 0x06)
        throw ScanError("the device at " + s.unit + " is no scanner");
    const auto field = [&](size_t at, size_t width) {
        std::string text(reinterpret_cast<char*>(inquiry + at), width);
        return text.substr(0, text.find_last_not_of(' ') + 1);
    };
    const auto capabilities = readCapabilities(scanner);
    if (!s.quiet) {
        err << "Scanner: " << field(8, 8) << " " << field(16, 16) << " " << field(32, 4);
        if (capabilities)
            err << " (" << describe(*capabilities) << ")";
        err << "\n";
    }
    if (capabilities)
        checkRequest(s, *capabilities, field(16, 16));
    scanner.run({0x00, 0, 0, 0, 0, 0}, nullptr, 0, true, "TEST UNIT READY");

    const uint8_t bits = s.gray ? 8 : 24;
    uint8_t window[48] = {};
    putBe16(window + 6, 40);
    putBe16(window + 8 + 2, s.resolution);
    putBe16(window + 8 + 4, s.resolution);
    putBe32(window + 8 + 6, s.left);
    putBe32(window + 8 + 10, s.top);
    putBe32(window + 8 + 14, s.width);
    putBe32(window + 8 + 18, s.length);
    window[8 + 25] = s.gray ? 2 : 5;
    window[8 + 26] = bits;
    scanner.run({0x24, 0, 0, 0, 0, 0, 0, 0, sizeof window, 0}, window, sizeof window, false,
                "SET WINDOW");
    scanner.run({0x1B, 0, 0, 0, 0, 0}, nullptr, 0, false, "SCAN");

    const uint32_t pixels = s.width * s.resolution / kUnitsPerInch;
    const uint32_t lines = s.length * s.resolution / kUnitsPerInch;
    const uint32_t channels = bits / 8;
    const uint32_t bytesPerLine = pixels * channels;
    OutputFile file(s.output);
    auto png = PngWriter::create(file.partial(), pixels, lines, static_cast<int>(channels),
                                 s.resolution);
    if (!png)
        throw ScanError(png.error().text);
    // Two buffers: while one chunk is encoded, the transport fetches the
    // next into the other, so the encoding and the transfer overlap.
    const uint32_t linesPerRead = std::max<uint32_t>(1, kReadChunk / bytesPerLine);
    std::shared_ptr<std::vector<uint8_t>> buffers[2];
    for (auto& b : buffers)
        b = std::make_shared<std::vector<uint8_t>>(static_cast<size_t>(linesPerRead) *
                                                   bytesPerLine);
    const auto read = [&](uint32_t line, const std::shared_ptr<std::vector<uint8_t>>& into) {
        const uint32_t bytes = std::min(linesPerRead, lines - line) * bytesPerLine;
        scanner.submit({0x28, 0, 0, 0, 0, 0, static_cast<uint8_t>(bytes >> 16),
                        static_cast<uint8_t>(bytes >> 8), static_cast<uint8_t>(bytes), 0},
                       into->data(), bytes, true, "READ", false, into);
    };
    int shown = -1;
    read(0, buffers[0]);
    for (uint32_t line = 0, chunk = 0; line < lines; ++chunk) {
        const uint32_t count = std::min(linesPerRead, lines - line);
        scanner.finish();
        const std::vector<uint8_t>& buffer = *buffers[chunk % 2];
        if (line + count < lines)
            read(line + count, buffers[(chunk + 1) % 2]);
        for (uint32_t i = 0; i < count; ++i) {
            if (auto written = (*png)->writeRow(
                    std::span(buffer).subspan(static_cast<size_t>(i) * bytesPerLine, bytesPerLine));
                !written)
                throw ScanError(written.error().text);
        }
        line += count;
        const int percent = static_cast<int>(100ULL * line / lines);
        if (!s.quiet && percent != shown) {
            err << "\rScanning: " << percent << "%" << std::flush;
            shown = percent;
        }
    }
    if (auto finished = (*png)->finish(); !finished)
        throw ScanError(finished.error().text);
    file.keep();
    if (!s.quiet)
        err << "\n";
    out << s.output << ": " << pixels << " x " << lines << " pixels, " << s.resolution
        << " dpi, " << (s.gray ? "8-bit grey" : "24-bit colour") << "\n";
}

} // namespace

int runScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    Settings settings;
    try {
        bool done = false;
        settings = parse(args, out, done);
        if (done)
            return kScanOk;
    } catch (const std::invalid_argument& e) {
        err << "lumarc-scan: " << e.what() << "\n(lumarc-scan --help shows the usage)\n";
        return kScanUsage;
    }
    try {
        scan(settings, out, err);
        return kScanOk;
    } catch (const ScanError& e) {
        err << "\nlumarc-scan: " << e.what() << "\n";
        return kScanFailed;
    }
}

} // namespace lumarc::tools
