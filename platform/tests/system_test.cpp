// Error numbers, language, events, libraries, memory blocks, text encoding,
// folders, ticks and debug output.
#include "platform/debug_output.h"
#include "platform/error_codes.h"
#include "platform/event.h"
#include "platform/event_log.h"
#include "platform/folders.h"
#include "platform/language.h"
#include "platform/library.h"
#include "platform/memory_block.h"
#include "platform/text_encoding.h"
#include "platform/tick_count.h"
#include "temp_folder.h"

#include <gtest/gtest.h>

#include <cerrno>
#include <cstring>
#include <poll.h>
#include <thread>

namespace lumarc::platform {
namespace {

using namespace std::chrono_literals;

TEST(ErrorCodes, MapErrnoToWindowsCodesAndBack)
{
    EXPECT_EQ(wsaFromErrno(EADDRINUSE), 10048u);
    EXPECT_EQ(wsaFromErrno(ETIMEDOUT), 10060u);
    EXPECT_EQ(wsaFromErrno(ECONNREFUSED), 10061u);
    EXPECT_EQ(wsaFromErrno(EHOSTUNREACH), 10065u);
    EXPECT_EQ(win32FromErrno(ENOENT), 2u);
    EXPECT_EQ(win32FromErrno(EACCES), 5u);
    EXPECT_EQ(win32FromErrno(EEXIST), 183u);
    EXPECT_EQ(errnoFromCode(10048), EADDRINUSE);
    EXPECT_EQ(errnoFromCode(183), EEXIST);
    EXPECT_EQ(systemMessage(10048), std::strerror(EADDRINUSE));
    EXPECT_EQ(systemMessage(2), std::strerror(ENOENT));
    EXPECT_FALSE(systemMessage(11001).empty());
    EXPECT_EQ(systemMessage(4000000000u), "Unknown error 4000000000");
    const Error e = socketError("bind 0.0.0.0:10002", EADDRINUSE);
    EXPECT_EQ(e.code, 10048u);
    EXPECT_NE(e.text.find("errno 98"), std::string::npos) << "the raw value stays in the log";
}

TEST(Language, ComesFromTheLocaleWithEnglishAsFallBack)
{
    struct Row {
        const char* locale;
        const char* id;
        const char* abbreviation;
    };
    for (const Row& row : {Row{"ja_JP.UTF-8", "0411", "JPN"}, Row{"en_US.UTF-8", "0409", "ENU"},
                           Row{"en_GB", "0809", "ENG"}, Row{"de_CH.UTF-8@euro", "0807", "DES"},
                           Row{"de_DE", "0407", "DEU"}, Row{"fr", "040C", "FRA"},
                           Row{"zh_TW.Big5", "0404", "CHT"}, Row{"C", "0409", "ENU"},
                           Row{"POSIX", "0409", "ENU"}, Row{"", "0409", "ENU"},
                           Row{"xx_YY", "0409", "ENU"}}) {
        const Language language = languageFromLocale(row.locale);
        EXPECT_EQ(language.idText(), row.id) << row.locale;
        EXPECT_EQ(language.abbreviation, row.abbreviation) << row.locale;
    }
}

TEST(Language, LcAllWinsOverLang)
{
    ::setenv("LC_ALL", "ja_JP.UTF-8", 1);
    ::setenv("LANG", "de_DE.UTF-8", 1);
    EXPECT_EQ(userLanguage().abbreviation, "JPN");
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    EXPECT_EQ(userLanguage().abbreviation, "DEU");
    ::unsetenv("LANG");
    EXPECT_EQ(userLanguage().idText(), "0409");
}

TEST(Events, ManualResetStaysSignalledUntilReset)
{
    auto event = Event::create(EventReset::Manual);
    ASSERT_TRUE(event);
    EXPECT_FALSE(event->wait(0ms));
    ASSERT_TRUE(event->set());
    EXPECT_TRUE(event->wait(0ms));
    EXPECT_TRUE(event->wait(0ms));
    ASSERT_TRUE(event->reset());
    EXPECT_FALSE(event->wait(20ms));
}

TEST(Events, AutoResetReleasesExactlyOneWaiter)
{
    auto event = Event::create(EventReset::Auto, true);
    ASSERT_TRUE(event);
    EXPECT_TRUE(event->wait(0ms));
    EXPECT_FALSE(event->wait(0ms));

    std::atomic<int> released{0};
    std::vector<std::jthread> waiters;
    for (int i = 0; i < 4; ++i)
        waiters.emplace_back([&] { released += event->wait(300ms) ? 1 : 0; });
    std::this_thread::sleep_for(50ms);
    ASSERT_TRUE(event->set());
    waiters.clear();
    EXPECT_EQ(released.load(), 1);
}

TEST(Events, WaitForAnyNamesTheFirstSignalledAndTimesOut)
{
    auto a = Event::create(EventReset::Manual);
    auto b = Event::create(EventReset::Manual);
    ASSERT_TRUE(a && b);
    const Event* both[] = {&*a, &*b};
    const auto begin = std::chrono::steady_clock::now();
    EXPECT_EQ(waitForAny(both, 50ms), std::nullopt);
    EXPECT_GE(std::chrono::steady_clock::now() - begin, 50ms);
    std::jthread setter([&] {
        std::this_thread::sleep_for(20ms);
        (void)b->set();
    });
    EXPECT_EQ(waitForAny(both, 5s), 1u);
}

TEST(Events, ADescriptorSignalledFromOutsideWakesAPollingClient)
{
    auto event = Event::create(EventReset::Manual);
    ASSERT_TRUE(event);
    ASSERT_TRUE(Event::signal(event->fd()));
    pollfd p{event->fd(), POLLIN, 0};
    EXPECT_EQ(::poll(&p, 1, 0), 1);
}

TEST(Libraries, WindowsNamesMapToLinuxFileNames)
{
    EXPECT_EQ(linuxLibraryName("DROVIK32.dll"), "libdrovik32.so");
    EXPECT_EQ(linuxLibraryName("Drovik32.DLL"), "libdrovik32.so");
    EXPECT_EQ(linuxLibraryName("shell32"), "libshell32.so");
    EXPECT_EQ(linuxLibraryName("libfoo.so"), "libfoo.so");
    EXPECT_EQ(linuxLibraryName("/opt/x/Y.dll"), "/opt/x/Y.dll");
}

TEST(Libraries, LoadFromTheProgramFolderAndResolveExports)
{
    auto library = Library::load("LUMTESTLIB.DLL");
    ASSERT_TRUE(library) << library.error().text;
    auto answer = library->function<int()>("lumtest_answer");
    ASSERT_TRUE(answer);
    EXPECT_EQ((*answer)(), 42);
    auto missing = library->symbol("no_such_export");
    ASSERT_FALSE(missing);
    EXPECT_EQ(missing.error().code, 127u);

    auto absent = Library::load("NOSUCHLIB.dll");
    ASSERT_FALSE(absent);
    EXPECT_EQ(absent.error().code, 126u);
}

TEST(MemoryBlocks, AllocateLockAndFree)
{
    MemoryHandle block = globalAlloc(BlockFlags::ZeroInit, 64);
    ASSERT_NE(block, nullptr);
    auto* bytes = static_cast<unsigned char*>(globalLock(block));
    ASSERT_NE(bytes, nullptr);
    for (int i = 0; i < 64; ++i)
        EXPECT_EQ(bytes[i], 0);
    EXPECT_EQ(globalSize(block), 64u);
    EXPECT_TRUE(globalUnlock(block));
    EXPECT_EQ(globalFree(block), nullptr);
    EXPECT_EQ(globalFree(nullptr), nullptr);
    EXPECT_EQ(localFree(localAlloc(BlockFlags::None, 1)), nullptr);
}

TEST(MemoryBlocks, TheCExportsHandOutAndTakeBackTheBlockItself)
{
    auto* bytes = static_cast<unsigned char*>(lumarc_LocalAlloc(0x40, 300));
    ASSERT_NE(bytes, nullptr);
    for (int i = 0; i < 300; ++i)
        ASSERT_EQ(bytes[i], 0);
    std::memset(bytes, 0xAB, 300); // all of it is the caller's
    EXPECT_EQ(lumarc_LocalFree(bytes), nullptr);
    EXPECT_EQ(lumarc_LocalFree(nullptr), nullptr);
    // A heap block that did not come from lumarc_LocalAlloc is refused.
    alignas(std::max_align_t) unsigned char stray[64] = {};
    EXPECT_EQ(lumarc_LocalFree(stray + 32), stray + 32);
}

TEST(Libraries, ModulePathAndLoadedStateFollowTheLoader)
{
    EXPECT_TRUE(modulePath(reinterpret_cast<const void*>(&programFolder))
                    .filename()
                    .string()
                    .starts_with("liblumarcplatform.so"));
    EXPECT_TRUE(modulePath(nullptr).empty());
    EXPECT_FALSE(libraryLoaded("LUMTESTLIB.DLL", nullptr));
    {
        auto library = Library::load("LUMTESTLIB.DLL");
        ASSERT_TRUE(library);
        EXPECT_TRUE(libraryLoaded("LUMTESTLIB.DLL", nullptr));
        EXPECT_TRUE(libraryLoaded(library->path(), nullptr));
    }
    EXPECT_FALSE(libraryLoaded("LUMTESTLIB.DLL", nullptr)) << "checking loaded nothing";
}

TEST(TextEncoding, Utf8AndUtf16RoundTripAndBadBytesBecomeReplacements)
{
    const struct {
        const char* utf8;
        std::u16string utf16;
    } good[] = {
        {"", u""},
        {"ORBIX-4000 on NET", u"ORBIX-4000 on NET"},
        {"Gerät", u"Ger\u00E4t"},
        {"\xE3\x82\xB9\xE3\x82\xAD\xE3\x83\xA3\xE3\x83\x8A", u"\u30B9\u30AD\u30E3\u30CA"},
        {"\xF0\x9F\x93\xA0", u"\U0001F4E0"}, // outside the basic plane: a surrogate pair
    };
    for (const auto& c : good) {
        EXPECT_EQ(ansiToWide(c.utf8), c.utf16) << c.utf8;
        EXPECT_EQ(wideToAnsi(c.utf16), c.utf8) << c.utf8;
    }
    const struct {
        std::string utf8;
        std::u16string utf16;
    } bad[] = {
        {"a\x80" "b", u"a\uFFFDb"},         // a lone continuation byte
        {"\xC0\xAF", u"\uFFFD\uFFFD"},       // overlong
        {"\xED\xA0\x80", u"\uFFFD\uFFFD\uFFFD"}, // an encoded surrogate
        {"\xF4\x90\x80\x80", u"\uFFFD\uFFFD\uFFFD\uFFFD"}, // above U+10FFFF
        {"\xE3\x82", u"\uFFFD"},              // cut off at the end
        {"\xE3\x82x", u"\uFFFDx"},            // cut off in the middle
    };
    for (const auto& c : bad)
        EXPECT_EQ(ansiToWide(c.utf8), c.utf16) << ::testing::PrintToString(c.utf8);
    EXPECT_EQ(wideToAnsi(u"a\xD800" u"b"), "a\xEF\xBF\xBD" "b") << "an unpaired surrogate";
}

TEST(Folders, FollowTheEnvironment)
{
    lumarc::testing::SandboxEnvironment sandbox;
    EXPECT_EQ(appDataFolder(), sandbox.root() / "config");
    EXPECT_EQ(windowsFolder(), sandbox.root() / "windows");
    EXPECT_EQ(systemFolder(), sandbox.root() / "windows" / "system32");
    EXPECT_EQ(userProfileFile(), sandbox.root() / "windows" / "win.ini");
    EXPECT_TRUE(std::filesystem::exists(programFolder() / "platform_tests"));

    ::setenv("XDG_CONFIG_HOME", "relative/path", 1);
    EXPECT_TRUE(appDataFolder().is_absolute()) << "a relative XDG value is ignored";
}

TEST(TickCount, CountsMilliseconds)
{
    const uint32_t before = tickCount();
    std::this_thread::sleep_for(50ms);
    const uint32_t elapsed = tickCount() - before;
    EXPECT_GE(elapsed, 50u);
    EXPECT_LT(elapsed, 5000u);
}

TEST(Diagnostics, DebugLinesAndEventEntriesReachTheInstalledSinks)
{
    std::string captured;
    const bool wantedBefore = debugOutputWanted(); // true only under LUMARC_DEBUG=1
    {
        ScopedDebugSink sink([&](std::string_view text) { captured += text; });
        EXPECT_TRUE(debugOutputWanted()) << "a sink reads every line";
        debugOutput("(Quillet) Error bind()\n");
    }
    EXPECT_EQ(debugOutputWanted(), wantedBefore) << "removing the sink restores the default";
    debugOutput("not captured\n");
    EXPECT_EQ(captured, "(Quillet) Error bind()\n");

    std::vector<EventLogEntry> entries;
    auto previous = setEventLogSink([&](const EventLogEntry& e) { entries.push_back(e); });
    reportEvent({"Zorvan", EventType::Information, 0x4000001E, 20000, {"No Information"}});
    setEventLogSink(std::move(previous));
    ASSERT_EQ(entries.size(), 1u);
    EXPECT_EQ(formatEventLogEntry(entries[0]), "event 0x4000001E category 20000: No Information");
    EXPECT_EQ(formatEventLogEntry({"Zorvan", EventType::Error, 0xC000000A, 20001, {}}),
              "event 0xC000000A category 20001");
}

} // namespace
} // namespace lumarc::platform
