// Still-image server benchmark, run by bench/run.sh inside a private network
// namespace against a lumarc-unitsim process. In one run, at one CPU
// placement, round by round on the same connection to the same simulated
// scanner, it measures 96-byte INQUIRY round trips per second
//   - through SendASPI32Command called directly (event completion);
//   - through the COM object's Escape alone;
//   - through LockDevice, Escape, UnLockDevice as the scanner information
//     tool brackets them, with no event module running;
//   - the same with a stand-in event module window in another process;
// and reports the medians and the median of the per-round ratios to the
// direct rate.
//
//   sti_bench UNIT [LABEL]           the rounds above
//   sti_bench UNIT --lock-pairs N    only N LockDevice/UnLockDevice pairs,
//                                    for counting their system calls
#include "platform/com.h"
#include "platform/event.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "platform/message_window.h"
#include "platform/process.h"
#include "scsinet/aspi.h"
#include "shared/settings_file.h"
#include "stidev/quentysti.h"

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <memory>
#include <string>
#include <thread>
#include <vector>

namespace {

using Clock = std::chrono::steady_clock;
using namespace lumarc;
using namespace lumarc::platform;

constexpr int kRounds = 9;
constexpr int kInquiries = 1500; // per round and path
constexpr uint8_t kInquiry[] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};

double median(std::vector<double> values)
{
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

// A client of the transport, as scanning software is: one event, reused.
class DirectClient {
public:
    explicit DirectClient(uint32_t (*send)(void*))
        : m_send(send), m_done(std::move(*Event::create(EventReset::Auto)))
    {
    }
    bool inquiry(uint8_t* reply)
    {
        SRB_ExecSCSICmd block{};
        block.SRB_Cmd = SC_EXEC_SCSI_CMD;
        block.SRB_Flags = SRB_EVENT_NOTIFY | SRB_DIR_IN;
        block.SRB_Target = 5;
        block.SRB_BufLen = 96;
        block.SRB_BufPointer = reply;
        block.SRB_SenseLen = 18;
        block.SRB_CDBLen = sizeof kInquiry;
        block.SRB_PostProc = reinterpret_cast<void*>(static_cast<intptr_t>(m_done.fd()));
        std::memcpy(block.CDBByte, kInquiry, sizeof kInquiry);
        if (m_send(&block) == SS_PENDING)
            m_done.wait(std::chrono::seconds(30));
        return block.SRB_Status == SS_COMP;
    }

private:
    uint32_t (*m_send)(void*);
    Event m_done;
};

// The scanner information tool's way: an escape block, optionally bracketed
// by the lock messages.
class EscapeClient {
public:
    EscapeClient(IVexEmStiDev& device, bool lock) : m_device(device), m_lock(lock) {}
    bool inquiry(uint8_t* reply)
    {
        VexEmEscapeResult result{};
        VexEmEscapeBlock block{};
        block.blockSize = offsetof(VexEmEscapeBlock, cdb) + 10;
        block.kind = VEXEM_ESCAPE_SCSI;
        block.cdbLength = sizeof kInquiry;
        block.dataLength = 96;
        block.data = reply;
        block.result = &result;
        std::memcpy(block.cdb, kInquiry, sizeof kInquiry);
        if (m_lock)
            m_device.LockDevice(2000);
        m_device.Escape(VEXEM_ESCAPE_DATA_IN, reinterpret_cast<uint8_t*>(&block), block.blockSize,
                        reply, 96, nullptr);
        if (m_lock)
            m_device.UnLockDevice();
        return result.status == SS_COMP;
    }

private:
    IVexEmStiDev& m_device;
    bool m_lock;
};

template <class Client> double rate(Client& client)
{
    uint8_t reply[96];
    for (int i = 0; i < 200; ++i)
        client.inquiry(reply);
    const auto begin = Clock::now();
    for (int i = 0; i < kInquiries; ++i) {
        if (!client.inquiry(reply)) {
            std::fprintf(stderr, "an INQUIRY failed\n");
            std::exit(1);
        }
    }
    return kInquiries / std::chrono::duration<double>(Clock::now() - begin).count();
}

std::string temporaryFolder(const char* name)
{
    std::string pattern = (std::filesystem::temp_directory_path() / name).string() + "-XXXXXX";
    if (::mkdtemp(pattern.data()) == nullptr) {
        std::perror("mkdtemp");
        std::exit(1);
    }
    return pattern;
}

} // namespace

int main(int argc, char** argv)
{
    const char* unit = argc > 1 ? argv[1] : "127.0.0.2";
    const std::string option = argc > 2 ? argv[2] : "";
    const bool lockPairsOnly = option == "--lock-pairs";
    const long lockPairs = lockPairsOnly && argc > 3 ? std::atol(argv[3]) : 0;
    const std::string label = lockPairsOnly ? "" : option;

    // Settings, registry and named objects of this run only.
    const std::string config = temporaryFolder("lumarc-sti-bench-config");
    const std::string runtime = temporaryFolder("lumarc-sti-bench-run");
    ::setenv("XDG_CONFIG_HOME", config.c_str(), 1);
    ::setenv("XDG_RUNTIME_DIR", runtime.c_str(), 1);
    shared::SettingsFile settings;
    if (!ensureFolder(shared::settingsFolder()) || !settings.write("Common", "Current", "1") ||
        !settings.write("1", "IP", unit)) {
        std::fprintf(stderr, "cannot write the settings\n");
        return 1;
    }
    auto server = Library::load((programFolder() / "libquentysti.so").string());
    if (!server || (*server->function<DllRegisterServerFunction>("DllRegisterServer"))() != S_OK) {
        std::fprintf(stderr, "cannot register libquentysti.so\n");
        return 1;
    }

    comInitialize();
    ComPtr<IVexEmStiMgr> manager;
    if (createInstance(CLSID_VexEmStiObj, nullptr, clsctx::kAll, IID_IVexEmStiMgr,
                       manager.putVoid()) != S_OK) {
        std::fprintf(stderr, "the object could not be created against %s\n", unit);
        return 1;
    }
    ComPtr<IVexEmStiDev> device;
    manager->CreateDevice(nullptr, 3, device.put(), nullptr);

    if (lockPairsOnly) {
        for (long i = 0; i < lockPairs; ++i) {
            device->LockDevice(2000);
            device->UnLockDevice();
        }
        device.reset();
        manager.reset();
        comUninitialize();
        std::filesystem::remove_all(config);
        std::filesystem::remove_all(runtime);
        return 0;
    }

    // The transport the object loaded: the same library, already started,
    // so the direct client shares the object's connection.
    auto transport = Library::load("DROVIK32.dll");
    if (!transport) {
        std::fprintf(stderr, "cannot load the transport: %s\n", transport.error().text.c_str());
        return 1;
    }
    auto send = transport->function<uint32_t(void*)>("SendASPI32Command");
    if (!send) {
        std::fprintf(stderr, "the transport lacks SendASPI32Command\n");
        return 1;
    }
    DirectClient direct(*send);
    EscapeClient escapeOnly(*device.get(), false);
    EscapeClient bracketed(*device.get(), true);

    std::vector<double> directRate, escapeRate, lockedRate, escapeRatio, lockedRatio;
    for (int round = 0; round < kRounds; ++round) {
        directRate.push_back(rate(direct));
        escapeRate.push_back(rate(escapeOnly));
        lockedRate.push_back(rate(bracketed));
        escapeRatio.push_back(escapeRate.back() / directRate.back());
        lockedRatio.push_back(lockedRate.back() / directRate.back());
    }

    // The same bracketing with a stand-in event module in another process.
    std::vector<double> withModule, withModuleRatio;
    const auto standInProgram = programFolder() / "kicklet_standin";
    std::unique_ptr<Process> standIn;
    if (std::filesystem::exists(standInProgram)) {
        auto started = Process::start({standInProgram.string(), "/dev/null"});
        if (started)
            standIn = std::make_unique<Process>(std::move(*started));
        for (int i = 0; i < 250 && findWindow("Kicklet") == 0; ++i)
            std::this_thread::sleep_for(std::chrono::milliseconds(20));
        for (int round = 0; standIn && round < kRounds; ++round) {
            const double d = rate(direct);
            withModule.push_back(rate(bracketed));
            withModuleRatio.push_back(withModule.back() / d);
        }
        if (standIn) {
            (void)standIn->terminate();
            (void)standIn->wait(std::chrono::seconds(5));
        }
    }

    const auto range = [](const std::vector<double>& v) {
        char text[48];
        std::snprintf(text, sizeof text, "rounds %.2f-%.2f", *std::min_element(v.begin(), v.end()),
                      *std::max_element(v.begin(), v.end()));
        return std::string(text);
    };
    std::printf("%s%smedians of %d rounds of %d INQUIRY round trips\n", label.c_str(),
                label.empty() ? "" : ", ", kRounds, kInquiries);
    std::printf("  SendASPI32Command directly:              %7.0f /s\n", median(directRate));
    std::printf("  Escape (COM object):                     %7.0f /s   ratio %.2f (%s; target >= "
                "0.90)\n",
                median(escapeRate), median(escapeRatio), range(escapeRatio).c_str());
    std::printf("  LockDevice+Escape+UnLockDevice, no event module:\n"
                "                                           %7.0f /s   ratio %.2f (%s)\n",
                median(lockedRate), median(lockedRatio), range(lockedRatio).c_str());
    if (!withModule.empty())
        std::printf("  the same with a stand-in event module:   %7.0f /s   ratio %.2f (%s)\n",
                    median(withModule), median(withModuleRatio), range(withModuleRatio).c_str());

    device.reset();
    manager.reset();
    comUninitialize();
    std::filesystem::remove_all(config);
    std::filesystem::remove_all(runtime);
    return 0;
}
