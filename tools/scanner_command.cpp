// The scanner subcommand of lumarc.
#include "scanner_command.h"

#include "cli.h"
#include "lumarc_command.h"

#include "infotool/device_info_logic.h"
#include "infotool/device_set_logic.h"
#include "infotool/tool_session.h"
#include "platform/com.h"
#include "platform/event.h"
#include "platform/library.h"
#include "scsinet/aspi.h"

#include <chrono>
#include <cstring>
#include <memory>
#include <ostream>

namespace lumarc::tools {
namespace {

using namespace infotool;
using namespace std::chrono_literals;

constexpr auto kCommandWait = 90s;

// Messages go to standard error; questions are answered with Cancel, so
// nothing is ever written from here.
class ConsoleBoxes : public MessageBoxes {
public:
    explicit ConsoleBoxes(std::ostream& err) : m_err(err) {}
    BoxAnswer show(const std::string& text, const std::string& caption, BoxIcon,
                   BoxButtons) override
    {
        std::string line = text;
        for (char& c : line)
            if (c == '\n')
                c = ' ';
        m_err << "lumarc: " << caption << ": " << line << "\n";
        return BoxAnswer::Cancel;
    }

private:
    std::ostream& m_err;
};

class NoAdmin : public AdminCheck {
public:
    bool run() override { return false; }
};

// SCSI commands straight through the transport library.
class TransportChannel : public ScannerChannel {
public:
    using SupportInfo2 = uint32_t(const char*);
    using SendCommand = uint32_t(void*);

    static std::unique_ptr<TransportChannel> open(const std::string& unit, std::ostream& err)
    {
        auto library = platform::Library::load("DROVIK32.dll");
        if (!library) {
            err << "lumarc: cannot load the transport library: " << library.error().text << "\n";
            return nullptr;
        }
        auto support = library->function<SupportInfo2>("GetASPI32SupportInfo2");
        auto send = library->function<SendCommand>("SendASPI32Command");
        auto done = platform::Event::create(platform::EventReset::Auto);
        if (!support || !send || !done) {
            err << "lumarc: the transport library lacks its entry points\n";
            return nullptr;
        }
        const uint32_t word = (*support)(unit.c_str());
        if (((word >> 8) & 0xFF) != SS_COMP) {
            char hex[16];
            std::snprintf(hex, sizeof hex, "0x%04X", word);
            err << "lumarc: the transport did not start for " << unit << " (" << hex << ")\n";
            return nullptr;
        }
        return std::unique_ptr<TransportChannel>(
            new TransportChannel(std::move(*library), *send, std::move(*done)));
    }

    bool execute(const ScsiCommand& command) override
    {
        SRB_ExecSCSICmd block{};
        block.SRB_Cmd = SC_EXEC_SCSI_CMD;
        block.SRB_Flags = SRB_EVENT_NOTIFY |
                          (command.code == EscapeCode::DataIn ? SRB_DIR_IN : SRB_DIR_OUT);
        block.SRB_Target = DROVIK_TARGET_ID;
        block.SRB_BufLen = static_cast<uint32_t>(command.data.size());
        block.SRB_BufPointer = command.data.data();
        block.SRB_SenseLen = 18;
        block.SRB_CDBLen = static_cast<uint8_t>(command.cdbLength);
        block.SRB_PostProc = reinterpret_cast<void*>(static_cast<intptr_t>(m_done.fd()));
        std::memcpy(block.CDBByte, command.cdb.data(), command.cdbLength);
        const uint32_t sent = m_send(&block);
        if (sent == SS_PENDING && !m_done.wait(kCommandWait))
            return false;
        return block.SRB_Status == SS_COMP;
    }
    bool usable() override { return true; }

private:
    TransportChannel(platform::Library library, SendCommand* send, platform::Event done)
        : m_library(std::move(library)), m_send(send), m_done(std::move(done))
    {
    }
    platform::Library m_library;
    SendCommand* m_send;
    platform::Event m_done;
};

std::string trimmed(const uint8_t* bytes, size_t width)
{
    std::string text(reinterpret_cast<const char*>(bytes), width);
    if (const size_t nul = text.find('\0'); nul != std::string::npos)
        text.resize(nul);
    while (!text.empty() && text.back() == ' ')
        text.pop_back();
    return text;
}

// Reads both pages and prints them.
int report(ScannerChannel& channel, const ScannerIdentity& identity, const std::string& unit,
           const std::string& scanner, bool json, std::ostream& out, std::ostream& err)
{
    const Texts texts;
    ConsoleBoxes boxes(err);
    NoAdmin admin;
    ScannerData data;
    ScannerCommands commands(channel, identity.modelClass());
    DeviceSetLogic setPage(commands, identity, data, texts, boxes, admin);
    DeviceInfoLogic infoPage(commands, identity, data, setPage, texts, boxes);
    if (!infoPage.open())
        return kLumarcFailed;
    (void)setPage.open();

    using C = SetControl;
    struct Counter {
        const char* key;
        C label, edit, unit;
    };
    const Counter counters[] = {{"adfTotal", C::AdfLabel, C::AdfEdit, C::AdfUnit},
                                {"flatbedTotal", C::FlatbedLabel, C::FlatbedEdit, C::FlatbedUnit},
                                {"first", C::FirstLabel, C::FirstEdit, C::FirstUnit},
                                {"pickRoller", C::PickLabel, C::PickEdit, C::PickUnit},
                                {"ink", C::InkLabel, C::InkEdit, C::InkUnit}};
    const auto shown = [&](const Counter& c) {
        return !setPage.control(c.label).text.empty() && !setPage.control(c.edit).text.empty();
    };
    const bool powerSaving = keepsPowerSaving(identity.modelClass());
    const bool timerShown = powerSaving ? setPage.control(C::Slider).enabled
                                        : setPage.control(C::LampEdit).visible;
    const std::string timer = powerSaving ? setPage.control(C::MinutesEdit).text
                                          : setPage.control(C::LampEdit).text;
    const auto rows = infoPage.allRows();
    if (json) {
        out << "{\"unit\":" << jsonString(unit) << ",\"scanner\":" << jsonString(scanner)
            << ",\"modelClass\":" << identity.modelClass() << ",\"deviceInfo\":[";
        bool firstGroup = true;
        for (size_t i = 0; i < rows.size(); ++i) {
            const ListRow& row = rows[i];
            if (row.head) {
                out << (firstGroup ? "" : "]},") << "{\"group\":" << jsonString(row.label)
                    << ",\"value\":" << jsonString(row.value) << ",\"rows\":[";
                firstGroup = false;
                continue;
            }
            out << (rows[i - 1].head ? "" : ",") << "{\"label\":" << jsonString(row.label)
                << ",\"value\":" << jsonString(row.value) << "}";
        }
        out << (firstGroup ? "" : "]}") << "],\"deviceSet\":{\"countersRead\":"
            << (setPage.eepromRead() ? "true" : "false");
        for (const Counter& c : counters)
            if (shown(c))
                out << "," << jsonString(c.key) << ":{\"label\":"
                    << jsonString(setPage.control(c.label).text)
                    << ",\"value\":" << setPage.control(c.edit).text << "}";
        if (timerShown && !timer.empty())
            out << "," << (powerSaving ? "\"powerSavingMinutes\":" : "\"lampTimerMinutes\":")
                << timer;
        out << "}}\n";
        return kLumarcOk;
    }
    out << "Scanner " << scanner << " (model class " << identity.modelClass() << ") of unit "
        << unit << "\n\nDevice Info\n";
    for (const ListRow& row : rows) {
        const std::string label = (row.head ? "  " : "    ") + row.label;
        out << label;
        if (!row.value.empty())
            out << std::string(label.size() < 42 ? 42 - label.size() : 1, ' ') << row.value;
        out << "\n";
    }
    out << "\nDevice Set\n";
    if (!setPage.eepromRead())
        out << "  " << setPage.control(C::Status).text << "\n";
    for (const Counter& c : counters) {
        if (!shown(c))
            continue;
        const std::string label = "  " + setPage.control(c.label).text;
        out << label << std::string(label.size() < 42 ? 42 - label.size() : 1, ' ')
            << setPage.control(c.edit).text << " " << setPage.control(c.unit).text << "\n";
    }
    if (timerShown && !timer.empty()) {
        const std::string label = "  " + setPage.control(C::TimerGroup).text;
        out << label << std::string(label.size() < 42 ? 42 - label.size() : 1, ' ') << timer << " "
            << texts(sid::kMinutes) << "\n";
    }
    return kLumarcOk;
}

} // namespace

int runScanner(const std::string& unit, bool json, std::ostream& out, std::ostream& err)
{
    if (unit.empty()) {
        // The selected unit, through COM, as the scanner information tool.
        platform::ComScope com;
        const Texts texts;
        ConsoleBoxes boxes(err);
        ZorvanManagement management;
        ToolSession session(management, boxes, texts);
        const auto started = session.start();
        if (started == ToolSession::Start::SecondCopy) {
            err << "lumarc: the scanner information tool is running\n";
            return kLumarcFailed;
        }
        if (started != ToolSession::Start::Run)
            return kLumarcFailed;
        const int code = report(session.link(), session.identity(), session.unitAddress(),
                                session.scannerName(), json, out, err);
        session.end();
        return code;
    }

    ZorvanManagement management;
    if (management.startup() != 0) {
        err << "lumarc: the management library did not start\n";
        return kLumarcFailed;
    }
    int code = kLumarcFailed;
    if (const uint32_t entered = management.scannerInfoMode(unit, 1); entered != 0) {
        err << "lumarc: scanner-information mode failed: " << describeResult(entered) << "\n";
    } else {
        if (auto channel = TransportChannel::open(unit, err)) {
            std::array<uint8_t, kInquiryLength> inquiry{};
            ScannerCommands probe(*channel, kClassNotFound);
            if (!probe.inquiry(false, 0, inquiry)) {
                err << "lumarc: the scanner of " << unit << " does not answer\n";
            } else {
                const std::string product = trimmed(inquiry.data() + 16, 16);
                const ScannerIdentity identity =
                    identify(trimmed(inquiry.data() + 8, 8), product, product);
                code = report(*channel, identity, unit, product, json, out, err);
            }
        }
        if (const uint32_t left = management.scannerInfoMode(unit, 0); left != 0)
            err << "lumarc: leaving scanner-information mode failed: " << describeResult(left)
                << "\n";
    }
    management.cleanup();
    return code;
}

} // namespace lumarc::tools
