// Writing a PNG file line by line (libpng), so a page never has to be held
// in memory whole.
#pragma once

#include "platform/output_file.h"
#include "platform/result.h"

#include <cstdint>
#include <cstdio>
#include <memory>
#include <span>
#include <string>

namespace lumarc::tools {

// How rows are filtered and compressed: libpng's filter bits
// (PNG_FILTER_NONE, _SUB, _UP, _AVG, _PAETH, or several for a choice per
// row), zlib's level and strategy (Z_DEFAULT_STRATEGY, Z_FILTERED, Z_RLE,
// ...).
struct PngEncoding {
    int filters;
    int level;
    int strategy;
};

// The encoding lumarc-scan writes scanned pages with (see png_writer.cpp for
// the measurements behind it).
PngEncoding scannedPageEncoding();

class PngWriter {
public:
    // Writes the header to out: 8-bit RGB (3 channels) or grey (1), with the
    // resolution in pixels per inch. out must outlive the writer; it is
    // committed by its owner after finish().
    static Result<std::unique_ptr<PngWriter>> create(platform::OutputFile& out, uint32_t width,
                                                     uint32_t height, int channels,
                                                     uint32_t dotsPerInch,
                                                     const PngEncoding& encoding =
                                                         scannedPageEncoding());
    // The same into a file of its own, committed by finish().
    static Result<std::unique_ptr<PngWriter>> create(const std::string& path, uint32_t width,
                                                     uint32_t height, int channels,
                                                     uint32_t dotsPerInch,
                                                     const PngEncoding& encoding =
                                                         scannedPageEncoding());
    ~PngWriter();

    // One line of width × channels bytes.
    Status writeRow(std::span<const uint8_t> row);
    // Ends the image; the output is complete only after this.
    Status finish();

    // What libpng's callbacks work on; opaque outside png_writer.cpp.
    struct State;

private:
    PngWriter() = default;
    std::unique_ptr<State> m_state;
};

} // namespace lumarc::tools
