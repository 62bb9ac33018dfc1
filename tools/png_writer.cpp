// libpng behind a small interface. libpng reports errors by longjmp, so
// every call into it happens in a function without C++ objects to unwind.
#include "png_writer.h"

#include "platform/error_codes.h"

#include <cerrno>
#include <optional>
#include <vector>
#include <csetjmp>
#include <png.h>
#include <zlib.h>

namespace lumarc::tools {

struct PngWriter::State {
    std::unique_ptr<platform::OutputFile> ownFile; // when the writer made its own
    platform::OutputFile* out = nullptr;
    png_structp png = nullptr;
    png_infop info = nullptr;
    uint32_t rowBytes = 0;
    bool finished = false;
    // libpng hands over small pieces; they leave in large writes.
    std::vector<uint8_t> pending;
    std::optional<Error> writeError;
};

namespace {

constexpr size_t kWriteBuffer = 256 * 1024;

bool flushPending(PngWriter::State& s)
{
    if (s.pending.empty() || s.writeError)
        return !s.writeError;
    if (auto written = s.out->write(s.pending); !written)
        s.writeError = written.error();
    s.pending.clear();
    return !s.writeError;
}

extern "C" void writeData(png_structp png, png_bytep data, png_size_t length)
{
    auto& s = *static_cast<PngWriter::State*>(png_get_io_ptr(png));
    s.pending.insert(s.pending.end(), data, data + length);
    if (s.pending.size() >= kWriteBuffer && !flushPending(s))
        png_error(png, "write failed");
}

extern "C" void flushData(png_structp) {}

// Each returns false when libpng failed.
bool startImage(png_structp png, png_infop info, PngWriter::State* state, uint32_t width,
                uint32_t height, int channels, uint32_t dotsPerInch, const PngEncoding& encoding)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_set_write_fn(png, state, writeData, flushData);
    png_set_IHDR(png, info, width, height, 8, channels == 3 ? PNG_COLOR_TYPE_RGB
                                                             : PNG_COLOR_TYPE_GRAY,
                 PNG_INTERLACE_NONE, PNG_COMPRESSION_TYPE_DEFAULT, PNG_FILTER_TYPE_DEFAULT);
    const auto perMetre = static_cast<png_uint_32>(dotsPerInch * 10000ULL / 254);
    png_set_pHYs(png, info, perMetre, perMetre, PNG_RESOLUTION_METER);
    png_set_filter(png, PNG_FILTER_TYPE_BASE, encoding.filters);
    png_set_compression_level(png, encoding.level);
    png_set_compression_strategy(png, encoding.strategy);
    png_write_info(png, info);
    return true;
}

bool writeOneRow(png_structp png, const uint8_t* row)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_row(png, const_cast<png_bytep>(row));
    return true;
}

bool endImage(png_structp png, png_infop info)
{
    if (setjmp(png_jmpbuf(png)))
        return false;
    png_write_end(png, info);
    return true;
}

} // namespace

// Scanned pages: the Up filter and run-length matching (Z_RLE; the level
// then matters little). Rows of a scan resemble the row above, so Up turns
// paper and flat areas into small numbers and long runs, for one
// subtraction per byte; libpng's own choice per row tries all five filters
// and costs three times as much for a larger file. Measured with
// bench/png_bench on an A4 page at 300 dpi in colour (26 MB), CPU time:
//
//                              test chart             chart with scanner noise
//   all filters, level 1       164 ms, 0.49 %          520 ms, 41 %   (before)
//   all filters, level 6       195 ms, 0.13 %         4119 ms, 35 %   (libpng's default)
//   Up, level 1                 45 ms, 0.50 %          314 ms, 42 %
//   Up, Huffman only           149 ms, 12.8 %          196 ms, 32 %
//   Up, run-length              46 ms, 0.16 %          259 ms, 33 %   (chosen)
//
// Huffman coding alone is faster on noise but makes clean pages eighty
// times larger; run-length matching does well on both.
PngEncoding scannedPageEncoding()
{
    return {PNG_FILTER_UP, 1, Z_RLE};
}

Result<std::unique_ptr<PngWriter>> PngWriter::create(const std::string& path, uint32_t width,
                                                     uint32_t height, int channels,
                                                     uint32_t dotsPerInch,
                                                     const PngEncoding& encoding)
{
    auto file = platform::OutputFile::open(path);
    if (!file)
        return file.error();
    auto own = std::make_unique<platform::OutputFile>(std::move(*file));
    auto writer = create(*own, width, height, channels, dotsPerInch, encoding);
    if (writer)
        (*writer)->m_state->ownFile = std::move(own);
    return writer;
}

Result<std::unique_ptr<PngWriter>> PngWriter::create(platform::OutputFile& out, uint32_t width,
                                                     uint32_t height, int channels,
                                                     uint32_t dotsPerInch,
                                                     const PngEncoding& encoding)
{
    std::unique_ptr<PngWriter> writer(new PngWriter);
    writer->m_state = std::make_unique<State>();
    State& s = *writer->m_state;
    s.out = &out;
    s.rowBytes = width * static_cast<uint32_t>(channels);
    s.pending.reserve(kWriteBuffer + 64 * 1024);
    s.png = png_create_write_struct(PNG_LIBPNG_VER_STRING, nullptr, nullptr, nullptr);
    s.info = s.png != nullptr ? png_create_info_struct(s.png) : nullptr;
    if (s.info == nullptr ||
        !startImage(s.png, s.info, &s, width, height, channels, dotsPerInch, encoding))
        return s.writeError ? *s.writeError
                            : Error{platform::win32::kInvalidData,
                                    "cannot start the PNG image in " + out.path()};
    return writer;
}

PngWriter::~PngWriter()
{
    if (!m_state)
        return;
    if (m_state->png != nullptr)
        png_destroy_write_struct(&m_state->png, m_state->info != nullptr ? &m_state->info : nullptr);
}

Status PngWriter::writeRow(std::span<const uint8_t> row)
{
    if (row.size() != m_state->rowBytes)
        return Error{platform::win32::kInvalidParameter, "PNG row of the wrong size"};
    if (!writeOneRow(m_state->png, row.data()))
        return m_state->writeError.value_or(
            Error{platform::win32::kInvalidData, "libpng could not write a row"});
    return {};
}

Status PngWriter::finish()
{
    if (m_state->finished)
        return {};
    m_state->finished = true;
    if (!endImage(m_state->png, m_state->info) || !flushPending(*m_state))
        return m_state->writeError.value_or(
            Error{platform::win32::kInvalidData, "libpng could not end the image"});
    if (m_state->ownFile)
        return m_state->ownFile->commit();
    return {};
}

} // namespace lumarc::tools
