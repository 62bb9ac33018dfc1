// Conventions shared by the command-line programs.
#include "cli.h"

#include "shared/version.h"

#include <cstdio>
#include <getopt.h>
#include <unistd.h>

namespace lumarc::tools {

const char* const kExitStatusHelp =
    "Exit status: 0 success, 1 failure, 2 a wrong command line, 3 the unit cannot be\n"
    "reached or did not answer in time, 4 the unit refused (wrong PIN or key, busy).\n";

std::string versionLine(std::string_view program)
{
    return std::string(program) + " (Lumarc) " + std::string(shared::kVersion);
}

bool isTerminal(int fd)
{
    return ::isatty(fd) == 1;
}

std::optional<int> helpAndVersionOnly(int argc, char** argv, const char* program,
                                      const char* usage)
{
    static const option kOptions[] = {{"help", no_argument, nullptr, 'h'},
                                      {"version", no_argument, nullptr, 'V'},
                                      {nullptr, 0, nullptr, 0}};
    const auto wrong = [program] {
        std::fprintf(stderr, "Try '%s --help' for more information.\n", program);
        return exit_status::kUsage;
    };
    opterr = 1;
    for (int c; (c = ::getopt_long(argc, argv, "hV", kOptions, nullptr)) != -1;) {
        switch (c) {
        case 'h':
            std::fputs(usage, stdout);
            return exit_status::kOk;
        case 'V':
            std::puts(versionLine(program).c_str());
            return exit_status::kOk;
        default:
            return wrong();
        }
    }
    if (optind < argc) {
        std::fprintf(stderr, "%s: unexpected argument '%s'\n", program, argv[optind]);
        return wrong();
    }
    return std::nullopt;
}

std::string jsonString(std::string_view text)
{
    std::string out = "\"";
    const auto escape = [&](unsigned code) {
        char buffer[8];
        std::snprintf(buffer, sizeof buffer, "\\u%04x", code);
        out += buffer;
    };
    for (size_t i = 0; i < text.size();) {
        const auto c = static_cast<unsigned char>(text[i]);
        if (c < 0x80) {
            if (c == '"' || c == '\\') {
                out += '\\';
                out += static_cast<char>(c);
            } else if (c == '\n') {
                out += "\\n";
            } else if (c == '\t') {
                out += "\\t";
            } else if (c == '\r') {
                out += "\\r";
            } else if (c < 0x20 || c == 0x7F) {
                escape(c);
            } else {
                out += static_cast<char>(c);
            }
            ++i;
            continue;
        }
        // A valid UTF-8 sequence is copied; anything else is one Latin-1
        // character.
        size_t length = c >= 0xF0 && c <= 0xF4 ? 4 : c >= 0xE0 ? 3 : c >= 0xC2 && c <= 0xDF ? 2 : 0;
        if (length != 0 && i + length <= text.size()) {
            uint32_t code = c & (0x7F >> length);
            bool valid = true;
            for (size_t k = 1; k < length && valid; ++k) {
                const auto next = static_cast<unsigned char>(text[i + k]);
                valid = (next & 0xC0) == 0x80;
                code = code << 6 | (next & 0x3F);
            }
            const uint32_t minimum[] = {0, 0, 0x80, 0x800, 0x10000};
            valid = valid && code >= minimum[length] && code <= 0x10FFFF &&
                    !(code >= 0xD800 && code <= 0xDFFF);
            if (valid) {
                out.append(text.substr(i, length));
                i += length;
                continue;
            }
        }
        escape(c);
        ++i;
    }
    return out + "\"";
}

ArgumentVector::ArgumentVector(std::string_view program, const std::vector<std::string>& args)
{
    m_strings.emplace_back(program);
    m_strings.insert(m_strings.end(), args.begin(), args.end());
    for (auto& s : m_strings)
        m_pointers.push_back(s.data());
    m_pointers.push_back(nullptr);
    ::optind = 0; // getopt starts over, GNU style
    ::opterr = 0; // the programs say what is wrong themselves
}

} // namespace lumarc::tools
