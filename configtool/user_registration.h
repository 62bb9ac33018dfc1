// The User Registration dialog's logic: the unit's 32-slot user table, Add
// and Modify with their checks, Delete, and the backup and restore of the
// whole table with the backup password.
//
// The dialog hands the typed fields over before each action (setFields)
// and shows the state afterwards (fields, mode, which controls are usable);
// it asks the view for files, the password and the focus.
//
//   Add    --choose a row-->  Modify   (fields from the row, PIN cleared)
//   Modify --choose Add---->  Add      (fields cleared)
// Choosing the mode already in force keeps the fields.
#pragma once

#include "maintenance_access.h"
#include "texts.h"
#include "unit_management.h"

#include <array>
#include <functional>
#include <optional>
#include <string>
#include <vector>

namespace lumarc::configtool {

constexpr size_t kUserNameMaxBytes = 16;
constexpr size_t kHostMaxLength = 256;
constexpr size_t kBackupPasswordMaxLength = 16;

enum class UserMode { Add = 0, Modify = 1 };
enum class UserField { Address, UserName, Pin, Host, Close, Password };

struct UserFields {
    std::string userName;
    std::string pin;
    std::string host;
};

struct UserListRow {
    std::string id; // "1" to "32"
    std::string name;
    std::string host;
};

struct LocalDate {
    int year = 1970;
    int month = 1;
    int day = 1;
};

// What the dialog does for the logic.
class UserRegistrationView {
public:
    virtual ~UserRegistrationView() = default;
    virtual void showUsers(const std::vector<UserListRow>& rows) = 0; // 32 rows, or none
    virtual void focus(UserField field) = 0;
    // A file to back up into (it need not exist yet); nullopt on Cancel.
    virtual std::optional<std::string> askSaveFile(const std::string& defaultName) = 0;
    // An existing file to restore from; nullopt on Cancel.
    virtual std::optional<std::string> askOpenFile() = 0;
    // The backup password dialog in its backup or restore form.
    virtual std::optional<std::string> askBackupPassword(bool restoreForm) = 0;
};

class UserRegistrationLogic {
public:
    UserRegistrationLogic(UnitManagement& management, MessageBoxes& boxes, const Texts& texts,
                          std::string address, std::string unitName, std::string adminPin);

    // Opening: fields cleared, Add mode, the list loaded.
    void open(UserRegistrationView& view);

    void setFields(const UserFields& fields) { m_fields = fields; }
    const UserFields& fields() const { return m_fields; }
    UserMode mode() const { return m_mode; }
    bool userNameReadOnly() const { return m_mode == UserMode::Modify; }
    bool deleteEnabled() const { return m_deleteEnabled; }
    const std::vector<UserListRow>& rows() const { return m_rows; }
    const std::string& address() const { return m_address; }
    const std::string& unitName() const { return m_unitName; }
    const std::string& adminPin() const { return m_adminPin; }

    // A click in the list: a row, or an empty area (nullopt).
    void chooseRow(std::optional<size_t> row);
    void chooseMode(UserMode mode);
    // "Enter": register (Add) or change (Modify) the user of the fields.
    void enter();
    // "Delete": removes the highlighted row's user after asking.
    void remove();
    void backup();
    void restore();

    // The file name a backup is offered under: "<unit>_<yyyymmdd>.bin".
    std::string defaultBackupName() const;
    void setToday(std::function<LocalDate()> today) { m_today = std::move(today); }

private:
    bool loadList();
    bool addressMissing();
    bool fillInMissing(const std::string& value, uint32_t fieldName, UserField field);
    // A failed unit call: the shared messages, else the code message.
    void failed(uint32_t code, uint32_t codeMessage);
    void fileFailed(const std::string& file, uint32_t code);

    UnitManagement& m_management;
    MessageBoxes& m_boxes;
    const Texts& m_texts;
    UserRegistrationView* m_view = nullptr;
    std::string m_address;
    std::string m_unitName;
    std::string m_adminPin;
    UserFields m_fields;
    UserMode m_mode = UserMode::Add;
    std::vector<UserListRow> m_rows;
    std::optional<size_t> m_highlighted;
    bool m_deleteEnabled = false;
    std::function<LocalDate()> m_today;
};

// The backup password dialog's OK: the two fields must be equal byte for
// byte in the backup form; the restore form asks only the first.
bool backupPasswordsAccepted(const std::string& first, const std::string& second,
                             bool restoreForm);

// The user name of Add mode: every ideographic space (U+3000) becomes two
// spaces, then leading and trailing white space goes.
std::string addModeUserName(const std::string& typed);
// The host of Add mode: every space removed.
std::string withoutSpaces(const std::string& host);
// Only letters, digits, '.' and '-'.
bool hostCharactersValid(const std::string& host);
// The Add-mode host checks on the host without spaces: the characters,
// not only "0" and ".", and a leading number (within the first three
// characters) of at most 223.
bool hostAcceptedForAdd(const std::string& host);

// Text cut to at most maxBytes bytes, only ever between two UTF-8
// characters.
std::string cutUtf8(const std::string& text, size_t maxBytes);

// Whether a user name fits its 16 bytes. The edit undoes a change that
// makes the name longer (the caret goes back one position); a name taken
// from the list is cut with cutUtf8 instead.
bool userNameFits(const std::string& name);

// The message for a file that cannot be opened, read or written.
uint32_t fileErrorMessage(uint32_t win32Code);

} // namespace lumarc::configtool
