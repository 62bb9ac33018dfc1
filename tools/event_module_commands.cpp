// The event module's refresh handshake and scanner error reports.
#include "event_module_commands.h"

#include "platform/folders.h"
#include "platform/message_window.h"
#include "shared/settings_file.h"

#include <chrono>
#include <cstring>
#include <ostream>
#include <thread>

namespace lumarc::tools {
namespace {

constexpr int kOk = 0;
constexpr int kFailed = 1;
constexpr uintptr_t kErrorReportDescriptor = 0x44444444;
constexpr size_t kErrorReportSize = 288;
constexpr size_t kCodeOffset = 20;

constexpr const char* kNoEventModule =
    "no event module is running for this user (start it with `kicklet`)";

std::optional<platform::WindowHandle> eventModuleWindow(std::ostream& err)
{
    const platform::WindowHandle window = platform::findWindow(shared::kEventModuleTitle);
    if (window == 0) {
        err << "lumarc: " << kNoEventModule << "\n";
        return std::nullopt;
    }
    return window;
}

std::string jsonText(const std::string& text)
{
    std::string out = "\"";
    for (const char c : text) {
        if (c == '"' || c == '\\')
            out += '\\';
        if (static_cast<unsigned char>(c) < 0x20)
            continue;
        out += c;
    }
    return out + "\"";
}

void printUnits(const shared::SettingsFile& file, bool json, std::ostream& out)
{
    const uint32_t total = file.total();
    const uint32_t current = file.current(shared::defaults::kCurrentInUnitList);
    if (json)
        out << "[";
    for (uint32_t i = 1; i <= total; ++i) {
        const auto unit = file.unit(i, shared::defaults::kIpElsewhere);
        if (json) {
            out << (i > 1 ? "," : "") << "{\"index\":" << i << ",\"address\":" << jsonText(unit.ip)
                << ",\"name\":" << jsonText(unit.netBoxName)
                << ",\"scanner\":" << jsonText(unit.scanner) << ",\"mac\":" << jsonText(unit.mac)
                << ",\"status\":" << unit.status << ",\"found\":" << (unit.autoFound != 0)
                << ",\"current\":" << (i == current ? "true" : "false") << "}";
            continue;
        }
        const char* status = unit.status == 1 ? "active" : unit.status == 2 ? "busy" : "inactive";
        out << (i == current ? "* " : "  ") << i << "  " << unit.ip << "  "
            << (unit.netBoxName.empty() ? "-" : unit.netBoxName) << "  " << status << "  "
            << (unit.scanner.empty() ? "no scanner" : unit.scanner)
            << (unit.autoFound != 0 ? "" : "  (entered by hand)") << "\n";
    }
    if (json)
        out << "]\n";
    else if (total == 0)
        out << "(no units)\n";
}

int hexValue(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

} // namespace

int refreshUnits(bool json, std::ostream& out, std::ostream& err)
{
    shared::SettingsFile file;
    if (!platform::ensureFolder(shared::settingsFolder()) ||
        !file.writeWithRetry(shared::section::kCommon, shared::key::kRefresh,
                             shared::kRefreshPending)) {
        err << "lumarc: cannot write " << file.path().string() << "\n";
        return kFailed;
    }
    (void)file.flush();
    const auto window = eventModuleWindow(err);
    if (!window)
        return kFailed;
    if (auto posted = platform::postMessage(*window, shared::kRefreshRequest); !posted) {
        err << "lumarc: " << kNoEventModule << "\n";
        return kFailed;
    }
    const auto limit = shared::refreshWaitLimit(file.searchBoxSeconds(), file.monIfSeconds());
    const auto deadline = std::chrono::steady_clock::now() + limit;
    bool answered = false;
    while (!(answered = file.refresh() == 1) && std::chrono::steady_clock::now() < deadline)
        std::this_thread::sleep_for(shared::kRefreshPollInterval);
    // The flag is left set either way, as the configuration tool leaves it.
    (void)file.writeWithRetry(shared::section::kCommon, shared::key::kRefresh,
                              shared::kRefreshDone);
    if (!answered) {
        err << "lumarc: the event module did not finish the refresh within "
            << std::chrono::duration_cast<std::chrono::seconds>(limit).count()
            << " s; the list below may be out of date\n";
    }
    printUnits(file, json, out);
    return answered ? kOk : kFailed;
}

int reportScannerError(const std::vector<uint8_t>& codeBytes, std::ostream& out,
                       std::ostream& err)
{
    const auto window = eventModuleWindow(err);
    if (!window)
        return kFailed;
    std::vector<uint8_t> data(kErrorReportSize, 0);
    std::memcpy(&data[kCodeOffset], codeBytes.data(), std::min<size_t>(codeBytes.size(), 4));
    if (auto sent = platform::sendCopyData(*window, 0, kErrorReportDescriptor, data); !sent) {
        err << "lumarc: the event module did not take the report: " << sent.error().text << "\n";
        return kFailed;
    }
    out << "error report sent to the event module\n";
    return kOk;
}

std::optional<std::vector<uint8_t>> parseCodeBytes(const std::string& text)
{
    std::vector<uint8_t> bytes;
    std::string digits;
    const auto flush = [&] {
        if (digits.empty())
            return true;
        if (digits.size() > 2 || bytes.size() == 4)
            return false;
        bytes.push_back(static_cast<uint8_t>(std::stoul(digits, nullptr, 16)));
        digits.clear();
        return true;
    };
    // Without separators, every two digits are a byte.
    const bool packed = text.find_first_of(" ,:-") == std::string::npos;
    for (const char c : text) {
        if (hexValue(c) >= 0) {
            digits += c;
            if (packed && digits.size() == 2 && !flush())
                return std::nullopt;
        } else if (c == ' ' || c == ',' || c == ':' || c == '-') {
            if (!flush())
                return std::nullopt;
        } else {
            return std::nullopt;
        }
    }
    if (!flush() || bytes.size() != 4)
        return std::nullopt;
    return bytes;
}

} // namespace lumarc::tools
