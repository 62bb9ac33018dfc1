// lumarc-scan: load the transport, identify the scanner, check the request
// against what it can do, scan, and write the image line by line while the
// next piece is read.
#include "scan_command.h"

#include "cli.h"
#include "png_writer.h"

#include "platform/output_file.h"
#include "shared/scsi_scanner.h"

#include <algorithm>
#include <cstdlib>
#include <getopt.h>
#include <optional>
#include <ostream>
#include <sstream>
#include <unistd.h>

namespace lumarc::tools {
namespace {

constexpr const char* kUsage = R"(Usage: lumarc-scan [OPTION]...
Scans one page from the scanner attached to a Lumarc unit into a PNG image.

  -u, --unit=ADDRESS      the unit: dotted IPv4 or host name ($LUMARC_UNIT)
  -o, --output=FILE       the PNG image to write (default scan.png); "-" is
                          standard output; a FIFO or a device is written into
  -r, --resolution=DPI    50 to 1200 (default 300), within what the scanner
                          offers
      --area=X,Y,W,H      the area in millimetres from the top-left corner
                          (default: the whole A4 page)
  -g, --gray              8-bit grey instead of 24-bit colour
  -q, --quiet             print nothing but errors
  -h, --help              show this help and exit
  -V, --version           show the version and exit

The image takes its name only once the page is complete: a failed or
interrupted scan leaves no partial file and an earlier image of that name
intact. A symbolic link is written through to its target.

)";

struct Settings {
    std::string unit;
    std::string output = "scan.png";
    shared::ScanWindow window;
    bool quiet = false;
};

class UsageError : public std::invalid_argument {
    using std::invalid_argument::invalid_argument;
};

uint32_t millimetres(const std::string& text)
{
    char* end = nullptr;
    const double mm = std::strtod(text.c_str(), &end);
    if (text.empty() || end == text.c_str() || *end != '\0' || !(mm >= 0) || mm > 1000)
        throw UsageError("not a length in millimetres: '" + text + "'");
    return static_cast<uint32_t>(mm * shared::kUnitsPerInch / 25.4 + 0.5);
}

// Whether the name asks for another image format than PNG.
bool namesAnotherFormat(const std::string& path)
{
    const size_t slash = path.find_last_of('/');
    const std::string name = slash == std::string::npos ? path : path.substr(slash + 1);
    const size_t dot = name.find_last_of('.');
    if (dot == std::string::npos || dot == 0)
        return false;
    std::string extension = name.substr(dot + 1);
    std::transform(extension.begin(), extension.end(), extension.begin(),
                   [](unsigned char c) { return static_cast<char>(std::tolower(c)); });
    static const char* const kImages[] = {"jpg", "jpeg", "tif", "tiff", "bmp", "gif", "pnm",
                                          "ppm", "pgm", "pdf", "webp"};
    return std::find(std::begin(kImages), std::end(kImages), extension) != std::end(kImages);
}

// nullopt: help or version was printed.
std::optional<Settings> parse(const std::vector<std::string>& args, std::ostream& out)
{
    static const option kOptions[] = {
        {"unit", required_argument, nullptr, 'u'},   {"output", required_argument, nullptr, 'o'},
        {"resolution", required_argument, nullptr, 'r'}, {"area", required_argument, nullptr, 'a'},
        {"gray", no_argument, nullptr, 'g'},          {"grey", no_argument, nullptr, 'g'},
        {"quiet", no_argument, nullptr, 'q'},         {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},       {nullptr, 0, nullptr, 0}};
    Settings s;
    if (const char* unit = std::getenv("LUMARC_UNIT"))
        s.unit = unit;
    ArgumentVector argv("lumarc-scan", args);
    for (int c; (c = ::getopt_long(argv.argc(), argv.argv(), ":u:o:r:gqhV", kOptions, nullptr)) !=
                -1;) {
        const std::string value = ::optarg != nullptr ? ::optarg : "";
        switch (c) {
        case 'u':
            s.unit = value;
            break;
        case 'o':
            s.output = value;
            break;
        case 'r': {
            char* end = nullptr;
            const long dpi = std::strtol(value.c_str(), &end, 10);
            if (value.empty() || *end != '\0' || dpi < 50 || dpi > 1200)
                throw UsageError("the resolution is 50 to 1200 dpi, not '" + value + "'");
            s.window.resolution = static_cast<uint32_t>(dpi);
            break;
        }
        case 'a': {
            std::stringstream parts(value);
            std::string x, y, w, l;
            std::getline(parts, x, ',');
            std::getline(parts, y, ',');
            std::getline(parts, w, ',');
            std::getline(parts, l);
            s.window.left = millimetres(x);
            s.window.top = millimetres(y);
            s.window.width = millimetres(w);
            s.window.length = millimetres(l);
            if (s.window.width == 0 || s.window.length == 0 ||
                s.window.left + s.window.width > shared::kA4Width ||
                s.window.top + s.window.length > shared::kA4Length)
                throw UsageError("the area must lie within the A4 page (210 x 297 mm)");
            break;
        }
        case 'g':
            s.window.gray = true;
            break;
        case 'q':
            s.quiet = true;
            break;
        case 'h':
            out << kUsage << kExitStatusHelp;
            return std::nullopt;
        case 'V':
            out << versionLine("lumarc-scan") << "\n";
            return std::nullopt;
        case ':':
            throw UsageError(std::string("option ") + argv.argv()[::optind - 1] + " needs a value");
        default:
            throw UsageError(std::string("unknown option ") + argv.argv()[::optind - 1]);
        }
    }
    if (::optind < argv.argc())
        throw UsageError(std::string("unexpected argument '") + argv.argv()[::optind] + "'");
    if (s.unit.empty())
        throw UsageError("no unit given (--unit ADDRESS or $LUMARC_UNIT)");
    if (namesAnotherFormat(s.output))
        throw UsageError("lumarc-scan writes PNG images; " + s.output + " names another format");
    return s;
}

int statusOf(const Error& e)
{
    switch (e.code) {
    case shared::scan_error::kUnreachable:
    case shared::scan_error::kTransport:
        return exit_status::kUnreachable;
    case shared::scan_error::kBusy:
        return exit_status::kRefused;
    default:
        return exit_status::kFailed;
    }
}

int scan(const Settings& s, std::ostream& out, std::ostream& err)
{
    // A step of the scan failed: the status says whether the unit was out
    // of reach, refused, or the scanner failed.
    const auto fail = [&](const Error& e) {
        err << "lumarc-scan: " << e.text << "\n";
        return statusOf(e);
    };
    // Anything else (the output file, the image encoding) is a plain failure.
    const auto failLocally = [&](const Error& e) {
        err << "lumarc-scan: " << e.text << "\n";
        return exit_status::kFailed;
    };
    // The output first: a wrong path is told before the unit is asked.
    auto file = platform::OutputFile::open(s.output);
    if (!file)
        return failLocally(file.error());
    auto connection = shared::ScannerConnection::open(s.unit);
    if (!connection)
        return fail(connection.error());
    shared::ScsiChannel& channel = (*connection)->channel();
    auto identity = shared::readIdentity(channel);
    if (!identity)
        return fail(identity.error());
    const auto capabilities = shared::readCapabilities(channel);
    if (!s.quiet) {
        err << "Scanner: " << identity->vendor << " " << identity->product << " "
            << identity->revision;
        if (capabilities)
            err << " (" << capabilities->describe() << ")";
        err << "\n";
    }
    if (capabilities) {
        if (auto refusal = shared::checkWindow(s.window, *capabilities, identity->product)) {
            if (!s.window.gray && !capabilities->colour && capabilities->grey)
                *refusal += " (--gray scans in grey)";
            return fail(Error{shared::scan_error::kRefused, *refusal});
        }
    }
    if (auto started = shared::startScan(channel, s.window); !started)
        return fail(started.error());

    const shared::ScanWindow& w = s.window;
    auto png = PngWriter::create(*file, w.pixels(), w.lines(), static_cast<int>(w.channels()),
                                 w.resolution);
    if (!png)
        return failLocally(png.error());
    const bool progress = !s.quiet && isTerminal(STDERR_FILENO);
    shared::ImageReader reader(channel, w);
    int shown = -1;
    for (;;) {
        auto piece = reader.next();
        if (!piece)
            return fail(piece.error());
        if (piece->empty())
            break;
        for (size_t at = 0; at < piece->size(); at += w.bytesPerLine())
            if (auto written = (*png)->writeRow(piece->subspan(at, w.bytesPerLine())); !written)
                return failLocally(written.error());
        const int percent = static_cast<int>(100ULL * reader.linesDone() / w.lines());
        if (progress && percent != shown) {
            err << "\rScanning: " << percent << "%" << std::flush;
            shown = percent;
        }
    }
    if (progress)
        err << "\n";
    if (auto finished = (*png)->finish(); !finished)
        return failLocally(finished.error());
    if (auto kept = file->commit(); !kept)
        return failLocally(kept.error());
    if (!s.quiet)
        (file->isStandardOutput() ? err : out)
            << s.output << ": " << w.pixels() << " x " << w.lines() << " pixels, "
            << w.resolution << " dpi, " << (w.gray ? "8-bit grey" : "24-bit colour") << "\n";
    return exit_status::kOk;
}

} // namespace

int runScan(const std::vector<std::string>& args, std::ostream& out, std::ostream& err)
{
    std::optional<Settings> settings;
    try {
        settings = parse(args, out);
    } catch (const std::invalid_argument& e) {
        err << "lumarc-scan: " << e.what() << "\nTry 'lumarc-scan --help' for more information.\n";
        return kScanUsage;
    }
    if (!settings)
        return kScanOk;
    return scan(*settings, out, err);
}

} // namespace lumarc::tools
