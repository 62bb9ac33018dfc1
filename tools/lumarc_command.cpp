// Parsing and running lumarc command lines over the library's exports.
#include "lumarc_command.h"

#include "cli.h"
#include "event_module_commands.h"
#include "scanner_command.h"
#include "sti_command.h"

#include "mgmt/zorvan.h"
#include "platform/console.h"
#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/memory_block.h"
#include "platform/message_window.h"
#include "platform/output_file.h"
#include "platform/unit_address.h"
#include "shared/settings_file.h"

#include <algorithm>
#include <arpa/inet.h>
#include <cctype>
#include <charconv>
#include <getopt.h>
#include <unistd.h>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <functional>
#include <istream>
#include <map>
#include <optional>
#include <ostream>
#include <set>
#include <sstream>

namespace lumarc::tools {
namespace {

constexpr const char* kAdminName = "root";
constexpr uint32_t kUserDatabaseFile = ZORVAN_USERDB_BUFFER_SIZE;
// The library refuses flash transfers above 16 MiB; a longer file is refused
// here before it is read whole.
constexpr size_t kMaxFlashFile = 16u * 1024 * 1024;

constexpr const char* kUsageHead = R"(Usage: lumarc [OPTION]... COMMAND [ARGUMENT]...
Manages Lumarc units over the network: their settings, users and
administrator PIN, modes, panel, flash memory and operator tests; finds
units, shows button presses, and talks to the event module and the scanner.

Options (anywhere on the line; "--" ends them, so an argument may begin
with "-"):
  -u, --unit=ADDRESS      the unit: dotted IPv4 or host name ($LUMARC_UNIT)
      --pin=PIN           the administrator PIN; "-" reads a line of standard
                          input ($LUMARC_PIN; otherwise asked on the terminal)
      --user-pin=PIN      a user's PIN for user-add and user-modify ("-": read)
      --new-pin=PIN       the new administrator PIN for set-admin-pin ("-":
                          read; on a terminal it is asked twice)
      --host=HOST         the PC that receives a user's button events: IPv4
                          or host name (default: this PC's address)
      --trigger-port=N    with set-name: the port the unit connects back to
                          (2000-60000)
      --key=KEY           with backup and restore: the backup's password ("-":
                          read)
  -t, --timeout=SECONDS   how long to wait for a unit: each reply, a search,
                          an echo (default: [TimeOut] of Quenty.ini; echo 5)
      --count=N           with events: stop after N events
  -j, --json              print JSON (errors too)
  -q, --quiet             print nothing but errors
  -v, --verbose           also print the unit's or the system's numeric code
  -y, --yes               do not ask before destructive commands (restore,
                          flash-write, test init)
      --no-maintenance    do not wrap administrator commands in maintenance
                          mode
  -h, --help              show this help (lumarc help COMMAND: one command's)
  -V, --version           show the version and exit

Commands (A: needs the administrator PIN; FILE "-" is standard input or
output):
)";

struct CommandHelp {
    const char* name;
    const char* synopsis;
    const char* text;
};

constexpr CommandHelp kCommands[] = {
    {"discover", "discover", "list the units that answer a broadcast search"},
    {"events", "events", "print button presses as units report them, until interrupted"},
    {"refresh", "refresh", "ask the running event module to search again; list the units"},
    {"report-error", "report-error CODE-BYTES",
     "send the event module a scanner error report (\"03 80 01 5A\")"},
    {"info", "info", "name, firmware, network settings and scanner"},
    {"name", "name | firmware | netinfo | scaninfo", "one part of info"},
    {"echo", "echo", "ICMP echo; prints the time in milliseconds"},
    {"set-name", "set-name NAME", "(A) rename the unit (1 to 47 bytes)"},
    {"users", "users", "(A) list the registered users"},
    {"user-add", "user-add NAME", "register a user (--user-pin, --host)"},
    {"user-modify", "user-modify NAME", "(A) change a user's PIN and host"},
    {"user-delete", "user-delete NAME", "(A) delete a user"},
    {"backup", "backup FILE", "(A) save the user table (--key), owner-only"},
    {"restore", "restore FILE", "(A) load a saved user table (--key); asks first"},
    {"set-admin-pin", "set-admin-pin", "(A) change the administrator PIN (--new-pin)"},
    {"maintenance", "maintenance on|off", "(A) enter or leave maintenance mode"},
    {"scanner-mode", "scanner-mode on|off", "enter or leave scanner-information mode"},
    {"panel", "panel TEXT", "show a text on the unit's panel (at most 64 bytes)"},
    {"report", "report CODE", "report a launch outcome (0 to 3) to the unit"},
    {"flash-read", "flash-read TARGET LENGTH FILE", "(A) read flash memory, owner-only"},
    {"flash-write", "flash-write TARGET FILE", "(A) write FILE into flash memory; asks first"},
    {"test", "test lcd VALUE | lcd-light VALUE | panel-key KEY | fp-status |\n"
             "       fp-image FILE | fp-sensor FILE | lan-speed BYTES | mode on|off |\n"
             "       init | devinfo HEX24",
     "operator tests (init and devinfo: A; init asks first)"},
    {"sti", "sti list | sti inquiry",
     "the current unit's scanner through the still-image server (COM); -u does not apply"},
    {"scanner", "scanner",
     "the scanner's identification and counters, as the scanner information tool shows them "
     "(without -u: the unit selected in Quenty.ini)"},
    {"help", "help [COMMAND]", "this help, or one command's"},
};

const CommandHelp* findCommand(const std::string& name)
{
    for (const CommandHelp& c : kCommands)
        if (name == c.name)
            return &c;
    // name, firmware, netinfo and scaninfo share a line.
    if (name == "firmware" || name == "netinfo" || name == "scaninfo")
        return findCommand("name");
    return nullptr;
}

std::string usageText()
{
    std::string text = kUsageHead;
    for (const CommandHelp& c : kCommands) {
        std::string line = "  " + std::string(c.synopsis);
        if (line.find('\n') == std::string::npos && line.size() < 30) {
            line.resize(31, ' ');
            text += line + c.text + "\n";
        } else {
            text += line + "\n" + std::string(31, ' ') + c.text + "\n";
        }
    }
    text += "\nPINs and keys are never echoed.\n";
    return text + kExitStatusHelp;
}

std::string commandUsage(const CommandHelp& c)
{
    return "Usage: lumarc [OPTION]... " + std::string(c.synopsis) + "\n" + c.text + "\n";
}

struct Options {
    std::string unit;
    bool unitGiven = false; // by -u or --unit, not by $LUMARC_UNIT
    bool verbose = false;
    bool quiet = false;
    bool yes = false;
    bool timeoutGiven = false;
    std::optional<std::string> pin;
    std::optional<std::string> userPin;
    std::optional<std::string> newPin;
    std::optional<std::string> host;
    std::optional<uint32_t> triggerPort;
    std::optional<std::string> key;
    int32_t timeout = 5;
    std::optional<uint32_t> count;
    bool json = false;
    bool maintenance = true;
    std::vector<std::string> words;
};

class UsageError : public std::runtime_error {
    using std::runtime_error::runtime_error;
};

// Failure with the library's result: printed with its meaning.
struct CommandFailure {
    std::string what;
    uint32_t result;
    std::string hint = {}; // what to change, when only the command knows it
};

// A failure on this PC (a file that cannot be read or written), with the
// system's own text.
struct LocalFailure {
    std::string text;
};


// Text of a fixed-width field: up to the first NUL, never past the width.
std::string fieldText(const char* field, size_t width)
{
    return std::string(field, strnlen(field, width));
}

std::string numberFormAddress(uint32_t value)
{
    char text[16];
    std::snprintf(text, sizeof text, "%u.%u.%u.%u", value >> 24, (value >> 16) & 0xFF,
                  (value >> 8) & 0xFF, value & 0xFF);
    return text;
}

std::string macText(const uint8_t* mac)
{
    char text[18];
    std::snprintf(text, sizeof text, "%02x:%02x:%02x:%02x:%02x:%02x", mac[0], mac[1], mac[2],
                  mac[3], mac[4], mac[5]);
    return text;
}

std::string trimmed(std::string text)
{
    while (!text.empty() && (text.back() == ' ' || text.back() == '\0'))
        text.pop_back();
    return text;
}

uint32_t parseNumber(const std::string& text, const char* what)
{
    uint32_t value = 0;
    int base = 10;
    std::string_view digits = text;
    if (digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X')) {
        base = 16;
        digits.remove_prefix(2);
    }
    const auto [end, ec] = std::from_chars(digits.data(), digits.data() + digits.size(), value, base);
    if (ec != std::errc() || end != digits.data() + digits.size())
        throw UsageError(std::string(what) + " must be a number, not '" + text + "'");
    return value;
}

bool parseOnOff(const std::string& text)
{
    if (text == "on")
        return true;
    if (text == "off")
        return false;
    throw UsageError("expected on or off, not '" + text + "'");
}

uint32_t parseBounded(const std::string& text, const char* what, uint32_t low, uint32_t high)
{
    const uint32_t value = parseNumber(text, what);
    if (value < low || value > high)
        throw UsageError(std::string(what) + " is " + std::to_string(low) + " to " +
                         std::to_string(high) + ", not " + text);
    return value;
}

// A host a unit can send button events to: dotted IPv4, or a host name of
// letters, digits and hyphens in labels of at most 63 characters.
bool validHost(const std::string& host)
{
    if (host.empty() || host.size() > 253)
        return false;
    in_addr address{};
    if (::inet_pton(AF_INET, host.c_str(), &address) == 1)
        return true;
    if (std::all_of(host.begin(), host.end(), [](char c) { return std::isdigit(c) || c == '.'; }))
        return false; // numbers that are no address
    size_t start = 0;
    while (start <= host.size()) {
        const size_t dot = std::min(host.find('.', start), host.size());
        const std::string label = host.substr(start, dot - start);
        if (label.empty() || label.size() > 63 || label.front() == '-' || label.back() == '-' ||
            !std::all_of(label.begin(), label.end(),
                         [](char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '-'; }))
            return false;
        start = dot + 1;
    }
    return true;
}


class Session {
public:
    Session(Options options, std::istream& in, std::ostream& out, std::ostream& err)
        : m_options(std::move(options)), m_in(in), m_out(out), m_err(err)
    {
    }

    int run();

private:
    const std::string& word(size_t index, const char* what)
    {
        if (index >= m_options.words.size())
            throw UsageError(std::string("missing ") + what);
        return m_options.words[index];
    }
    void expectWords(size_t count)
    {
        if (m_options.words.size() != count)
            throw UsageError(m_options.words.front() + ": wrong number of arguments");
    }
    // A secret from its option ("-": the next line of standard input), or
    // the fall-backs.
    std::string secret(const std::optional<std::string>& given, const char* environment,
                       const char* prompt)
    {
        if (given && *given != "-")
            return *given;
        if (given) {
            std::string line;
            if (!std::getline(m_in, line))
                throw UsageError(std::string("standard input ended before the ") + prompt);
            if (!line.empty() && line.back() == '\r')
                line.pop_back();
            return line;
        }
        if (environment != nullptr) {
            if (const char* value = std::getenv(environment))
                return value;
        }
        auto typed = platform::readSecretFromTerminal(std::string(prompt) + ": ");
        if (!typed)
            throw UsageError(std::string("no ") + prompt + " given (use --pin - to read it from "
                                                            "standard input)");
        return *typed;
    }
    const std::string& adminPin()
    {
        if (!m_adminPin)
            m_adminPin = secret(m_options.pin, "LUMARC_PIN", "administrator PIN");
        return *m_adminPin;
    }
    void check(uint32_t result, const std::string& what)
    {
        if (result != 0)
            throw CommandFailure{what, result};
    }
    // Runs an administrator command inside maintenance mode, proved by the
    // administrator PIN, and leaves the mode whatever the command's outcome.
    void asAdministrator(const std::function<void()>& body)
    {
        const std::string& pin = adminPin();
        if (!m_options.maintenance) {
            body();
            return;
        }
        check(Zorvan_MaintenanceMode(unit(), kAdminName, pin.c_str(), 1), "entering maintenance mode");
        try {
            body();
        } catch (...) {
            Zorvan_MaintenanceMode(unit(), kAdminName, pin.c_str(), 0);
            throw;
        }
        check(Zorvan_MaintenanceMode(unit(), kAdminName, pin.c_str(), 0), "leaving maintenance mode");
    }
    const char* unit() const { return m_options.unit.c_str(); }
    const char* host() const { return m_options.host ? m_options.host->c_str() : nullptr; }

    void info(bool name, bool firmware, bool network, bool scanner);
    void discover();
    int events();
    void users();
    void backup(const std::string& file);
    void restore(const std::string& file);
    void flashRead();
    void flashWrite();
    void operatorTest();
    void done(const std::string& text)
    {
        if (m_options.json)
            m_out << "{\"unit\":" << jsonString(m_options.unit) << ",\"ok\":true,\"done\":"
                  << jsonString(text) << "}\n";
        else if (!m_options.quiet)
            m_out << text << "\n";
    }
    // Destructive commands ask first on a terminal; in a script they need
    // --yes.
    void confirm(const std::string& question)
    {
        if (m_options.yes)
            return;
        if (!isTerminal(STDIN_FILENO) || !isTerminal(STDERR_FILENO))
            throw UsageError(question + ": refused without --yes (not asked: no terminal)");
        m_err << "lumarc: " << question << " [y/N] " << std::flush;
        std::string answer;
        if (!std::getline(m_in, answer) || (answer != "y" && answer != "Y" && answer != "yes"))
            throw UsageError("not confirmed; nothing was done");
    }
    // An output named on the command line, opened before the unit is asked
    // so that a wrong path costs nothing; "-" is standard output.
    platform::OutputFile output(const std::string& path, mode_t mode)
    {
        auto file = platform::OutputFile::open(path, mode);
        if (!file)
            throw LocalFailure{file.error().text};
        return std::move(*file);
    }
    void write(platform::OutputFile& file, std::span<const uint8_t> data)
    {
        if (auto written = file.write(data); !written)
            throw LocalFailure{written.error().text};
        if (auto kept = file.commit(); !kept)
            throw LocalFailure{kept.error().text};
    }
    // An input named on the command line; "-" is standard input. At most
    // limit bytes; more is a usage error saying tooLarge.
    std::string input(const std::string& path, size_t limit, const std::string& tooLarge)
    {
        if (path == "-") {
            std::string data(limit + 1, '\0');
            m_in.read(data.data(), static_cast<std::streamsize>(data.size()));
            data.resize(static_cast<size_t>(m_in.gcount()));
            if (data.size() > limit)
                throw UsageError("standard input " + tooLarge);
            return data;
        }
        auto content = platform::readWholeFile(path, limit);
        if (!content && content.error().code == platform::win32::kFileTooLarge)
            throw UsageError(path + " " + tooLarge);
        if (!content)
            throw LocalFailure{content.error().text};
        return std::move(*content);
    }

    Options m_options;
    std::istream& m_in;
    std::ostream& m_out;
    std::ostream& m_err;
    std::optional<std::string> m_adminPin;
};

void Session::info(bool name, bool firmware, bool network, bool scanner)
{
    std::vector<std::pair<std::string, std::string>> rows; // label, JSON value
    std::vector<std::pair<std::string, std::string>> text; // label, human text
    const auto add = [&](const std::string& key, const std::string& label, const std::string& value,
                         bool quoted = true) {
        rows.emplace_back(key, quoted ? jsonString(value) : value);
        text.emplace_back(label, value);
    };
    if (name) {
        UnitNameRecord record{};
        check(Zorvan_GetName(unit(), &record), "reading the unit name");
        add("name", "Name", fieldText(record.name, sizeof record.name));
        add("triggerPort", "Trigger port", std::to_string(record.triggerPort), false);
    }
    if (firmware) {
        char version[ZORVAN_FIRMINFO_SIZE] = {};
        check(Zorvan_GetFirmInfo(unit(), version, 21), "reading the firmware version");
        add("firmware", "Firmware", fieldText(version, sizeof version));
    }
    if (network) {
        NetInfoRecord record{};
        check(Zorvan_GetNetInfo(unit(), &record), "reading the network settings");
        add("address", "Address", platform::addressText(record.address));
        add("subnetMask", "Subnet mask", numberFormAddress(record.subnetMask));
        add("gateway", "Gateway", numberFormAddress(record.gateway));
        add("primaryDns", "Primary DNS", numberFormAddress(record.primaryDns));
        add("secondaryDns", "Secondary DNS", numberFormAddress(record.secondaryDns));
        add("mac", "MAC", macText(record.mac));
    }
    if (scanner) {
        uint32_t word = 0, inquiryLength = 0, secondLength = 0;
        uint8_t inquiry[ZORVAN_INQUIRY_SIZE] = {};
        uint8_t second[ZORVAN_SECOND_BLOCK_SIZE] = {};
        check(Zorvan_GetScanInfo(unit(), &word, &inquiryLength, &secondLength, inquiry, second),
              "reading the scan information");
        if (inquiryLength >= 36) {
            const auto field = [&](size_t at, size_t width) {
                return trimmed(std::string(reinterpret_cast<char*>(inquiry + at), width));
            };
            add("scannerVendor", "Scanner vendor", field(8, 8));
            add("scannerProduct", "Scanner", field(16, 16));
            add("scannerRevision", "Scanner revision", field(32, 4));
        } else {
            add("scannerProduct", "Scanner", "none");
        }
    }
    if (m_options.json) {
        m_out << "{\"unit\":" << jsonString(m_options.unit);
        for (const auto& [key, value] : rows)
            m_out << "," << jsonString(key) << ":" << value;
        m_out << "}\n";
        return;
    }
    m_out << "Unit " << m_options.unit << "\n";
    for (const auto& [label, value] : text) {
        std::string padded = "  " + label + ":";
        padded.resize(std::max<size_t>(padded.size() + 1, 20), ' ');
        m_out << padded << value << "\n";
    }
}

void Session::users()
{
    std::vector<uint8_t> list(ZORVAN_USERLIST_SIZE, 0);
    asAdministrator([&] {
        check(Zorvan_GetUserList(unit(), kAdminName, adminPin().c_str(), list.data()),
              "reading the user list");
    });
    if (m_options.json)
        m_out << "[";
    bool first = true;
    for (size_t slot = 0; slot < ZORVAN_USER_SLOTS; ++slot) {
        const char* record = reinterpret_cast<const char*>(list.data()) + slot * ZORVAN_USER_RECORD_SIZE;
        const std::string name = fieldText(record, 32);
        const std::string userHost = fieldText(record + 32, 256);
        if (name.empty())
            continue;
        if (m_options.json) {
            m_out << (first ? "" : ",") << "{\"slot\":" << slot + 1 << ",\"name\":" << jsonString(name)
                  << ",\"host\":" << jsonString(userHost) << "}";
        } else {
            char line[400];
            std::snprintf(line, sizeof line, "%2zu  %-20s  %s\n", slot + 1, name.c_str(),
                          userHost.c_str());
            m_out << line;
        }
        first = false;
    }
    if (m_options.json)
        m_out << "]\n";
    else if (first)
        m_out << "(no users)\n";
}

void Session::backup(const std::string& file)
{
    if (!m_options.key)
        throw UsageError("backup needs --key");
    // Standard input gives the administrator PIN first, then the key.
    (void)adminPin();
    const std::string key = secret(m_options.key, nullptr, "backup key");
    // A backup holds every user's PIN: owner-only, and the output first.
    auto out = output(file, 0600);
    std::vector<uint8_t> block(kUserDatabaseFile, 0);
    asAdministrator([&] {
        check(Zorvan_GetAllUser(unit(), kAdminName, adminPin().c_str(), key.c_str(), block.data(),
                                kUserDatabaseFile),
              "reading the user table");
    });
    write(out, block);
    done("saved the user table to " + file);
}

void Session::restore(const std::string& file)
{
    if (!m_options.key)
        throw UsageError("restore needs --key");
    // A backup is exactly one block; reading stops one byte past it, so a
    // device or an endless pipe is refused as quickly as a wrong file.
    const std::string expected = std::to_string(kUserDatabaseFile) + " bytes";
    const std::string content = input(file, kUserDatabaseFile,
                                      "is not a user table backup (more than " + expected +
                                          ", expected " + expected + ")");
    if (content.size() != kUserDatabaseFile)
        throw UsageError(file + " is not a user table backup (" + std::to_string(content.size()) +
                         " bytes, expected " + std::to_string(kUserDatabaseFile) + " bytes)");
    (void)adminPin();
    const std::string key = secret(m_options.key, nullptr, "backup key");
    confirm("replace every user of " + m_options.unit + " with those of " + file + "?");
    asAdministrator([&] {
        check(Zorvan_PutAllUser(unit(), kAdminName, adminPin().c_str(), key.c_str(),
                                reinterpret_cast<const uint8_t*>(content.data()), kUserDatabaseFile),
              "restoring the user table");
    });
    done("restored the user table from " + file);
}

void Session::flashRead()
{
    expectWords(4);
    const uint32_t target = parseNumber(word(1, "TARGET"), "TARGET");
    const uint32_t length = parseNumber(word(2, "LENGTH"), "LENGTH");
    if (length == 0 || length > kMaxFlashFile)
        throw UsageError("LENGTH is 1 to " + std::to_string(kMaxFlashFile) + " bytes");
    auto out = output(word(3, "FILE"), 0600);
    std::vector<uint8_t> data(length, 0);
    asAdministrator([&] {
        check(Zorvan_ReadFlash(unit(), kAdminName, adminPin().c_str(), target, length, data.data()),
              "reading flash memory");
    });
    write(out, data);
    done("read " + std::to_string(length) + " bytes");
}

void Session::flashWrite()
{
    expectWords(3);
    const uint32_t target = parseNumber(word(1, "TARGET"), "TARGET");
    const std::string content =
        input(word(2, "FILE"), kMaxFlashFile,
              "holds more than " + std::to_string(kMaxFlashFile) + " bytes, more than one flash "
              "write carries");
    if (content.empty())
        throw UsageError(word(2, "FILE") + " is empty");
    confirm("write " + std::to_string(content.size()) + " bytes into the flash memory of " +
            m_options.unit + "?");
    asAdministrator([&] {
        check(Zorvan_WriteFlash(unit(), kAdminName, adminPin().c_str(), target,
                                static_cast<uint32_t>(content.size()),
                                reinterpret_cast<const uint8_t*>(content.data())),
              "writing flash memory");
    });
    done("wrote " + std::to_string(content.size()) + " bytes");
}

void Session::operatorTest()
{
    const std::string& test = word(1, "the test's name");
    // The output is opened before the unit is asked.
    std::optional<platform::OutputFile> out;
    if (test == "fp-image" || test == "fp-sensor")
        out.emplace(output(word(2, "FILE"), 0666));
    const auto saveTo = [&](const std::vector<uint8_t>& data) { write(*out, data); };
    if (test == "lcd") {
        std::vector<uint32_t> values(ZORVAN_LCD_VALUES, parseNumber(word(2, "VALUE"), "VALUE"));
        check(Zorvan_OT_LcdTest(unit(), values.data()), "the display test");
        done("display test sent");
    } else if (test == "lcd-light") {
        check(Zorvan_OT_LcdLightTest(unit(), parseNumber(word(2, "VALUE"), "VALUE")), "the backlight test");
        done("backlight test sent");
    } else if (test == "panel-key") {
        uint8_t key = 0;
        check(Zorvan_OT_OpepaneTest(unit(), parseNumber(word(2, "KEY"), "KEY"), &key), "the panel test");
        if (m_options.json)
            m_out << "{\"key\":" << static_cast<int>(key) << "}\n";
        else
            m_out << "key " << static_cast<int>(key) << "\n";
    } else if (test == "fp-status") {
        check(Zorvan_OT_FpStatus(unit()), "the front-panel status");
        done("front panel ready");
    } else if (test == "fp-image") {
        std::vector<uint8_t> image(ZORVAN_FP_IMAGE_SIZE, 0);
        check(Zorvan_OT_GetFpImage(unit(), image.data()), "reading the front-panel image");
        saveTo(image);
        done("saved " + std::to_string(image.size()) + " bytes");
    } else if (test == "fp-sensor") {
        std::vector<uint8_t> data(ZORVAN_FP_SNSTEST_SIZE, 0);
        check(Zorvan_OT_GetFpSnsTest(unit(), data.data()), "reading the sensor test");
        saveTo(data);
        done("saved " + std::to_string(data.size()) + " bytes");
    } else if (test == "lan-speed") {
        const uint32_t bytes = parseNumber(word(2, "BYTES"), "BYTES");
        std::vector<uint8_t> data(bytes, 0x55);
        int32_t ms = 0;
        check(Zorvan_OT_LanSpeed(unit(), bytes, data.data(), &ms), "the network speed test");
        if (m_options.json)
            m_out << "{\"bytes\":" << bytes << ",\"milliseconds\":" << ms << "}\n";
        else
            m_out << bytes << " bytes there and back in " << ms << " ms\n";
    } else if (test == "mode") {
        check(Zorvan_OT_SetTestMode(unit(), parseOnOff(word(2, "on or off")) ? 1 : 0), "the test mode");
        done("test mode changed");
    } else if (test == "init") {
        confirm("reset " + m_options.unit + " to its factory settings?");
        check(Zorvan_OT_InitDevice(unit(), kAdminName, adminPin().c_str()), "initialising the device");
        done("device initialised");
    } else if (test == "devinfo") {
        const std::string& hex = word(2, "HEX24");
        if (hex.size() != 24)
            throw UsageError("devinfo needs 24 hexadecimal digits");
        uint8_t data[ZORVAN_DEVINFO_SIZE];
        for (size_t i = 0; i < ZORVAN_DEVINFO_SIZE; ++i)
            data[i] = static_cast<uint8_t>(parseNumber("0x" + hex.substr(2 * i, 2), "HEX24"));
        check(Zorvan_OT_Devinfo(unit(), kAdminName, adminPin().c_str(), data), "writing the device information");
        done("device information written");
    } else {
        throw UsageError("unknown test '" + test + "'");
    }
}

void Session::discover()
{
    if (!m_options.json && !m_options.quiet && isTerminal(STDERR_FILENO)) {
        const uint32_t seconds = m_options.timeoutGiven
                                     ? static_cast<uint32_t>(m_options.timeout)
                                     : shared::SettingsFile().searchBoxSeconds();
        m_err << "lumarc: searching for Lumarc units for at least " << seconds << " s...\n"
              << std::flush;
    }
    UnitNode* head = Zorvan_SearchBoxAll();
    if (head == nullptr)
        throw CommandFailure{"searching for units", ZORVAN_E_EXCHANGE};
    if (m_options.json)
        m_out << "[";
    else
        m_out << "ADDRESS          NAME                           MAC                BUSY  SCANNER\n";
    bool first = true;
    for (const UnitNode* node = head; node != nullptr && node->address != 0; node = node->next) {
        const std::string address = numberFormAddress(node->address);
        const std::string name = fieldText(node->name, sizeof node->name);
        const std::string scanner =
            node->scannerPresent != 0
                ? trimmed(std::string(reinterpret_cast<const char*>(node->inquiry + 16), 15))
                : std::string();
        if (m_options.json) {
            m_out << (first ? "" : ",") << "{\"address\":" << jsonString(address)
                  << ",\"name\":" << jsonString(name) << ",\"mac\":" << jsonString(macText(node->mac))
                  << ",\"busy\":" << (node->busy != 0 ? "true" : "false")
                  << ",\"scanner\":" << jsonString(scanner) << "}";
        } else {
            char line[256];
            std::snprintf(line, sizeof line, "%-16s %-30s %-18s %-5s %s\n", address.c_str(),
                          name.c_str(), macText(node->mac).c_str(), node->busy != 0 ? "yes" : "no",
                          scanner.empty() ? "-" : scanner.c_str());
            m_out << line;
        }
        first = false;
    }
    Zorvan_FreeSearchBoxAll(head);
    if (m_options.json)
        m_out << "]\n";
    else if (first)
        m_out << "(no unit answered)\n";
}

// Set by SIGINT and SIGTERM while events run.
volatile std::sig_atomic_t g_interrupted = 0;

std::string buttonText(uint32_t flags)
{
    if ((flags & 0x100) != 0)
        return "Scan";
    if ((flags & 0x400) != 0)
        return "Send-to " + std::to_string(flags & 0xF);
    char text[32];
    std::snprintf(text, sizeof text, "flags 0x%X", flags);
    return text;
}

int Session::events()
{
    constexpr uint32_t kNotification = 0x8001;
    constexpr uintptr_t kCheckTimer = 1;
    uint32_t seen = 0;
    const auto procedure = [&](platform::WindowHandle, uint32_t message, uintptr_t wParam,
                               intptr_t lParam) -> intptr_t {
        if (message == platform::wm::kTimer && g_interrupted != 0) {
            platform::postQuitMessage(0);
        } else if (message == kNotification) {
            auto block = reinterpret_cast<platform::MemoryHandle>(lParam);
            const auto* event = static_cast<const ButtonEvent*>(platform::globalLock(block));
            if (event != nullptr) {
                const std::string unit = platform::addressText(event->address);
                const std::string user = fieldText(event->userName, sizeof event->userName);
                const std::string scanner =
                    fieldText(event->scannerModel, sizeof event->scannerModel);
                if (m_options.json) {
                    m_out << "{\"unit\":" << jsonString(unit) << ",\"kind\":" << wParam
                          << ",\"flags\":" << event->flags
                          << ",\"button\":" << jsonString(buttonText(event->flags))
                          << ",\"user\":" << jsonString(user)
                          << ",\"scanner\":" << jsonString(scanner) << "}\n";
                } else {
                    m_out << unit << "  " << buttonText(event->flags)
                          << (wParam == 1 ? "" : " (other event)") << "  user " << user
                          << "  scanner " << (scanner.empty() ? "unknown" : scanner) << "\n";
                }
                m_out.flush();
            }
            platform::globalFree(block); // the receiver owns the block
            if (m_options.count && ++seen >= *m_options.count)
                platform::postQuitMessage(0);
        }
        return 0;
    };
    auto window = platform::createWindow(procedure);
    if (!window)
        throw CommandFailure{"creating the event window", window.error().code};
    const int32_t started = Zorvan_Startup(*window, kNotification);
    if (started != 0) {
        (void)platform::destroyWindow(*window);
        if (started == 10048) {
            const std::string port = std::to_string(shared::SettingsFile().trgPort());
            throw CommandFailure{"opening the trigger port " + port, 10048,
                                 "port " + port +
                                     " is taken (is kicklet running?); set another with "
                                     "`lumarc-ini set --settings Common TrgPort N` and on the "
                                     "units with `lumarc set-name NAME --trigger-port N`"};
        }
        throw CommandFailure{"starting the listener", static_cast<uint32_t>(started)};
    }
    struct sigaction action {}, oldInt {}, oldTerm {};
    action.sa_handler = [](int) { g_interrupted = 1; };
    ::sigaction(SIGINT, &action, &oldInt);
    ::sigaction(SIGTERM, &action, &oldTerm);
    g_interrupted = 0;
    (void)platform::setTimer(*window, kCheckTimer, std::chrono::milliseconds(100));
    if (!m_options.json)
        std::fprintf(stderr, "lumarc: waiting for button events (Ctrl-C ends)\n");
    platform::Message message;
    while (platform::getMessage(message))
        platform::dispatchMessage(message);
    ::sigaction(SIGINT, &oldInt, nullptr);
    ::sigaction(SIGTERM, &oldTerm, nullptr);
    Zorvan_Cleanup();
    (void)platform::destroyWindow(*window);
    return kLumarcOk;
}

int Session::run()
{
    const std::string& command = m_options.words.front();
    // A name is refused, not cut, when it does not fit its field.
    if (command == "user-add" || command == "user-modify" || command == "user-delete") {
        const std::string& name = word(1, "NAME");
        if (name.empty() || name.size() > 31)
            throw UsageError("a user name has 1 to 31 bytes");
    }
    if (command == "discover") {
        expectWords(1);
        discover();
    } else if (command == "events") {
        expectWords(1);
        return events();
    } else if (command == "refresh") {
        expectWords(1);
        return refreshUnits(m_options.json, m_out, m_err);
    } else if (command == "report-error") {
        expectWords(2);
        const auto bytes = parseCodeBytes(word(1, "CODE-BYTES"));
        if (!bytes)
            throw UsageError("CODE-BYTES must be four hexadecimal bytes, as in \"03 80 01 5A\"");
        return reportScannerError(*bytes, m_out, m_err);
    } else if (command == "info" || command == "name" || command == "firmware" || command == "netinfo" ||
        command == "scaninfo") {
        expectWords(1);
        const bool all = command == "info";
        info(all || command == "name", all || command == "firmware", all || command == "netinfo",
             all || command == "scaninfo");
    } else if (command == "echo") {
        expectWords(1);
        int32_t time = m_options.timeout;
        const uint32_t result = Zorvan_EchoRequests(unit(), &time);
        if (result == 1)
            throw CommandFailure{"echo", result};
        check(result, "echo");
        if (m_options.json)
            m_out << "{\"milliseconds\":" << time << "}\n";
        else
            m_out << "reply from " << m_options.unit << " in " << time << " ms\n";
    } else if (command == "set-name") {
        expectWords(2);
        const std::string& name = word(1, "NAME");
        if (name.empty() || name.size() >= sizeof(UnitNameRecord::name))
            throw UsageError("a unit name has 1 to 47 bytes");
        asAdministrator([&] {
            UnitNameRecord record{};
            if (m_options.triggerPort) {
                record.triggerPort = *m_options.triggerPort;
            } else {
                check(Zorvan_GetName(unit(), &record), "reading the unit name");
            }
            std::memset(record.name, 0, sizeof record.name);
            std::memcpy(record.name, name.data(), name.size());
            check(Zorvan_SetName(unit(), kAdminName, adminPin().c_str(), &record), "renaming the unit");
        });
        done("renamed the unit to " + name);
    } else if (command == "users") {
        expectWords(1);
        users();
    } else if (command == "user-add") {
        expectWords(2);
        const std::string pin = secret(m_options.userPin, nullptr, "user PIN");
        check(Zorvan_UserEntry(unit(), word(1, "NAME").c_str(), pin.c_str(), nullptr, host(), 0),
              "registering " + word(1, "NAME"));
        done("registered " + word(1, "NAME"));
    } else if (command == "user-modify") {
        expectWords(2);
        const std::string& admin = adminPin();
        const std::string pin = secret(m_options.userPin, nullptr, "new user PIN");
        asAdministrator([&] {
            check(Zorvan_AdminUserEntry(unit(), word(1, "NAME").c_str(), pin.c_str(), host(),
                                        kAdminName, admin.c_str(), 1),
                  "changing " + word(1, "NAME"));
        });
        done("changed " + word(1, "NAME"));
    } else if (command == "user-delete") {
        expectWords(2);
        asAdministrator([&] {
            check(Zorvan_AdminUserEntry(unit(), word(1, "NAME").c_str(), "", host(), kAdminName,
                                        adminPin().c_str(), 2),
                  "deleting " + word(1, "NAME"));
        });
        done("deleted " + word(1, "NAME"));
    } else if (command == "backup") {
        expectWords(2);
        backup(word(1, "FILE"));
    } else if (command == "restore") {
        expectWords(2);
        restore(word(1, "FILE"));
    } else if (command == "set-admin-pin") {
        expectWords(1);
        const std::string& old = adminPin();
        const std::string fresh = secret(m_options.newPin, nullptr, "new administrator PIN");
        if (!m_options.newPin && secret(std::nullopt, nullptr, "new administrator PIN again") != fresh)
            throw UsageError("the two new PINs differ; nothing was changed");
        if (fresh.empty() || fresh.size() >= 32)
            throw UsageError("an administrator PIN has 1 to 31 characters");
        asAdministrator([&] {
            check(Zorvan_SetAdmin(unit(), kAdminName, old.c_str(), kAdminName, fresh.c_str()),
                  "changing the administrator PIN");
            m_adminPin = fresh; // maintenance mode is left with the new PIN
        });
        done("changed the administrator PIN");
    } else if (command == "maintenance") {
        expectWords(2);
        const bool on = parseOnOff(word(1, "on or off"));
        check(Zorvan_MaintenanceMode(unit(), kAdminName, adminPin().c_str(), on ? 1 : 0),
              on ? "entering maintenance mode" : "leaving maintenance mode");
        done(on ? "maintenance mode on" : "maintenance mode off");
    } else if (command == "scanner-mode") {
        expectWords(2);
        const bool on = parseOnOff(word(1, "on or off"));
        check(Zorvan_ScannerInfoMode(unit(), on ? 1 : 0), "changing scanner-information mode");
        done(on ? "scanner-information mode on" : "scanner-information mode off");
    } else if (command == "panel") {
        expectWords(2);
        const std::string& text = word(1, "TEXT");
        if (text.size() > 64)
            throw UsageError("a panel text has at most 64 bytes");
        check(Zorvan_SendMsg(unit(), 0, text.c_str(), static_cast<uint32_t>(text.size())),
              "sending the panel text");
        done("panel text sent");
    } else if (command == "report") {
        expectWords(2);
        check(Zorvan_Apl_Report(unit(), parseBounded(word(1, "CODE"), "CODE", 0, 3)),
              "sending the report");
        done("report sent");
    } else if (command == "flash-read") {
        flashRead();
    } else if (command == "flash-write") {
        flashWrite();
    } else if (command == "test") {
        operatorTest();
    } else {
        throw UsageError("unknown command '" + command + "'");
    }
    return kLumarcOk;
}

// Options that take a value.
} // namespace

std::string describeResult(uint32_t result)
{
    switch (result) {
    case 0:
        return "success";
    case ZORVAN_UNRESOLVABLE:
        return "the unit address does not resolve (or no reply to the echo)";
    case ZORVAN_E_EXCHANGE:
        return "the exchange with the unit failed (refused, cut short or timed out)";
    case ZORVAN_E_NO_HOSTNAME:
        return "this PC's host name cannot be read";
    case ZORVAN_E_HOSTNAME_UNRESOLVED:
        return "this PC's host name does not resolve";
    case ZORVAN_STATUS_TABLE_FULL:
        return "the user table is full";
    case ZORVAN_STATUS_NAME_TAKEN:
        return "the name is already registered";
    case 0x82:
        return "no such user";
    case ZORVAN_STATUS_WRONG_PIN:
        return "wrong PIN";
    case 0x85:
        return "wrong backup key";
    case 0x90:
        return "the unit found a checksum error";
    case 0x91:
        return "outside the unit's flash memory";
    case ZORVAN_STATUS_IN_MAINTENANCE:
        return "the unit is already in maintenance mode";
    case ZORVAN_STATUS_TIMEOUT:
        return "the unit's session timed out";
    case ZORVAN_STATUS_BUSY:
        return "the unit is busy";
    case 10093:
        return "the library was not started";
    default:
        break;
    }
    if (result >= 10000 && result < 12000)
        return platform::systemMessage(result);
    if (result < 10000 && platform::errnoFromCode(result) != 0)
        return platform::systemMessage(result);
    char text[48];
    std::snprintf(text, sizeof text, "unit status 0x%X", result);
    return text;
}

namespace {

// The exit status for a library result: the unit out of reach, the unit
// refusing, or another failure.
int statusFor(uint32_t result)
{
    switch (result) {
    case ZORVAN_UNRESOLVABLE:
    case ZORVAN_E_EXCHANGE:
    case ZORVAN_STATUS_TIMEOUT:
    case 10050: // network down
    case 10051: // network unreachable
    case 10060: // timed out
    case 10061: // refused
    case 10064: // host down
    case 10065: // host unreachable
        return exit_status::kUnreachable;
    case ZORVAN_STATUS_WRONG_PIN:
    case 0x85: // wrong backup key
    case ZORVAN_STATUS_IN_MAINTENANCE:
    case ZORVAN_STATUS_BUSY:
        return exit_status::kRefused;
    default:
        return exit_status::kFailed;
    }
}

// What to change when the unit cannot be reached or refuses.
std::string hintFor(uint32_t result, const std::string& unit)
{
    switch (result) {
    case ZORVAN_UNRESOLVABLE:
        return "check the address " + unit + " (lumarc discover lists the units that answer)";
    case ZORVAN_E_EXCHANGE:
    case 10060:
    case 10061:
    case 10065:
        return "is " + unit + " a Lumarc unit, switched on and on this network? "
                              "(lumarc discover lists the units that answer)";
    case ZORVAN_STATUS_WRONG_PIN:
        return "give the right PIN with --pin, $LUMARC_PIN or on the terminal";
    case ZORVAN_STATUS_IN_MAINTENANCE:
        return "someone else is changing the unit; try again when they are done";
    default:
        return {};
    }
}

void reportFailure(const std::string& what, uint32_t result, const Options& options,
                   std::ostream& out, std::ostream& err, const std::string& commandHint = {})
{
    char hex[16];
    std::snprintf(hex, sizeof hex, "0x%08X", result);
    const std::string meaning = describeResult(result);
    if (options.json) {
        out << "{\"unit\":" << jsonString(options.unit) << ",\"error\":" << jsonString(what)
            << ",\"reason\":" << jsonString(meaning) << ",\"code\":" << jsonString(hex) << "}\n";
        return;
    }
    err << "lumarc: " << what << ": " << meaning;
    if (options.verbose)
        err << " (" << hex << ")";
    err << "\n";
    if (const std::string hint = commandHint.empty() ? hintFor(result, options.unit) : commandHint;
        !hint.empty())
        err << "lumarc: " << hint << "\n";
}

int usageFailure(const std::string& message, bool json, std::ostream& out, std::ostream& err)
{
    if (json)
        out << "{\"error\":" << jsonString(message) << ",\"usage\":true}\n";
    else
        err << "lumarc: " << message << "\nTry 'lumarc --help' for more information.\n";
    return exit_status::kUsage;
}

} // namespace

int runLumarc(const std::vector<std::string>& args, std::istream& in, std::ostream& out,
              std::ostream& err)
{
    enum LongOnly { kPin = 1000, kUserPin, kNewPin, kHost, kTriggerPort, kKey, kCount, kNoMaintenance };
    static const option kOptions[] = {
        {"unit", required_argument, nullptr, 'u'},
        {"pin", required_argument, nullptr, kPin},
        {"user-pin", required_argument, nullptr, kUserPin},
        {"new-pin", required_argument, nullptr, kNewPin},
        {"host", required_argument, nullptr, kHost},
        {"trigger-port", required_argument, nullptr, kTriggerPort},
        {"key", required_argument, nullptr, kKey},
        {"timeout", required_argument, nullptr, 't'},
        {"count", required_argument, nullptr, kCount},
        {"json", no_argument, nullptr, 'j'},
        {"quiet", no_argument, nullptr, 'q'},
        {"verbose", no_argument, nullptr, 'v'},
        {"yes", no_argument, nullptr, 'y'},
        {"no-maintenance", no_argument, nullptr, kNoMaintenance},
        {"help", no_argument, nullptr, 'h'},
        {"version", no_argument, nullptr, 'V'},
        {nullptr, 0, nullptr, 0}};
    Options options;
    if (const char* unit = std::getenv("LUMARC_UNIT"))
        options.unit = unit;
    bool help = false;
    try {
        ArgumentVector argv("lumarc", args);
        for (int c; (c = ::getopt_long(argv.argc(), argv.argv(), ":u:t:jqvyhV", kOptions,
                                       nullptr)) != -1;) {
            const std::string value = ::optarg != nullptr ? ::optarg : "";
            switch (c) {
            case 'u':
                options.unit = value;
                options.unitGiven = true;
                break;
            case kPin:
                options.pin = value;
                break;
            case kUserPin:
                options.userPin = value;
                break;
            case kNewPin:
                options.newPin = value;
                break;
            case kHost:
                if (!validHost(value))
                    throw UsageError("--host takes an IPv4 address or a host name, not '" + value +
                                     "'");
                options.host = value;
                break;
            case kTriggerPort:
                options.triggerPort = parseBounded(value, "--trigger-port", shared::kTrgPortMin,
                                                   shared::kTrgPortMax);
                break;
            case kKey:
                options.key = value;
                break;
            case 't':
                options.timeout = static_cast<int32_t>(parseBounded(value, "--timeout", 1, 3600));
                options.timeoutGiven = true;
                break;
            case kCount:
                options.count = parseBounded(value, "--count", 1, UINT32_MAX);
                break;
            case 'j':
                options.json = true;
                break;
            case 'q':
                options.quiet = true;
                break;
            case 'v':
                options.verbose = true;
                break;
            case 'y':
                options.yes = true;
                break;
            case kNoMaintenance:
                options.maintenance = false;
                break;
            case 'h':
                help = true;
                break;
            case 'V':
                out << versionLine("lumarc") << "\n";
                return exit_status::kOk;
            case ':':
                throw UsageError(std::string("option ") + argv.argv()[::optind - 1] +
                                 " needs a value");
            default:
                throw UsageError(std::string("unknown option ") + argv.argv()[::optind - 1]);
            }
        }
        for (int i = ::optind; i < argv.argc(); ++i)
            options.words.emplace_back(argv.argv()[i]);
        // lumarc help [COMMAND], lumarc COMMAND --help
        if (!options.words.empty() && options.words.front() == "help") {
            help = true;
            options.words.erase(options.words.begin());
        }
        if (help) {
            if (options.words.empty()) {
                out << usageText();
                return exit_status::kOk;
            }
            const CommandHelp* command = findCommand(options.words.front());
            if (command == nullptr)
                throw UsageError("no command '" + options.words.front() + "'");
            out << commandUsage(*command);
            return exit_status::kOk;
        }
        if (options.words.empty())
            throw UsageError("no command given");
        if (findCommand(options.words.front()) == nullptr)
            throw UsageError("no command '" + options.words.front() + "'");
        if (options.words.front() == "sti" && options.unitGiven)
            throw UsageError("sti serves the current unit of the shared settings file; -u does "
                             "not apply");
        static const std::set<std::string> kWithoutUnit = {"discover", "events", "refresh",
                                                           "report-error", "sti", "scanner"};
        if (options.words.front() == "scanner" && options.words.size() != 1)
            throw UsageError("scanner takes no arguments");
        const bool needsUnit = !kWithoutUnit.contains(options.words.front());
        if (needsUnit && options.unit.empty())
            throw UsageError("no unit given (--unit ADDRESS or $LUMARC_UNIT)");
    } catch (const UsageError& e) {
        return usageFailure(e.what(), options.json, out, err);
    }

    // The still-image server needs no management library.
    if (options.words.front() == "sti")
        return runSti(options.words, options.json, out, err);
    // Only -u names the unit here; without it the selected unit is served.
    if (options.words.front() == "scanner")
        return runScanner(options.unitGiven ? options.unit : std::string(), options.json, out, err);

    // --timeout bounds every wait of the library: each reply and a search.
    if (options.timeoutGiven)
        ::setenv("LUMARC_TIMEOUT", std::to_string(options.timeout).c_str(), 1);
    if (const int32_t started = Zorvan_Startup(0, 0); started != 0) {
        reportFailure("starting the management library", static_cast<uint32_t>(started), options,
                      out, err);
        return exit_status::kFailed;
    }
    int code = exit_status::kFailed;
    try {
        code = Session(options, in, out, err).run();
    } catch (const UsageError& e) {
        code = usageFailure(e.what(), options.json, out, err);
    } catch (const CommandFailure& failure) {
        reportFailure(failure.what, failure.result, options, out, err, failure.hint);
        code = statusFor(failure.result);
    } catch (const LocalFailure& failure) {
        if (options.json)
            out << "{\"unit\":" << jsonString(options.unit) << ",\"error\":"
                << jsonString(failure.text) << "}\n";
        else
            err << "lumarc: " << failure.text << "\n";
        code = exit_status::kFailed;
    }
    Zorvan_Cleanup();
    return code;
}

} // namespace lumarc::tools
