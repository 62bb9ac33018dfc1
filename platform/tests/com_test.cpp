// The COM runtime with a small test server: per-thread initialisation,
// creation through the registry, ProgIDs and unloading.
#include "platform/com.h"
#include "platform/folders.h"
#include "platform/library.h"
#include "platform/registry.h"
#include "platform/tests/temp_folder.h"
#include "platform/tests/test_com_server.h"

#include <gtest/gtest.h>

#include <thread>

namespace lumarc::platform {
namespace {

using lumarc::testing::INumber;
constexpr Guid kClassId = lumarc::testing::kNumberClassId;
constexpr Guid kNumberId = lumarc::testing::kNumberInterfaceId;

const std::string kServerName = "liblumtestcom.so";

class Com : public ::testing::Test {
protected:
    void SetUp() override { ASSERT_EQ(comInitialize(), S_OK); }
    void TearDown() override { comUninitialize(); }

    std::string serverPath() const { return (programFolder() / kServerName).string(); }
    void registerServer(const std::string& path)
    {
        Registry registry;
        const std::string key = "CLSID\\" + formatGuid(kClassId);
        ASSERT_TRUE(registry.setValue(RegistryRoot::ClassesRoot, key + "\\InprocServer32", "", path));
        ASSERT_TRUE(registry.setValue(RegistryRoot::ClassesRoot, "Test.Number\\CLSID", "",
                                      formatGuid(kClassId)));
    }
    bool serverLoaded() const { return libraryLoaded(serverPath(), nullptr); }

    lumarc::testing::SandboxEnvironment m_sandbox;
};

TEST_F(Com, InitialisationIsCountedPerThreadAndKeepsItsApartment)
{
    EXPECT_TRUE(comInitialized());
    EXPECT_EQ(comInitialize(), S_FALSE);
    EXPECT_EQ(comInitialize(Apartment::MultiThreaded), RPC_E_CHANGED_MODE);
    comUninitialize();
    EXPECT_TRUE(comInitialized()) << "one more initialise is outstanding";
    std::thread([] {
        EXPECT_FALSE(comInitialized()) << "another thread starts without COM";
        void* out = reinterpret_cast<void*>(1);
        EXPECT_EQ(createInstance(kClassId, nullptr, clsctx::kAll, IID_IUnknown, &out),
                  CO_E_NOTINITIALIZED);
        EXPECT_EQ(out, nullptr);
        EXPECT_EQ(comInitialize(Apartment::MultiThreaded), S_OK);
        comUninitialize();
    }).join();
}

TEST_F(Com, CreationFailuresSayWhatIsMissing)
{
    ComPtr<INumber> number;
    EXPECT_EQ(createInstance(kClassId, nullptr, clsctx::kAll, kNumberId, number.putVoid()),
              REGDB_E_CLASSNOTREG);
    registerServer(serverPath());
    EXPECT_EQ(createInstance(kClassId, nullptr, clsctx::kLocalServer, kNumberId, number.putVoid()),
              REGDB_E_CLASSNOTREG)
        << "only in-process servers exist";
    EXPECT_EQ(createInstance(kClassId, nullptr, clsctx::kAll, kNumberId, nullptr), E_POINTER);

    registerServer((programFolder() / "libnosuchserver.so").string());
    EXPECT_EQ(createInstance(kClassId, nullptr, clsctx::kAll, kNumberId, number.putVoid()),
              CO_E_DLLNOTFOUND);
    registerServer((programFolder() / "liblumtestlib.so").string()); // no DllGetClassObject
    EXPECT_EQ(createInstance(kClassId, nullptr, clsctx::kAll, kNumberId, number.putVoid()),
              CO_E_ERRORINDLL);
    EXPECT_FALSE(number);
}

TEST_F(Com, ObjectsComeFromTheRegisteredLibraryByClassIdOrProgId)
{
    registerServer(serverPath());
    Guid clsid;
    ASSERT_EQ(classIdFromProgId("test.number", clsid), S_OK) << "names ignore case";
    EXPECT_EQ(clsid, kClassId);
    EXPECT_EQ(classIdFromProgId("Test.Unknown", clsid), CO_E_CLASSSTRING);
    EXPECT_EQ(classIdFromProgId("", clsid), CO_E_CLASSSTRING);

    ComPtr<INumber> number;
    ASSERT_EQ(createInstance(clsid, nullptr, clsctx::kInprocServer, kNumberId, number.putVoid()),
              S_OK);
    EXPECT_EQ(number->Number(), 42);
    ComPtr<IUnknown> other;
    EXPECT_EQ(createInstance(kClassId, nullptr, clsctx::kAll, IID_IClassFactory, other.putVoid()),
              E_NOINTERFACE)
        << "the factory's answer is passed on";
    EXPECT_FALSE(other);
}

TEST_F(Com, TheLastUninitialiseUnloadsOnlyLibrariesThatAllowIt)
{
    registerServer(serverPath());
    ComPtr<INumber> number;
    ASSERT_EQ(createInstance(kClassId, nullptr, clsctx::kAll, kNumberId, number.putVoid()), S_OK);
    ComPtr<IClassFactory> factory;
    ASSERT_EQ(getClassObject(kClassId, clsctx::kAll, IID_IClassFactory, factory.putVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(1), S_OK);
    factory.reset();
    ASSERT_TRUE(serverLoaded());

    freeUnusedLibraries();
    EXPECT_TRUE(serverLoaded()) << "an object lives and a lock is held";
    number.reset();
    freeUnusedLibraries();
    EXPECT_TRUE(serverLoaded()) << "the server lock is held";

    ASSERT_EQ(getClassObject(kClassId, clsctx::kAll, IID_IClassFactory, factory.putVoid()), S_OK);
    ASSERT_EQ(factory->LockServer(0), S_OK);
    factory.reset();
    EXPECT_EQ(comInitialize(), S_FALSE);
    comUninitialize();
    EXPECT_TRUE(serverLoaded()) << "not this thread's last uninitialise";
    comUninitialize();
    EXPECT_FALSE(serverLoaded());
    EXPECT_EQ(comInitialize(), S_OK); // for TearDown
}

} // namespace
} // namespace lumarc::platform
