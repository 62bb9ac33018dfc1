// PNG encoding of an A4 page at 300 dpi in colour (26 MB of pixels) as
// lumarc-scan writes it, through tools/png_writer, for the row filters, zlib
// levels and strategies worth considering, on two pages: the simulated
// unit's test chart, and the same chart as a scanner sees it on paper
// (sensor noise of up to three levels per channel). bytes_per_second is
// the rate of raw pixel bytes encoded; "size" is the file against the
// pixels.
//
//   png_bench [Google Benchmark options]
#include "tools/png_writer.h"
#include "unitsim/simulated_scanner.h"

#include <benchmark/benchmark.h>

#include <cstdio>
#include <png.h>
#include <string>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>
#include <zlib.h>

namespace {

using lumarc::tools::PngEncoding;
using lumarc::tools::PngWriter;

constexpr uint32_t kPixels = 9921 * 300 / 1200;
constexpr uint32_t kLines = 14031 * 300 / 1200;
constexpr uint32_t kBytesPerLine = kPixels * 3;

enum Page { kChart, kScannedPaper };

const std::vector<uint8_t>& page(Page which)
{
    static const std::vector<uint8_t> chart = [] {
        std::vector<uint8_t> p;
        p.reserve(static_cast<size_t>(kLines) * kBytesPerLine);
        for (uint32_t y = 0; y < kLines; ++y)
            for (uint32_t x = 0; x < kPixels; ++x) {
                const auto rgb = lumarc::unitsim::chartPixel(x * 4, y * 4);
                p.insert(p.end(), rgb.begin(), rgb.end());
            }
        return p;
    }();
    static const std::vector<uint8_t> scanned = [] {
        std::vector<uint8_t> p = chart;
        uint32_t state = 2463534242u; // xorshift: the same noise every run
        for (auto& v : p) {
            state ^= state << 13;
            state ^= state >> 17;
            state ^= state << 5;
            // Two small uniform terms: -3..3, mostly near 0.
            const int noise = static_cast<int>(state & 3) + static_cast<int>(state >> 8 & 3) - 3;
            v = static_cast<uint8_t>(std::clamp(v + noise, 0, 255));
        }
        return p;
    }();
    return which == kChart ? chart : scanned;
}

void encode(benchmark::State& state, Page which, PngEncoding encoding)
{
    const auto& pixels = page(which);
    const std::string path = "/tmp/lumarc-png-bench-" + std::to_string(::getpid()) + ".png";
    for (auto _ : state) {
        auto png = PngWriter::create(path, kPixels, kLines, 3, 300, encoding);
        if (!png) {
            state.SkipWithError("cannot create the PNG");
            return;
        }
        for (uint32_t line = 0; line < kLines; ++line)
            (void)(*png)->writeRow(std::span(pixels).subspan(
                static_cast<size_t>(line) * kBytesPerLine, kBytesPerLine));
        if (!(*png)->finish()) {
            state.SkipWithError("cannot finish the PNG");
            return;
        }
    }
    struct stat st {};
    ::stat(path.c_str(), &st);
    ::unlink(path.c_str());
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * pixels.size()));
    state.counters["size"] = static_cast<double>(st.st_size) / static_cast<double>(pixels.size());
}

struct Choice {
    const char* name;
    PngEncoding encoding;
};

const Choice kChoices[] = {
    {"level1/all-filters/filtered", {PNG_ALL_FILTERS, 1, Z_FILTERED}},
    {"level1/none/default", {PNG_FILTER_NONE, 1, Z_DEFAULT_STRATEGY}},
    {"level1/sub/default", {PNG_FILTER_SUB, 1, Z_DEFAULT_STRATEGY}},
    {"level1/up/default", {PNG_FILTER_UP, 1, Z_DEFAULT_STRATEGY}},
    {"level1/paeth/default", {PNG_FILTER_PAETH, 1, Z_DEFAULT_STRATEGY}},
    {"level1/none/rle", {PNG_FILTER_NONE, 1, Z_RLE}},
    {"level1/sub/rle", {PNG_FILTER_SUB, 1, Z_RLE}},
    {"level1/up/rle", {PNG_FILTER_UP, 1, Z_RLE}},
    {"level1/up/huffman", {PNG_FILTER_UP, 1, Z_HUFFMAN_ONLY}},
    {"level3/up/default", {PNG_FILTER_UP, 3, Z_DEFAULT_STRATEGY}},
    {"level6/all-filters/filtered", {PNG_ALL_FILTERS, 6, Z_FILTERED}},
};

const int kRegistered = [] {
    for (const Page which : {kChart, kScannedPaper})
        for (const Choice& c : kChoices)
            benchmark::RegisterBenchmark(
                (std::string(which == kChart ? "chart/" : "scanned-paper/") + c.name).c_str(),
                [which, c](benchmark::State& s) { encode(s, which, c.encoding); })
                ->Unit(benchmark::kMillisecond)
                ->Iterations(3);
    return 0;
}();

} // namespace

BENCHMARK_MAIN();
