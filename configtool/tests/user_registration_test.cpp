// The User Registration dialog's logic against a fake unit: the host and
// name rules, Add, Modify and Delete with the unit's answers, and the
// backup and restore files.
#include "fakes.h"

#include "platform/tests/temp_folder.h"

#include <gtest/gtest.h>

#include <csignal>
#include <fstream>
#include <sys/resource.h>
#include <sys/stat.h>

namespace lumarc::configtool {
namespace {

using namespace testing;
namespace fs = std::filesystem;

TEST(UserRules, HostChecksOfAddMode)
{
    struct Case {
        std::string typed;
        bool accepted;
    };
    const Case cases[] = {
        {"0.0.0.0", false},     {"0", false},          {"...", false},
        {"192.168.1.5", true},  {"9.1.2.3", true},     {"scanpc-2", true},
        {"224.0.0.1", false},   {"host_1", false},     {"223.255.0.1", true},
        {"2234.1", true},       {"   ", false},        {"192.168. 1.5", true},
        {"scan pc", true},      {"pc.example", true},  {"0.0.0.1", true},
        {"host/1", false},      {"üser", false},       {"99x", true},
    };
    for (const Case& c : cases)
        EXPECT_EQ(hostAcceptedForAdd(withoutSpaces(c.typed)), c.accepted) << "'" << c.typed << "'";
    EXPECT_EQ(withoutSpaces(" 192.168. 1.5 "), "192.168.1.5");
}

TEST(UserRules, UserNamesOfAddModeAndTheSixteenByteLimit)
{
    EXPECT_EQ(addModeUserName("\xE3\x80\x80" "alice "), "alice") << "ideographic and plain space";
    EXPECT_EQ(addModeUserName("al\xE3\x80\x80" "ice"), "al  ice") << "inside: two spaces";
    EXPECT_EQ(addModeUserName("\t \xE3\x80\x80"), "");
    EXPECT_EQ(addModeUserName("\xE3\x80"), "\xE3\x80") << "a cut sequence stays as it is";

    const std::string kanji = "\xE5\xB1\xB1"; // 3 bytes
    EXPECT_EQ(cutUtf8(kanji + kanji + kanji + kanji + kanji + kanji, 16).size(), 15u);
    EXPECT_EQ(cutUtf8("abcdefghijklmnopq", 16), "abcdefghijklmnop");
    EXPECT_EQ(cutUtf8("abcdefghijklmno" + kanji, 16), "abcdefghijklmno");
    EXPECT_EQ(cutUtf8("short", 16), "short");
    EXPECT_TRUE(userNameFits("abcdefghijklmnop"));
    EXPECT_FALSE(userNameFits("abcdefghijklmn" + kanji));
}

TEST(UserRules, BackupPasswordsMustMatchExactlyInTheBackupFormOnly)
{
    EXPECT_TRUE(backupPasswordsAccepted("secret", "secret", false));
    EXPECT_FALSE(backupPasswordsAccepted("secret", "Secret", false));
    EXPECT_FALSE(backupPasswordsAccepted("secret", "secret ", false));
    EXPECT_TRUE(backupPasswordsAccepted("secret", "", true));
}

class FakeUserView : public UserRegistrationView {
public:
    void showUsers(const std::vector<UserListRow>& shown) override { rows = shown; }
    void focus(UserField field) override { focused.push_back(field); }
    std::optional<std::string> askSaveFile(const std::string& name) override
    {
        offeredName = name;
        return saveFile;
    }
    std::optional<std::string> askOpenFile() override { return openFile; }
    std::optional<std::string> askBackupPassword(bool restoreForm) override
    {
        passwordForms.push_back(restoreForm);
        return password;
    }
    std::vector<UserListRow> rows;
    std::vector<UserField> focused;
    std::string offeredName;
    std::optional<std::string> saveFile, openFile, password = std::string("key");
    std::vector<bool> passwordForms;
};

class Users : public ::testing::Test {
protected:
    void SetUp() override
    {
        m_unit.users[0] = {"alice", "1111", "192.0.2.20"};
        m_unit.users[2] = {"bob", "2222", "scanpc-2"};
        m_logic.setToday([] { return LocalDate{2005, 4, 12}; });
        m_logic.open(m_view);
    }
    void add(const std::string& name, const std::string& pin, const std::string& host)
    {
        m_logic.chooseMode(UserMode::Add);
        m_logic.setFields({name, pin, host});
        m_logic.enter();
    }

    lumarc::testing::TempFolder m_folder;
    FakeUnit m_unit;
    FakeBoxes m_boxes;
    Texts m_texts;
    FakeUserView m_view;
    UserRegistrationLogic m_logic{m_unit, m_boxes, m_texts, "192.0.2.10", "Lobby", "1234"};
};

TEST_F(Users, TheListAlwaysHoldsThirtyTwoNumberedRows)
{
    ASSERT_EQ(m_view.rows.size(), 32u);
    EXPECT_EQ(m_view.rows[0].id, "1");
    EXPECT_EQ(m_view.rows[0].name, "alice");
    EXPECT_EQ(m_view.rows[1].name, "") << "a free slot";
    EXPECT_EQ(m_view.rows[2].host, "scanpc-2");
    EXPECT_EQ(m_view.rows[31].id, "32");
    EXPECT_EQ(m_logic.mode(), UserMode::Add);
    EXPECT_FALSE(m_logic.deleteEnabled());
    EXPECT_EQ(m_unit.calls[0], "getUserList 1234");

    m_unit.forced["getUserList"] = 0x80000004;
    m_logic.open(m_view);
    EXPECT_TRUE(m_view.rows.empty()) << "a failed load leaves the list empty";
    EXPECT_EQ(m_boxes.last(), "Failed to get User List");
}

TEST_F(Users, ChoosingRowsAndModes)
{
    m_logic.setFields({"typed", "99", "h"});
    m_logic.chooseRow(0);
    EXPECT_EQ(m_logic.mode(), UserMode::Modify);
    EXPECT_TRUE(m_logic.userNameReadOnly());
    EXPECT_TRUE(m_logic.deleteEnabled());
    EXPECT_EQ(m_logic.fields().userName, "alice");
    EXPECT_EQ(m_logic.fields().pin, "");
    EXPECT_EQ(m_logic.fields().host, "192.0.2.20");

    for (const std::optional<size_t> row : {std::optional<size_t>(1), std::optional<size_t>()}) {
        m_logic.chooseMode(UserMode::Add);
        m_logic.chooseRow(row); // a free slot, then an empty area of the list
        EXPECT_EQ(m_logic.mode(), UserMode::Modify);
        EXPECT_EQ(m_logic.fields().userName, "");
        EXPECT_EQ(m_logic.fields().host, "");
        EXPECT_FALSE(m_logic.deleteEnabled());
    }

    m_logic.setFields({"kept", "5", "kept-host"});
    m_logic.chooseMode(UserMode::Modify); // already in force
    EXPECT_EQ(m_logic.fields().pin, "5");
    m_logic.chooseMode(UserMode::Add);
    EXPECT_EQ(m_logic.fields().userName, "");
    EXPECT_FALSE(m_logic.userNameReadOnly());

    // A name the unit holds beyond 16 bytes is cut between characters.
    m_unit.users[5] = {"abcdefghijklmn\xE5\xB1\xB1xyz", "1", "h"};
    m_logic.open(m_view);
    m_logic.chooseRow(5);
    EXPECT_EQ(m_logic.fields().userName, "abcdefghijklmn");
    // ...and Modify still names that user, not one whose name is the cut.
    m_logic.setFields({"abcdefghijklmn", "77", "h2"});
    m_logic.enter();
    ASSERT_GE(m_unit.calls.size(), 2u);
    EXPECT_EQ(m_unit.calls[m_unit.calls.size() - 2],
              "adminUserEntry 1 [abcdefghijklmn\xE5\xB1\xB1xyz] [77] [h2] 1234");
}

TEST_F(Users, AddChecksItsFieldsInOrderAndSendsTheCleanedValues)
{
    struct Case {
        UserFields fields;
        std::string message;
        std::optional<UserField> focus;
    };
    const Case cases[] = {
        {{"  ", "1", "h"}, "No information. Please fill in the blank of User Name.", UserField::UserName},
        {{"carol", "", "h"}, "No information. Please fill in the blank of PIN Code.", UserField::Pin},
        {{"carol", "1", ""}, "No information. Please fill in the blank of Host name/IP address.", UserField::Host},
        {{"carol", "1", "224.0.0.1"}, "Host name/IP address is incorrect.\nType again.", UserField::Host},
        {{"carol", "1", "host_1"}, "Host name/IP address is incorrect.\nType again.", UserField::Host},
    };
    for (const Case& c : cases) {
        m_boxes.shown.clear();
        m_view.focused.clear();
        m_unit.calls.clear();
        add(c.fields.userName, c.fields.pin, c.fields.host);
        EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(m_view.focused, std::vector<UserField>{*c.focus});
        EXPECT_TRUE(m_unit.calls.empty()) << "nothing is sent";
    }
    EXPECT_EQ(m_boxes.shown[0].icon, BoxIcon::Error) << "the host message";

    m_boxes.shown.clear();
    add("\xE3\x80\x80" "carol ", "4567", " scanpc 3 ");
    EXPECT_EQ(m_unit.calls.front(), "userEntry [carol] [4567] [scanpc3]");
    EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{"User information was registered successfully."});
    EXPECT_EQ(m_boxes.shown[0].icon, BoxIcon::Information);
    EXPECT_EQ(m_view.rows[1].name, "carol") << "the list was loaded again";
}

TEST_F(Users, TheUnitsAnswersToAnAddAreShownByCode)
{
    struct Case {
        uint32_t code;
        std::string message;
    };
    const Case cases[] = {
        {0x80, "User information can not be registered. Maximum number of users are already registered."},
        {0x81, "This user name is already registered. Please try another one."},
        {0x400, "It is already in maintenance mode. Start again after the maintenance mode is completed."},
        {0x500, "Unable to continue the operation due to timeout. Quit the application and try again."},
        {0x80000004, "Can not communicate with Lumarc. Check the following and do it again.  \n- Is network cable connected? \n- Is there any problems with Network environment or the settings?"},
        {0x84, "Can not register user information. \r\nError code = 0x00000084"},
        {10061, "Can not register user information. \r\nError code = 0x0000274D"},
    };
    for (const Case& c : cases) {
        m_boxes.shown.clear();
        m_unit.forced["userEntry"] = c.code;
        add("dave", "1", "192.168.1.5");
        EXPECT_EQ(m_boxes.texts(), std::vector<std::string>{c.message});
        EXPECT_EQ(m_boxes.shown.at(0).icon, BoxIcon::Error);
    }
}

TEST_F(Users, ModifySendsWithoutTrimmingAndChecksOnlyTheCharactersOfTheHost)
{
    m_logic.chooseRow(0);
    m_logic.setFields({"alice", "", "pc with space"});
    m_logic.enter();
    EXPECT_EQ(m_boxes.last(), "Host name/IP address is incorrect.\nType again.");
    m_logic.setFields({"alice", "", "224.0.0.1"});
    m_logic.enter();
    ASSERT_GE(m_unit.calls.size(), 2u);
    EXPECT_EQ(m_unit.calls[m_unit.calls.size() - 2], "adminUserEntry 1 [alice] [] [224.0.0.1] 1234")
        << "an empty PIN is sent as it is; no range check in Modify";
    EXPECT_EQ(m_boxes.last(), "User information was modified.");

    m_unit.forced["adminUserEntry"] = 0x82;
    m_logic.enter();
    EXPECT_EQ(m_boxes.last(), "Can not modify user information. \r\nError code = 0x00000082");
}

TEST_F(Users, DeleteAsksThenRemovesTheHighlightedUserAndClearsTheFields)
{
    m_logic.chooseRow(1);
    m_logic.remove();
    EXPECT_TRUE(m_boxes.shown.empty()) << "a free slot: nothing to ask";

    m_logic.chooseRow(2);
    m_boxes.answers = {BoxAnswer::Cancel};
    m_logic.remove();
    EXPECT_EQ(m_unit.users[2].name, "bob");
    EXPECT_EQ(m_boxes.shown[0].text, "OK to remove?");
    EXPECT_EQ(m_boxes.shown[0].buttons, BoxButtons::OkCancel);

    m_logic.remove();
    EXPECT_EQ(m_unit.calls.back(), "getUserList 1234");
    EXPECT_EQ(m_unit.users[2].name, "");
    EXPECT_EQ(m_boxes.last(), "User information was deleted.");
    EXPECT_EQ(m_logic.fields().userName, "");
    EXPECT_EQ(m_logic.fields().host, "");
    EXPECT_EQ(m_view.focused.back(), UserField::Close);

    m_logic.chooseRow(0);
    m_unit.forced["adminUserEntry"] = 0x400;
    m_logic.remove();
    EXPECT_EQ(m_boxes.last(), "It is already in maintenance mode. Start again after the maintenance mode is completed.");
}

TEST_F(Users, AnEmptyAddressStopsEveryActionAtTheAddressField)
{
    UserRegistrationLogic logic(m_unit, m_boxes, m_texts, "", "Lobby", "1234");
    logic.open(m_view);
    logic.setFields({"x", "1", "h"});
    logic.enter();
    logic.backup();
    logic.restore();
    EXPECT_EQ(m_view.focused, std::vector<UserField>(4, UserField::Address));
    EXPECT_TRUE(m_boxes.shown.empty());
}

TEST_F(Users, BackupWritesTheWholeBlockOwnerOnlyUnderTheOfferedName)
{
    m_view.saveFile = (m_folder / "Lobby_20050412.bin").string();
    m_logic.backup();
    EXPECT_EQ(m_view.offeredName, "Lobby_20050412.bin");
    EXPECT_EQ(m_view.passwordForms, std::vector<bool>{false});
    EXPECT_EQ(m_unit.calls.back(), "getAllUser 1234 key");
    EXPECT_EQ(m_boxes.last(), "All user information was successfully backed up.");
    EXPECT_EQ(fs::file_size(*m_view.saveFile), kUserDatabaseSize);
    struct stat st {};
    ASSERT_EQ(::stat(m_view.saveFile->c_str(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()), 1)
        << "no partial file is left beside it";

    // The unit name never leads the file elsewhere.
    UserRegistrationLogic slashed(m_unit, m_boxes, m_texts, "192.0.2.10", "a/b", "1234");
    slashed.setToday([] { return LocalDate{2024, 1, 2}; });
    EXPECT_EQ(slashed.defaultBackupName(), "a_b_20240102.bin");
}

TEST_F(Users, AFailedBackupLeavesAnEarlierFileAsItWas)
{
    const fs::path file = m_folder / "backup.bin";
    std::ofstream(file) << "earlier backup";
    m_view.saveFile = file.string();

    m_unit.forced["getAllUser"] = 0x85;
    m_logic.backup();
    EXPECT_EQ(m_boxes.last(), "Failed to backup all user infomation.\nError code = 00000085");
    m_unit.forced.clear();

    // A write that fails half way: the file size limit of the process.
    struct rlimit saved {};
    ASSERT_EQ(::getrlimit(RLIMIT_FSIZE, &saved), 0);
    struct rlimit small = saved;
    small.rlim_cur = 4096;
    const auto oldHandler = std::signal(SIGXFSZ, SIG_IGN);
    ASSERT_EQ(::setrlimit(RLIMIT_FSIZE, &small), 0);
    m_logic.backup();
    ::setrlimit(RLIMIT_FSIZE, &saved);
    std::signal(SIGXFSZ, oldHandler);
    EXPECT_EQ(m_boxes.last(), "An unknown error occurred while accessing " + file.string() + ".");
    std::ifstream in(file);
    EXPECT_EQ(std::string(std::istreambuf_iterator<char>(in), {}), "earlier backup");
    EXPECT_EQ(std::distance(fs::directory_iterator(m_folder.path()), fs::directory_iterator()), 1);

    m_view.saveFile = (m_folder / "no-such-folder" / "b.bin").string();
    m_logic.backup();
    EXPECT_EQ(m_boxes.last(), *m_view.saveFile + " was not found.");

    m_boxes.shown.clear();
    m_view.password.reset();
    m_logic.backup();
    EXPECT_TRUE(m_boxes.shown.empty()) << "Cancel in the password dialog";
}

TEST_F(Users, RestoreSendsTheFirstBlockOfTheFileAndRefusesAShortOne)
{
    const fs::path longer = m_folder / "longer.bin";
    {
        std::ofstream out(longer, std::ios::binary);
        for (size_t i = 0; i < kUserDatabaseSize + 100; ++i)
            out.put(static_cast<char>(i % 251));
    }
    m_view.openFile = longer.string();
    m_logic.restore();
    EXPECT_EQ(m_view.passwordForms, std::vector<bool>{true});
    ASSERT_EQ(m_unit.restored.size(), kUserDatabaseSize);
    EXPECT_EQ(m_unit.restored.back(), static_cast<uint8_t>((kUserDatabaseSize - 1) % 251));
    EXPECT_EQ(m_boxes.last(), "All user information was successfully restored.");
    EXPECT_EQ(m_unit.calls.back(), "getUserList 1234") << "the list was loaded again";

    const fs::path shorter = m_folder / "shorter.bin";
    std::ofstream(shorter) << std::string(1000, 'x');
    m_view.openFile = shorter.string();
    m_unit.restored.clear();
    m_view.passwordForms.clear();
    m_logic.restore();
    EXPECT_EQ(m_boxes.last(), shorter.string() +
                                  " is not a complete user information backup: it holds 1000 bytes, "
                                  "and a backup holds 344320 bytes.\nNothing was sent to the unit.");
    EXPECT_TRUE(m_unit.restored.empty());
    EXPECT_TRUE(m_view.passwordForms.empty()) << "refused before the password is asked";

    m_view.openFile = (m_folder / "missing.bin").string();
    m_logic.restore();
    EXPECT_EQ(m_boxes.last(), *m_view.openFile + " was not found.");

    m_view.openFile = longer.string();
    m_unit.forced["putAllUser"] = 0x85;
    m_logic.restore();
    EXPECT_EQ(m_boxes.last(), "Failed to restore all user infomation.\nError code = 00000085");
}

} // namespace
} // namespace lumarc::configtool
