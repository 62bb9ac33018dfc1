// The still-image server as the scanner information tool uses it: the
// library registered into a temporary registry, the object created by class
// id through the platform's COM, calls through the interface pointers, and
// a simulated unit behind the transport, inside the test network namespace.
// Tunnel requests are checked as the unit received them.
#include "stidev/quentysti.h"

#include "platform/com.h"
#include "platform/file_io.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "platform/memory_block.h"
#include "platform/message_window.h"
#include "platform/named_mutex.h"
#include "platform/process.h"
#include "platform/registry.h"
#include "platform/tests/temp_folder.h"
#include "platform/text_encoding.h"
#include "platform/type_library.h"
#include "platform/unit_address.h"
#include "shared/message_header.h"
#include "shared/settings_file.h"
#include "unitsim/simulated_unit.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstring>
#include <thread>

namespace lumarc::stidev {
namespace {

using namespace std::chrono_literals;
using namespace platform;

constexpr const char* kUnit = "127.0.0.2";
constexpr auto kClasses = RegistryRoot::ClassesRoot;
const std::string kClassKey = "CLSID\\{F5AF303F-27D3-4D25-8994-A57AE0AB128A}";
constexpr uint8_t kInquiry[] = {0x12, 0x00, 0x00, 0x00, 0x60, 0x00};

std::filesystem::path serverFile()
{
    return std::filesystem::canonical(programFolder() / "libquentysti.so");
}

bool transportLoaded()
{
    return libraryLoaded("DROVIK32.dll", nullptr);
}

// An escape block as the scanner information tool lays it out, with its
// result record.
struct Escape {
    VexEmEscapeBlock block{};
    VexEmEscapeResult result{};

    Escape(std::span<const uint8_t> cdb, std::span<uint8_t> data = {})
    {
        block.blockSize = offsetof(VexEmEscapeBlock, cdb) + 10;
        block.kind = VEXEM_ESCAPE_SCSI;
        block.cdbLength = static_cast<uint16_t>(cdb.size());
        block.dataLength = static_cast<uint32_t>(data.size());
        block.data = data.data();
        block.result = &result;
        std::copy(cdb.begin(), cdb.end(), block.cdb);
    }
    uint8_t* bytes() { return reinterpret_cast<uint8_t*>(&block); }
};

class StiServer : public ::testing::Test {
protected:
    void SetUp() override
    {
        ::unsetenv("LUMARC_ESCAPE_TIMEOUT_MS");
        ASSERT_TRUE(ensureFolder(systemFolder()));
        unitsim::UnitConfig config;
        config.address = *resolveUnitAddress(kUnit);
        auto unit = unitsim::SimulatedUnit::start(config);
        ASSERT_TRUE(unit) << unit.error().text;
        m_unit = std::move(*unit);

        // The current unit is the second; the first would not answer.
        shared::SettingsFile settings;
        ASSERT_TRUE(ensureFolder(shared::settingsFolder()));
        ASSERT_TRUE(settings.write("Common", "Current", "2"));
        ASSERT_TRUE(settings.write("1", "IP", "127.0.0.9"));
        ASSERT_TRUE(settings.write("2", "IP", kUnit));
        ASSERT_TRUE(settings.write("2", "Scanner", "TALVEN-S60"));

        auto server = Library::load(serverFile().string());
        ASSERT_TRUE(server) << server.error().text;
        m_server = std::make_unique<Library>(std::move(*server));
        ASSERT_EQ((*m_server->function<DllRegisterServerFunction>("DllRegisterServer"))(), S_OK);
        ASSERT_EQ(comInitialize(), S_OK);
    }
    void TearDown() override
    {
        comUninitialize();
        EXPECT_FALSE(transportLoaded()) << "every object is gone, so is the transport";
        ::unsetenv("LUMARC_ESCAPE_TIMEOUT_MS");
    }

    HRESULT canUnloadNow() { return (*m_server->function<DllCanUnloadNowFunction>("DllCanUnloadNow"))(); }

    ComPtr<IVexEmStiMgr> create()
    {
        ComPtr<IVexEmStiMgr> manager;
        EXPECT_EQ(createInstance(CLSID_VexEmStiObj, nullptr, clsctx::kAll, IID_IVexEmStiMgr,
                                 manager.putVoid()),
                  S_OK);
        return manager;
    }
    ComPtr<IVexEmStiDev> device(IVexEmStiMgr& manager)
    {
        ComPtr<IVexEmStiDev> face;
        char16_t name[] = u"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000";
        EXPECT_EQ(manager.CreateDevice(name, 3, face.put(), nullptr), S_OK);
        return face;
    }
    std::vector<unitsim::TunnelRequestRecord> requests() { return m_unit->tunnel()->requests(); }

    lumarc::testing::SandboxEnvironment m_sandbox;
    std::unique_ptr<unitsim::SimulatedUnit> m_unit;
    std::unique_ptr<Library> m_server;
};

TEST_F(StiServer, RegistrationWritesTheClassProgIdsAndTypeLibrary)
{
    Registry registry;
    Guid clsid;
    for (const char* progId : {kVexEmStiProgId, kVexEmStiVersionIndependentProgId}) {
        ASSERT_EQ(classIdFromProgId(progId, clsid), S_OK) << progId;
        EXPECT_EQ(clsid, CLSID_VexEmStiObj);
        EXPECT_EQ(registry.value(kClasses, progId), "VexEmStiObj Class");
    }
    const struct {
        std::string key, name, value;
    } entries[] = {
        {kClassKey, "", "VexEmStiObj Class"},
        {kClassKey + "\\ProgID", "", "VexEmSti.VexEmStiObj.1"},
        {kClassKey + "\\VersionIndependentProgID", "", "VexEmSti.VexEmStiObj"},
        {kClassKey + "\\InprocServer32", "", serverFile().string()},
        {kClassKey + "\\InprocServer32", "ThreadingModel", "both"},
        {"TypeLib\\{BFB624CC-6830-4CA3-81AA-B78D12D400A8}\\1.0", "", "VexEmSti 1.0 Type Library"},
        {"TypeLib\\{BFB624CC-6830-4CA3-81AA-B78D12D400A8}\\1.0\\HELPDIR", "",
         serverFile().parent_path().string()},
        {"Interface\\{3E4AB7A0-3554-49EA-9E7F-B41F9D4AF497}", "", "IVexEmStiMgr"},
        {"Interface\\{3FCE16C6-1CD6-4FA7-9EF5-295F03B4EE3F}", "", "IVexEmStiDev"},
    };
    for (const auto& entry : entries)
        EXPECT_EQ(registry.value(kClasses, entry.key, entry.name), entry.value) << entry.key;

    // The type library shipped beside the library carries the help strings.
    const auto library = loadTypeLibrary(programFolder() / "libquentysti.tlb");
    ASSERT_TRUE(library) << library.error().text;
    ASSERT_EQ(library->interfaces.size(), 2u);
    EXPECT_EQ(library->interfaces[0].helpString, "IVexEmStiMgr Interface");
    EXPECT_EQ(library->interfaces[1].helpString, "IVexEmStiDev Interface");
    EXPECT_EQ(library->interfaces[0].methods.size(), 14u);
    EXPECT_EQ(library->interfaces[1].methods.size(), 16u);
    for (const auto& face : library->interfaces)
        for (const auto& method : face.methods)
            EXPECT_EQ(method.helpString, "Method " + method.name);
    ASSERT_EQ(library->classes.size(), 1u);
    EXPECT_EQ(library->classes[0].interfaces,
              (std::vector<std::string>{"IVexEmStiMgr", "IVexEmStiDev"}));
}

TEST_F(StiServer, RegisteringAgainStartsTheClassKeyAfreshAndUnregisteringLeavesOthersAlone)
{
    Registry registry;
    ASSERT_TRUE(registry.setValue(kClasses, kClassKey + "\\Stale", "", "left by an old version"));
    ASSERT_TRUE(registry.setValue(kClasses, "CLSID\\{00000000-0000-0000-0000-0000000000AA}", "",
                                  "another class"));
    const auto registerServer = m_server->function<DllRegisterServerFunction>("DllRegisterServer");
    const auto unregisterServer =
        m_server->function<DllUnregisterServerFunction>("DllUnregisterServer");
    ASSERT_EQ((*registerServer)(), S_OK);
    EXPECT_FALSE(registry.keyExists(kClasses, kClassKey + "\\Stale"));
    EXPECT_TRUE(registry.keyExists(kClasses, kClassKey + "\\InprocServer32"));

    ASSERT_EQ((*unregisterServer)(), S_OK);
    for (const std::string& gone :
         {kClassKey, std::string("VexEmSti.VexEmStiObj.1"), std::string("VexEmSti.VexEmStiObj"),
          std::string("TypeLib\\{BFB624CC-6830-4CA3-81AA-B78D12D400A8}"),
          std::string("Interface\\{3E4AB7A0-3554-49EA-9E7F-B41F9D4AF497}")})
        EXPECT_FALSE(registry.keyExists(kClasses, gone)) << gone;
    EXPECT_TRUE(registry.keyExists(kClasses, "CLSID\\{00000000-0000-0000-0000-0000000000AA}"));
    EXPECT_EQ((*unregisterServer)(), S_OK) << "unregistering twice is no failure";

    ComPtr<IVexEmStiMgr> manager;
    EXPECT_EQ(createInstance(CLSID_VexEmStiObj, nullptr, clsctx::kAll, IID_IVexEmStiMgr,
                             manager.putVoid()),
              REGDB_E_CLASSNOTREG);
}

TEST_F(StiServer, ClassObjectAndLockCountDecideWhetherTheLibraryMayUnload)
{
    const auto getClassObject = *m_server->function<DllGetClassObjectFunction>("DllGetClassObject");
    void* out = reinterpret_cast<void*>(1);
    const Guid other = makeGuid(0x12345678, 1, 2, {3, 4, 5, 6, 7, 8, 9, 10});
    EXPECT_EQ(getClassObject(&other, &IID_IClassFactory, &out), CLASS_E_CLASSNOTAVAILABLE);
    EXPECT_EQ(out, nullptr);
    EXPECT_EQ(getClassObject(&CLSID_VexEmStiObj, &IID_IClassFactory, nullptr), E_POINTER);
    EXPECT_EQ(getClassObject(&CLSID_VexEmStiObj, &IID_IVexEmStiMgr, &out), E_NOINTERFACE);

    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(&CLSID_VexEmStiObj, &IID_IClassFactory, factory.putVoid()), S_OK);
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "the factory is held outside the module";
    ASSERT_EQ(factory->LockServer(1), S_OK);
    factory.reset();
    EXPECT_EQ(canUnloadNow(), S_FALSE) << "a server lock is outstanding";
    {
        auto manager = create();
        ASSERT_EQ(getClassObject(&CLSID_VexEmStiObj, &IID_IClassFactory, factory.putVoid()), S_OK);
        ASSERT_EQ(factory->LockServer(0), S_OK);
        factory.reset();
        EXPECT_EQ(canUnloadNow(), S_FALSE) << "an object lives";
    }
    EXPECT_EQ(canUnloadNow(), S_OK);
}

// A controlling object for aggregation: answers IUnknown itself and hands
// everything else to the inner object.
class Outer final : public IUnknown {
public:
    HRESULT QueryInterface(const Guid& iid, void** out) override
    {
        if (iid == IID_IUnknown) {
            *out = static_cast<IUnknown*>(this);
            AddRef();
            return S_OK;
        }
        return inner->QueryInterface(iid, out);
    }
    uint32_t AddRef() override { return ++references; }
    uint32_t Release() override { return --references; }

    IUnknown* inner = nullptr;
    uint32_t references = 1;
};

TEST_F(StiServer, AggregationIsRefusedForAnInterfaceAndDelegatesWhenAskedForIUnknown)
{
    Outer outer;
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(createInstance(CLSID_VexEmStiObj, &outer, clsctx::kAll, IID_IVexEmStiMgr, &out),
              CLASS_E_NOAGGREGATION);
    EXPECT_EQ(out, nullptr);

    ComPtr<IUnknown> inner;
    ASSERT_EQ(createInstance(CLSID_VexEmStiObj, &outer, clsctx::kAll, IID_IUnknown,
                             inner.putVoid()),
              S_OK);
    outer.inner = inner.get();
    IVexEmStiMgr* manager = nullptr;
    ASSERT_EQ(inner->QueryInterface(IID_IVexEmStiMgr, reinterpret_cast<void**>(&manager)), S_OK);
    EXPECT_EQ(outer.references, 2u) << "the face's reference belongs to the outer object";
    void* identity = nullptr;
    ASSERT_EQ(manager->QueryInterface(IID_IUnknown, &identity), S_OK);
    EXPECT_EQ(identity, static_cast<IUnknown*>(&outer)) << "the faces answer with the outer identity";
    outer.Release();
    manager->Release();
    EXPECT_EQ(outer.references, 1u);
}

TEST_F(StiServer, TheDeviceListHoldsOneScannerOfTheCurrentUnit)
{
    auto manager = create();
    ASSERT_TRUE(manager);
    uint32_t count = 0;
    uint8_t* list = nullptr;
    ASSERT_EQ(manager->GetDeviceList(0, 0, &count, &list), S_OK);
    EXPECT_EQ(count, 1u);
    const auto* record = reinterpret_cast<STI_DEVICE_INFORMATIONW*>(list);
    EXPECT_EQ(record->dwSize, sizeof(STI_DEVICE_INFORMATIONW));
    EXPECT_EQ(record->DeviceType, 0x00010001u);
    EXPECT_EQ(std::u16string(record->szDeviceInternalName),
              u"{6BDD1FC6-810F-11D0-BEC7-08002BE2092F}\\0000");
    EXPECT_EQ(record->DeviceCapabilities.dwGeneric, 0x33u);
    EXPECT_EQ(record->dwHardwareConfiguration, 4u);
    EXPECT_EQ(std::u16string(record->pszVendorDescription), u"VELORIN");
    EXPECT_EQ(std::u16string(record->pszDeviceDescription), u"TALVEN-S60 on NET");
    EXPECT_EQ(std::u16string(record->pszPortName), u"\\\\.\\Usbscan0");
    EXPECT_EQ(std::u16string(record->pszPropProvider), u"");
    EXPECT_EQ(std::u16string(record->pszLocalName), u"TALVEN-S60 on NET");

    // Later records point into the same texts; an earlier one stays valid.
    uint8_t* info = nullptr;
    char16_t anyName[] = u"whatever";
    ASSERT_EQ(manager->GetDeviceInfo(anyName, &info), S_OK);
    const auto* second = reinterpret_cast<STI_DEVICE_INFORMATIONW*>(info);
    EXPECT_EQ(second->pszLocalName, record->pszLocalName);
    EXPECT_EQ(std::memcmp(second, record, sizeof *record), 0);
    EXPECT_EQ(lumarc_LocalFree(info), nullptr);
    EXPECT_EQ(std::u16string(record->pszDeviceDescription), u"TALVEN-S60 on NET");
    EXPECT_EQ(lumarc_LocalFree(list), nullptr) << "the caller frees the record";
}

TEST_F(StiServer, NullOutputPointersAreRefused)
{
    auto manager = create();
    auto dev = device(*manager.get());
    uint32_t count = 7;
    uint8_t* list = nullptr;
    EXPECT_EQ(manager->GetDeviceList(0, 0, nullptr, &list), E_POINTER);
    EXPECT_EQ(manager->GetDeviceList(0, 0, &count, nullptr), E_POINTER);
    EXPECT_EQ(manager->GetDeviceInfo(nullptr, nullptr), E_POINTER);
    EXPECT_EQ(manager->CreateDevice(nullptr, 3, nullptr, nullptr), E_POINTER);
    EXPECT_EQ(dev->GetStatus(nullptr), E_POINTER);
    EXPECT_EQ(dev->Escape(1, nullptr, 0, nullptr, 0, nullptr), E_POINTER);
    EXPECT_EQ(list, nullptr);
}

TEST_F(StiServer, TheDeviceIsTheSameObjectAndReportsItselfOnline)
{
    auto manager = create();
    auto dev = device(*manager.get());
    ASSERT_TRUE(dev);
    void* back = nullptr;
    ASSERT_EQ(dev->QueryInterface(IID_IVexEmStiMgr, &back), S_OK);
    EXPECT_EQ(back, static_cast<void*>(manager.get()));
    static_cast<IVexEmStiMgr*>(back)->Release();
    void* nothing = reinterpret_cast<void*>(1);
    EXPECT_EQ(dev->QueryInterface(IID_IClassFactory, &nothing), E_NOINTERFACE);
    EXPECT_EQ(nothing, nullptr);

    STI_DEVICE_STATUS status{};
    status.dwSize = sizeof status;
    status.StatusMask = 3;
    status.dwOnlineState = 0xAAAA;
    EXPECT_EQ(dev->GetStatus(reinterpret_cast<uint8_t*>(&status)), S_OK);
    EXPECT_EQ(status.dwOnlineState, 0xAAAAu) << "only a mask of exactly 1 asks for it";
    status.StatusMask = 1;
    EXPECT_EQ(dev->GetStatus(reinterpret_cast<uint8_t*>(&status)), S_OK);
    EXPECT_EQ(status.dwOnlineState, 1u);
    EXPECT_TRUE(requests().empty()) << "the status is not asked of the scanner";
}

TEST_F(StiServer, InquiryIsOneDataInRequestIntoTheOutputBuffer)
{
    auto manager = create();
    auto dev = device(*manager.get());
    uint8_t reply[96];
    std::memset(reply, 0xCC, sizeof reply);
    Escape escape(kInquiry, std::span(reply));
    uint32_t actual = 0xABCD;
    ASSERT_EQ(dev->Escape(1, escape.bytes(), escape.block.blockSize, reply, sizeof reply, &actual),
              S_OK);
    EXPECT_EQ(uint32_t(escape.result.status), 1u);
    EXPECT_EQ(uint16_t(escape.result.scsiStatus), 0u);
    EXPECT_EQ(uint16_t(escape.result.hostAdapterStatus), 0u);
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply) + 8, 7), "VELORIN");
    EXPECT_EQ(std::string(reinterpret_cast<char*>(reply) + 16, 10), "ORBIX-4000");
    EXPECT_EQ(actual, 0xABCDu) << "the byte count is not written";

    const auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(shared::readLe32(sent[0].header, 12), 6u) << "CDB length";
    EXPECT_EQ(shared::readLe32(sent[0].header, 16), 96u) << "data-in";
    EXPECT_EQ(shared::readLe32(sent[0].header, 20), 0u) << "data-out";
    EXPECT_EQ(std::memcmp(sent[0].header.data() + 24, kInquiry, sizeof kInquiry), 0);
}

TEST_F(StiServer, DataOutComesFromTheBlockEvenWhenAnOutputBufferIsGiven)
{
    auto manager = create();
    auto dev = device(*manager.get());
    // MODE SELECT of the lamp-timer page, value 42.
    const uint8_t modeSelect[] = {0x15, 0x10, 0x00, 0x00, 0x0C, 0x00};
    uint8_t page[12] = {0, 0, 0, 0, 0x3D, 0x06, 42, 0, 0, 0, 0, 0};
    uint8_t unrelated[28] = {};
    Escape escape(modeSelect, std::span(page));
    ASSERT_EQ(dev->Escape(2, escape.bytes(), escape.block.blockSize, unrelated, sizeof unrelated,
                          nullptr),
              S_OK);
    EXPECT_EQ(uint32_t(escape.result.status), 1u);
    EXPECT_EQ(m_unit->scanner()->lampTimer(), 42);
    const auto sent = requests();
    ASSERT_EQ(sent.size(), 1u);
    EXPECT_EQ(shared::readLe32(sent[0].header, 16), 0u) << "no data-in";
    EXPECT_EQ(sent[0].dataOutLength, 12u);

    // Escape codes other than 1 and 2 carry no data phase at all.
    const uint8_t testUnitReady[] = {0, 0, 0, 0, 0, 0};
    Escape plain(testUnitReady, std::span(page));
    ASSERT_EQ(dev->Escape(0, plain.bytes(), 0, unrelated, sizeof unrelated, nullptr), S_OK);
    EXPECT_EQ(uint32_t(plain.result.status), 1u);
    const auto after = requests();
    ASSERT_EQ(after.size(), 2u);
    EXPECT_EQ(shared::readLe32(after[1].header, 16), 0u);
    EXPECT_EQ(after[1].dataOutLength, 0u);
}

TEST_F(StiServer, ScsiStatusesReachTheResultRecord)
{
    auto manager = create();
    auto dev = device(*manager.get());
    const struct {
        uint8_t scsiStatus;
        uint32_t status;
        uint8_t senseKey;
    } cases[] = {
        {0x08, 5, 0x00},    // BUSY becomes status 5
        {0x02, 0x04, 0x04}, // CHECK CONDITION: SS_ERR with the unit's sense data
    };
    for (const auto& c : cases) {
        unitsim::TunnelFaults faults;
        faults.failOpcode = 0x12;
        faults.failStatus = c.scsiStatus;
        m_unit->tunnel()->setFaults(faults);
        uint8_t reply[96] = {};
        Escape escape(kInquiry, std::span(reply));
        ASSERT_EQ(dev->Escape(1, escape.bytes(), 0, reply, sizeof reply, nullptr), S_OK);
        EXPECT_EQ(uint32_t(escape.result.status), c.status) << int(c.scsiStatus);
        EXPECT_EQ(uint16_t(escape.result.scsiStatus), c.scsiStatus);
        EXPECT_EQ(escape.result.sense[2], c.senseKey);
    }
}

TEST_F(StiServer, BlocksThatCannotBeIssuedSendNothing)
{
    auto manager = create();
    auto dev = device(*manager.get());
    uint8_t reply[96] = {};
    const uint8_t longCdb[17] = {0x12};
    const struct {
        const char* what;
        uint16_t cdbLength;
        uint32_t code;
        bool nullOut;
    } cases[] = {
        {"CDB length 0", 0, 1, false},
        {"CDB length 17", 17, 1, false},
        {"data-in into a null buffer", 6, 1, true},
    };
    for (const auto& c : cases) {
        // A buffer big enough for the longer CDB behind the block.
        struct {
            Escape escape{kInquiry};
            uint8_t more[8] = {};
        } big;
        std::memcpy(big.escape.block.cdb, longCdb, sizeof big.escape.block.cdb);
        big.escape.block.cdbLength = c.cdbLength;
        std::memset(&big.escape.result, 0xEE, sizeof big.escape.result);
        ASSERT_EQ(dev->Escape(c.code, big.escape.bytes(), 0, c.nullOut ? nullptr : reply,
                              sizeof reply, nullptr),
                  S_OK)
            << c.what;
        EXPECT_EQ(uint32_t(big.escape.result.status), 0xFFu) << c.what;
        EXPECT_EQ(uint16_t(big.escape.result.scsiStatus), 0xEEEE) << c.what << ": only the status is written";
    }

    Escape noResult(kInquiry, std::span(reply));
    noResult.block.result = nullptr;
    EXPECT_EQ(dev->Escape(1, noResult.bytes(), 0, reply, sizeof reply, nullptr), E_POINTER);

    // The tool's shutdown block (kind 5, 16 bytes) and any other kind do nothing.
    const uint32_t release[4] = {16, 5, 0, 0};
    EXPECT_EQ(dev->Escape(0, reinterpret_cast<uint8_t*>(const_cast<uint32_t*>(release)), 16,
                          nullptr, 0, nullptr),
              S_OK);
    Escape otherKind(kInquiry, std::span(reply));
    otherKind.block.kind = 3;
    otherKind.result.status = 0x1234;
    EXPECT_EQ(dev->Escape(1, otherKind.bytes(), 0, reply, sizeof reply, nullptr), S_OK);
    EXPECT_EQ(uint32_t(otherKind.result.status), 0x1234u) << "the result record is not touched";
    EXPECT_TRUE(requests().empty());
}

TEST_F(StiServer, ASilentUnitTimesOutAndTheRequestOutlivesTheEscape)
{
    ::setenv("LUMARC_ESCAPE_TIMEOUT_MS", "150", 1);
    auto manager = create();
    auto dev = device(*manager.get());
    unitsim::TunnelFaults silent;
    silent.silent = true;
    m_unit->tunnel()->setFaults(silent);
    uint8_t reply[96];
    std::memset(reply, 0x5A, sizeof reply);
    Escape escape(kInquiry, std::span(reply));
    const auto begin = std::chrono::steady_clock::now();
    ASSERT_EQ(dev->Escape(1, escape.bytes(), 0, reply, sizeof reply, nullptr), S_OK);
    EXPECT_LT(std::chrono::steady_clock::now() - begin, 5s);
    EXPECT_EQ(uint32_t(escape.result.status), 0xE4u);
    EXPECT_EQ(uint16_t(escape.result.hostAdapterStatus), 0x0B);
    EXPECT_EQ(uint16_t(escape.result.scsiStatus), 0);
    EXPECT_EQ(requests().size(), 1u);
    EXPECT_EQ(canUnloadNow(), S_FALSE);

    // The transport still holds the request; releasing the last object
    // unloads the transport, which completes it, and its storage goes.
    dev.reset();
    manager.reset();
    EXPECT_FALSE(transportLoaded());
    EXPECT_EQ(canUnloadNow(), S_OK) << "nothing is left behind";
    EXPECT_EQ(reply[0], 0x5A) << "the caller's buffer is not written after Escape returned";
}

TEST_F(StiServer, ALateReplyFillsTheAbandonedRequestNotTheCallersBuffer)
{
    ::setenv("LUMARC_ESCAPE_TIMEOUT_MS", "100", 1);
    auto manager = create();
    auto dev = device(*manager.get());
    unitsim::TunnelFaults late;
    late.delay = 600ms;
    m_unit->tunnel()->setFaults(late);
    uint8_t first[96];
    std::memset(first, 0x5A, sizeof first);
    Escape timedOut(kInquiry, std::span(first));
    ASSERT_EQ(dev->Escape(1, timedOut.bytes(), 0, first, sizeof first, nullptr), S_OK);
    EXPECT_EQ(uint32_t(timedOut.result.status), 0xE4u);

    m_unit->tunnel()->setFaults({});
    std::this_thread::sleep_for(900ms); // the late reply arrives meanwhile
    uint8_t second[96] = {};
    Escape next(kInquiry, std::span(second));
    ASSERT_EQ(dev->Escape(1, next.bytes(), 0, second, sizeof second, nullptr), S_OK);
    EXPECT_EQ(uint32_t(next.result.status), 1u) << "the connection still works";
    EXPECT_EQ(std::string(reinterpret_cast<char*>(second) + 8, 7), "VELORIN");
    EXPECT_EQ(first[8], 0x5A) << "the late data did not reach the abandoned buffer";
    manager.reset();
    dev.reset();
    EXPECT_EQ(canUnloadNow(), S_OK);
}

TEST_F(StiServer, TheTransportLivesWhileAnyObjectDoes)
{
    auto first = create();
    auto second = create();
    ASSERT_TRUE(first && second);
    EXPECT_EQ(m_unit->tunnel()->connections(), 1u) << "one binding for the process";
    first.reset();
    ASSERT_TRUE(transportLoaded());
    auto dev = device(*second.get());
    uint8_t reply[96] = {};
    Escape escape(kInquiry, std::span(reply));
    ASSERT_EQ(dev->Escape(1, escape.bytes(), 0, reply, sizeof reply, nullptr), S_OK);
    EXPECT_EQ(uint32_t(escape.result.status), 1u) << "the remaining object still reaches the scanner";
    dev.reset();
    second.reset();
    EXPECT_FALSE(transportLoaded());
    EXPECT_FALSE(NamedMutex::exists("Drovik32MutexObject"));

    // A new object makes a new binding, reading the settings again.
    ASSERT_TRUE(shared::SettingsFile().write("2", "Scanner", "ORBIX-2200"));
    auto third = create();
    uint8_t* list = nullptr;
    uint32_t count = 0;
    ASSERT_EQ(third->GetDeviceList(0, 0, &count, &list), S_OK);
    EXPECT_EQ(std::u16string(reinterpret_cast<STI_DEVICE_INFORMATIONW*>(list)->pszDeviceDescription),
              u"ORBIX-2200 on NET");
    lumarc_LocalFree(list);
}

TEST_F(StiServer, ARefusedTransportStartFailsCreationAndUnloadsTheTransport)
{
    unitsim::TunnelFaults refuse;
    refuse.greetingCode = 1; // support word 0xE500
    m_unit->tunnel()->setFaults(refuse);
    void* out = reinterpret_cast<void*>(1);
    EXPECT_EQ(createInstance(CLSID_VexEmStiObj, nullptr, clsctx::kAll, IID_IVexEmStiMgr, &out),
              E_FAIL);
    EXPECT_EQ(out, nullptr);
    EXPECT_FALSE(transportLoaded());
    EXPECT_FALSE(NamedMutex::exists("Drovik32MutexObject"));

    const auto stiCreate = m_server->function<decltype(StiCreateInstanceP)>("StiCreateInstanceP");
    IVexEmStiMgr* manager = reinterpret_cast<IVexEmStiMgr*>(1);
    EXPECT_EQ((*stiCreate)(nullptr, 0, &manager, nullptr), E_FAIL);
    EXPECT_EQ(manager, nullptr);
    EXPECT_EQ(m_unit->tunnel()->connections(), 2u) << "each attempt starts the transport afresh";
    EXPECT_EQ(canUnloadNow(), S_OK);

    m_unit->tunnel()->setFaults({});
    EXPECT_EQ((*stiCreate)(nullptr, 0, &manager, nullptr), S_OK);
    ASSERT_NE(manager, nullptr);
    manager->Release();
}

// The C view of an interface pointer: a vtable pointer first, this as the
// first argument.
template <class Function> Function* slot(void* face, size_t index)
{
    return reinterpret_cast<Function*>((*static_cast<void***>(face))[index]);
}

TEST_F(StiServer, ACClientCallsThroughTheDocumentedSlots)
{
    void* manager = nullptr;
    ASSERT_EQ(createInstance(CLSID_VexEmStiObj, nullptr, clsctx::kAll, IID_IVexEmStiMgr, &manager),
              S_OK);
    uint32_t count = 0;
    uint8_t* list = nullptr;
    ASSERT_EQ(slot<HRESULT(void*, uint32_t, uint32_t, uint32_t*, uint8_t**)>(manager, 4)(
                  manager, 0, 0, &count, &list),
              S_OK);
    EXPECT_EQ(count, 1u);
    lumarc_LocalFree(list);
    void* dev = nullptr;
    ASSERT_EQ(slot<HRESULT(void*, char16_t*, uint32_t, void**, void*)>(manager, 6)(
                  manager, nullptr, 3, &dev, nullptr),
              S_OK);
    uint8_t reply[96] = {};
    Escape escape(kInquiry, std::span(reply));
    ASSERT_EQ(slot<HRESULT(void*, uint32_t, uint8_t*, uint32_t, uint8_t*, uint32_t, uint32_t*)>(
                  dev, 8)(dev, 1, escape.bytes(), 32, reply, sizeof reply, nullptr),
              S_OK);
    EXPECT_EQ(uint32_t(escape.result.status), 1u);
    EXPECT_EQ(slot<HRESULT(void*, uint32_t)>(dev, 10)(dev, 2000), S_OK); // LockDevice
    EXPECT_EQ(slot<uint32_t(void*)>(dev, 2)(dev), 1u);                 // Release
    EXPECT_EQ(slot<uint32_t(void*)>(manager, 2)(manager), 0u);
}

// Reads the stand-in's log until it holds count lines, for at most 5 s.
std::vector<std::string> waitForLines(const std::filesystem::path& log, size_t count)
{
    std::vector<std::string> lines;
    for (int i = 0; i < 250 && lines.size() < count; ++i) {
        std::this_thread::sleep_for(20ms);
        lines.clear();
        const auto text = readWholeFile(log);
        if (!text)
            continue;
        for (size_t begin = 0; begin < text->size();) {
            const size_t end = text->find('\n', begin);
            if (end == std::string::npos)
                break;
            lines.push_back(text->substr(begin, end - begin));
            begin = end + 1;
        }
    }
    return lines;
}

TEST_F(StiServer, LockAndUnlockReachTheEventModuleOnlyWhileItRuns)
{
    // Created while no event module runs: posts nothing, fails nothing.
    auto manager = create();
    auto dev = device(*manager.get());
    EXPECT_EQ(dev->LockDevice(2000), S_OK);
    EXPECT_EQ(dev->UnLockDevice(), S_OK);
    Message message;
    EXPECT_FALSE(peekMessage(message)) << "nothing lands in the caller's queue";

    const auto log = m_sandbox.root() / "kicklet.log";
    auto standIn = Process::start({(programFolder() / "kicklet_standin").string(), log.string()});
    ASSERT_TRUE(standIn) << standIn.error().text;
    for (int i = 0; i < 250 && findWindow("Kicklet") == 0; ++i)
        std::this_thread::sleep_for(20ms);
    ASSERT_NE(findWindow("Kicklet"), 0u);

    // The same object finds the event module once it runs.
    EXPECT_EQ(dev->LockDevice(2000), S_OK);
    EXPECT_EQ(dev->UnLockDevice(), S_OK);
    EXPECT_EQ(waitForLines(log, 2), (std::vector<std::string>{"0x8200 0 0", "0x8201 0 0"}));
    ASSERT_TRUE(standIn->terminate());
    EXPECT_EQ(standIn->wait(5s), 0);

    EXPECT_EQ(dev->LockDevice(2000), S_OK) << "after it ended, quietly nothing again";
}

// A folder with the client, the server and the platform library, but a
// transport that is missing or lacks an entry point.
TEST_F(StiServer, AMissingOrIncompleteTransportFailsCreationWithANullPointer)
{
    const auto folder = m_sandbox.root() / "alone";
    ASSERT_TRUE(ensureFolder(folder));
    for (const char* file : {"sti_client", "libquentysti.so", "libquentysti.tlb",
                             "liblumarcplatform.so.1"})
        std::filesystem::copy_file(programFolder() / file, folder / file);
    const auto run = [&] {
        std::string output;
        if (FILE* pipe = ::popen((folder / "sti_client").c_str(), "r")) {
            char line[256];
            while (std::fgets(line, sizeof line, pipe) != nullptr)
                output += line;
            ::pclose(pipe);
        }
        return output;
    };
    EXPECT_EQ(run(), "0x80004005 null no\n") << "no transport library";
    std::filesystem::copy_file(programFolder() / "liblumtestlib.so", folder / "libdrovik32.so");
    EXPECT_EQ(run(), "0x80004005 null no\n") << "a library without the ASPI entry points";
}

} // namespace
} // namespace lumarc::stidev
