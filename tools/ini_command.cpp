// Parsing and running lumarc-ini command lines.
#include "ini_command.h"

#include "cli.h"

#include "platform/folders.h"
#include "platform/profile.h"
#include "shared/settings_file.h"

#include <charconv>
#include <exception>
#include <istream>
#include <optional>
#include <ostream>

namespace lumarc::tools {
namespace {

constexpr const char* kUsage =
    R"(Usage: lumarc-ini COMMAND FILE ARGUMENTS...

Reads and changes ini files; each change is atomic, so it is safe while the
Lumarc programs run. FILE is a path, or --settings for the shared settings
file, or --launch for the launch settings file.

  get FILE SECTION KEY [DEFAULT] [--capacity N]
        print the value (or DEFAULT), as read into a buffer of N bytes;
        N is 0 to 4194304, the size of the largest file read
  get-int FILE SECTION KEY [DEFAULT]
        print the value read as an integer, as an unsigned 32-bit number
  set FILE SECTION KEY VALUE         write a value
  delete FILE SECTION KEY            remove a key
  erase-section FILE SECTION         remove a section and all its keys
  get-section FILE SECTION           print the section's key=value lines
  set-section FILE SECTION           replace the section with the key=value
                                     lines read from standard input
  -h, --help                         show this help and exit
  -V, --version                      show the version and exit

Options may stand anywhere; "--" ends them, so a value may begin with "-"
(a negative DEFAULT such as -1 needs no "--").

A missing file reads as empty; a file larger than 4 MiB is refused. Exit
status: 0 success, 1 a file could not be read or changed, 2 a wrong command
line.
)";


// No value read from a file of at most kMaxProfileFileSize bytes, nor a
// default on a command line, needs a larger buffer: beyond it --capacity
// would only allocate memory, so a larger number is taken for a typing
// mistake and refused.
constexpr size_t kMaxCapacity = platform::kMaxProfileFileSize;
static_assert(kMaxCapacity == 4194304, "the usage text states the bound");

struct CommandLine {
    std::vector<std::string> words;
    std::optional<size_t> capacity;
    std::optional<std::filesystem::path> file;
    bool sharedFolder = false; // the file lies in the shared settings folder
};

struct CommandArity {
    const char* name;
    size_t minWords; // after the command and the file
    size_t maxWords;
};

constexpr CommandArity kCommands[] = {
    {"get", 2, 3},           {"get-int", 2, 3},     {"set", 3, 3},         {"delete", 2, 2},
    {"erase-section", 1, 1}, {"get-section", 1, 1}, {"set-section", 1, 1},
};

// A decimal number from 0 to limit; nullopt for anything else, a number too
// large for size_t included.
std::optional<size_t> parseSize(const std::string& text, size_t limit)
{
    size_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value > limit)
        return std::nullopt;
    return value;
}

std::optional<int32_t> parseInt32(const std::string& text)
{
    int64_t value = 0;
    const auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (ec != std::errc() || end != text.data() + text.size() || value < INT32_MIN ||
        value > UINT32_MAX)
        return std::nullopt;
    return static_cast<int32_t>(static_cast<uint32_t>(value));
}

int usageError(std::ostream& err, const std::string& message)
{
    err << "lumarc-ini: " << message << "\n(lumarc-ini --help shows the usage)\n";
    return kExitUsage;
}

int readFailure(const Error& error, const std::filesystem::path& file, std::ostream& err)
{
    err << "lumarc-ini: cannot read " << file.string() << ": " << error.text << "\n";
    return kExitFailed;
}

int writeResult(const Status& status, const std::filesystem::path& file, std::ostream& err)
{
    if (status)
        return kExitOk;
    err << "lumarc-ini: cannot change " << file.string() << ": " << status.error().text << "\n";
    return kExitFailed;
}

// key=value lines from standard input; blank lines are skipped.
std::optional<std::vector<platform::ProfileEntry>> readEntries(std::istream& in,
                                                                std::ostream& err)
{
    std::vector<platform::ProfileEntry> entries;
    std::string line;
    for (size_t number = 1; std::getline(in, line); ++number) {
        if (!line.empty() && line.back() == '\r')
            line.pop_back();
        if (platform::trimBlanks(line).empty())
            continue;
        const size_t eq = line.find('=');
        if (eq == std::string::npos) {
            err << "lumarc-ini: standard input line " << number << " has no '='\n";
            return std::nullopt;
        }
        entries.push_back({std::string(platform::trimBlanks(line.substr(0, eq))),
                           std::string(platform::trimBlanks(line.substr(eq + 1)))});
    }
    return entries;
}

int runCommandLine(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                   std::ostream& err)
{
    CommandLine line;
    bool onlyWords = false;
    for (size_t i = 0; i < args.size(); ++i) {
        const std::string& arg = args[i];
        if (onlyWords || arg.size() < 2 || arg.compare(0, 2, "--") != 0) {
            // Everything else is a word, "-1" (a negative default) included.
            line.words.push_back(arg);
        } else if (arg == "--") {
            onlyWords = true;
        } else if (arg == "--help" || arg == "-h") {
            out << kUsage;
            return kExitOk;
        } else if (arg == "--version" || arg == "-V") {
            out << versionLine("lumarc-ini") << "\n";
            return kExitOk;
        } else if (arg == "--settings" || arg == "--launch") {
            if (line.file)
                return usageError(err, "more than one file given");
            line.file = arg == "--settings" ? shared::settingsFilePath() : shared::launchFilePath();
            line.sharedFolder = true;
        } else if (arg == "--capacity" || arg.rfind("--capacity=", 0) == 0) {
            std::string value;
            if (arg == "--capacity") {
                if (i + 1 >= args.size())
                    return usageError(err, "--capacity needs a number");
                value = args[++i];
            } else {
                value = arg.substr(std::string("--capacity=").size());
            }
            line.capacity = parseSize(value, kMaxCapacity);
            if (!line.capacity)
                return usageError(err, "--capacity needs a number from 0 to " +
                                           std::to_string(kMaxCapacity) + ", not '" + value +
                                           "'");
        } else {
            return usageError(err, "unknown option " + arg);
        }
    }
    if (line.words.empty())
        return usageError(err, "no command given");

    const std::string command = line.words.front();
    line.words.erase(line.words.begin());
    const CommandArity* arity = nullptr;
    for (const CommandArity& candidate : kCommands)
        if (command == candidate.name)
            arity = &candidate;
    if (arity == nullptr)
        return usageError(err, "unknown command '" + command + "'");
    if (!line.file) {
        if (line.words.empty())
            return usageError(err, command + ": no file given");
        line.file = line.words.front();
        line.words.erase(line.words.begin());
    }
    if (line.words.size() < arity->minWords || line.words.size() > arity->maxWords)
        return usageError(err, command + ": wrong number of arguments");
    if (line.capacity && command != "get")
        return usageError(err, "--capacity belongs to get");

    platform::Profile profile(*line.file);
    const auto& w = line.words;
    const std::string fallback = w.size() > 2 ? w[2] : "";

    // Reads. Unlike a program, which takes the default, the command says
    // when a file exists but cannot be read (or is too large).
    if (command == "get") {
        const auto doc = profile.readDocument();
        if (!doc)
            return readFailure(doc.error(), *line.file, err);
        if (!line.capacity) {
            out << platform::readStringFrom(*doc, w[0], w[1], fallback) << "\n";
            return kExitOk;
        }
        std::string buffer(*line.capacity, '\0');
        const size_t n =
            platform::readStringFrom(*doc, w[0], w[1], fallback, buffer.data(), buffer.size());
        out << buffer.substr(0, n) << "\n";
        return kExitOk;
    }
    if (command == "get-int") {
        const auto dflt = w.size() > 2 ? parseInt32(w[2]) : std::optional<int32_t>(0);
        if (!dflt)
            return usageError(err, "get-int: the default must be a 32-bit number");
        const auto doc = profile.readDocument();
        if (!doc)
            return readFailure(doc.error(), *line.file, err);
        out << platform::readIntFrom(*doc, w[0], w[1], *dflt) << "\n";
        return kExitOk;
    }
    if (command == "get-section") {
        const auto doc = profile.readDocument();
        if (!doc)
            return readFailure(doc.error(), *line.file, err);
        for (const auto& entry : doc->section(w[0]).value_or(std::vector<platform::ProfileEntry>{}))
            out << entry.key << "=" << entry.value << "\n";
        return kExitOk;
    }

    // Changes. The shared settings folder is created on demand; a folder
    // the user named must exist.
    if (line.sharedFolder) {
        if (auto made = platform::ensureFolder(line.file->parent_path()); !made)
            return writeResult(made, *line.file, err);
    }
    if (command == "set")
        return writeResult(profile.writeString(w[0], w[1], w[2]), *line.file, err);
    if (command == "delete")
        return writeResult(profile.deleteKey(w[0], w[1]), *line.file, err);
    if (command == "erase-section")
        return writeResult(profile.eraseSection(w[0]), *line.file, err);
    // set-section
    const auto entries = readEntries(in, err);
    if (!entries)
        return kExitUsage;
    return writeResult(profile.writeSection(w[0], *entries), *line.file, err);
}

} // namespace

int runIniCommand(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
                  std::ostream& err)
{
    // Nothing above throws by design; should memory run out all the same,
    // the command still ends with a message and a status, not an abort.
    try {
        return runCommandLine(args, in, out, err);
    } catch (const std::exception& e) {
        err << "lumarc-ini: " << e.what() << "\n";
        return kExitFailed;
    }
}

} // namespace lumarc::tools
