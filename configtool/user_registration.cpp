// The User Registration dialog's logic.
#include "user_registration.h"

#include "platform/error_codes.h"
#include "platform/file_io.h"
#include "platform/output_file.h"

#include <algorithm>
#include <cstdio>
#include <ctime>

namespace lumarc::configtool {
namespace {

constexpr std::string_view kIdeographicSpace = "\xE3\x80\x80"; // U+3000
constexpr std::string_view kWhiteSpace = " \t\r\n\v\f";
constexpr std::string_view kHostCharacters =
    "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789.-";
constexpr uint32_t kHighestUnicastFirstOctet = 223;
constexpr mode_t kBackupFileMode = 0600; // the block holds the users' PINs

LocalDate localToday()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    ::localtime_r(&now, &local);
    return {local.tm_year + 1900, local.tm_mon + 1, local.tm_mday};
}

} // namespace

std::string addModeUserName(const std::string& typed)
{
    std::string name;
    for (size_t i = 0; i < typed.size();) {
        if (typed.compare(i, kIdeographicSpace.size(), kIdeographicSpace) == 0) {
            name += "  ";
            i += kIdeographicSpace.size();
        } else {
            name += typed[i++];
        }
    }
    const size_t first = name.find_first_not_of(kWhiteSpace);
    if (first == std::string::npos)
        return {};
    const size_t last = name.find_last_not_of(kWhiteSpace);
    return name.substr(first, last - first + 1);
}

std::string withoutSpaces(const std::string& host)
{
    std::string out;
    std::copy_if(host.begin(), host.end(), std::back_inserter(out), [](char c) { return c != ' '; });
    return out;
}

bool hostCharactersValid(const std::string& host)
{
    return host.find_first_not_of(kHostCharacters) == std::string::npos;
}

bool hostAcceptedForAdd(const std::string& host)
{
    if (!hostCharactersValid(host))
        return false;
    // Only zeros and dots (and nothing at all) name no host.
    if (host.find_first_not_of("0.") == std::string::npos)
        return false;
    // A leading number above 223 is a multicast or reserved first octet.
    uint32_t leading = 0;
    for (size_t i = 0; i < std::min<size_t>(3, host.size()) && host[i] >= '0' && host[i] <= '9';
         ++i)
        leading = leading * 10 + static_cast<uint32_t>(host[i] - '0');
    return leading <= kHighestUnicastFirstOctet;
}

std::string cutUtf8(const std::string& text, size_t maxBytes)
{
    if (text.size() <= maxBytes)
        return text;
    size_t end = maxBytes;
    // Back over continuation bytes to the start of the character that does
    // not fit.
    while (end > 0 && (static_cast<unsigned char>(text[end]) & 0xC0) == 0x80)
        --end;
    return text.substr(0, end);
}

bool userNameFits(const std::string& name)
{
    return name.size() <= kUserNameMaxBytes;
}

bool backupPasswordsAccepted(const std::string& first, const std::string& second,
                             bool restoreForm)
{
    return restoreForm || first == second;
}

uint32_t fileErrorMessage(uint32_t win32Code)
{
    namespace win32 = platform::win32;
    switch (win32Code) {
    case win32::kFileNotFound:
        return sid::kFileNotFound;
    case win32::kPathNotFound:
    case win32::kInvalidName:
    case win32::kFilenameTooLong:
        return sid::kFileBadPath;
    case win32::kTooManyOpenFiles:
        return sid::kFileTooManyOpen;
    case win32::kAccessDenied:
    case win32::kWriteProtect:
        return sid::kFileAccessDenied;
    case win32::kDiskFull:
        return sid::kFileDiskFull;
    default:
        return sid::kFileErrorGeneric;
    }
}

UserRegistrationLogic::UserRegistrationLogic(UnitManagement& management, MessageBoxes& boxes,
                                             const Texts& texts, std::string address,
                                             std::string unitName, std::string adminPin)
    : m_management(management), m_boxes(boxes), m_texts(texts), m_address(std::move(address)),
      m_unitName(std::move(unitName)), m_adminPin(std::move(adminPin)), m_today(localToday)
{
    if (m_address.size() > kAddressMaxLength)
        m_address.resize(kAddressMaxLength);
    m_unitName = cutUtf8(m_unitName, kUnitNameMaxLength);
}

void UserRegistrationLogic::open(UserRegistrationView& view)
{
    m_view = &view;
    m_fields = {};
    m_mode = UserMode::Add;
    m_highlighted.reset();
    loadList();
    m_deleteEnabled = false;
}

bool UserRegistrationLogic::addressMissing()
{
    if (!m_address.empty())
        return false;
    m_view->focus(UserField::Address);
    return true;
}

bool UserRegistrationLogic::loadList()
{
    if (addressMissing())
        return false;
    std::array<uint8_t, kUserListSize> list{};
    const uint32_t code = m_management.getUserList(m_address, m_adminPin, list);
    m_rows.clear();
    m_highlighted.reset();
    if (code != result::kOk) {
        m_view->showUsers(m_rows);
        showMessage(m_boxes, m_texts, sid::kUserListFailed, BoxIcon::Error);
        return false;
    }
    for (size_t i = 0; i < kUserSlots; ++i) {
        const auto* record = reinterpret_cast<const char*>(list.data() + i * kUserRecordSize);
        m_rows.push_back({std::to_string(i + 1), fieldText(record, 32),
                          fieldText(record + 32, kUserRecordSize - 32)});
    }
    m_view->showUsers(m_rows);
    // The rebuilt list has no highlighted row.
    m_deleteEnabled = false;
    return true;
}

void UserRegistrationLogic::chooseRow(std::optional<size_t> row)
{
    if (row && *row >= m_rows.size())
        row.reset();
    m_highlighted = row;
    m_deleteEnabled = row && !m_rows[*row].name.empty();
    m_fields.userName = row ? cutUtf8(m_rows[*row].name, kUserNameMaxBytes) : std::string();
    m_fields.pin.clear();
    m_fields.host = row ? m_rows[*row].host : std::string();
    if (m_mode == UserMode::Add)
        m_mode = UserMode::Modify;
}

void UserRegistrationLogic::chooseMode(UserMode mode)
{
    if (mode == m_mode)
        return;
    m_mode = mode;
    if (mode == UserMode::Add)
        m_fields = {};
    else
        m_fields.pin.clear();
}

bool UserRegistrationLogic::fillInMissing(const std::string& value, uint32_t fieldName,
                                          UserField field)
{
    if (!value.empty())
        return false;
    m_boxes.show(insertTexts(m_texts(sid::kFillIn), {m_texts(fieldName)}),
                 m_texts(sid::kProgramTitle), BoxIcon::Warning, BoxButtons::Ok);
    m_view->focus(field);
    return true;
}

void UserRegistrationLogic::failed(uint32_t code, uint32_t codeMessage)
{
    if (const uint32_t shared = sharedResultMessage(code); shared != 0)
        showMessage(m_boxes, m_texts, shared, BoxIcon::Error);
    else
        showCodeMessage(m_boxes, m_texts, codeMessage, code);
}

void UserRegistrationLogic::fileFailed(const std::string& file, uint32_t code)
{
    m_boxes.show(insertTexts(m_texts(fileErrorMessage(code)), {file}),
                 m_texts(sid::kProgramTitle), BoxIcon::Error, BoxButtons::Ok);
}

void UserRegistrationLogic::enter()
{
    if (addressMissing())
        return;
    if (m_mode == UserMode::Add) {
        const std::string name = addModeUserName(m_fields.userName);
        if (fillInMissing(name, sid::kFieldUserName, UserField::UserName) ||
            fillInMissing(m_fields.pin, sid::kFieldPin, UserField::Pin) ||
            fillInMissing(m_fields.host, sid::kFieldHost, UserField::Host))
            return;
        const std::string host = withoutSpaces(m_fields.host);
        if (!hostAcceptedForAdd(host)) {
            showMessage(m_boxes, m_texts, sid::kHostIncorrect, BoxIcon::Error);
            m_view->focus(UserField::Host);
            return;
        }
        const uint32_t code = m_management.userEntry(m_address, name, m_fields.pin, host);
        switch (code) {
        case result::kOk:
            showMessage(m_boxes, m_texts, sid::kUserRegistered, BoxIcon::Information);
            loadList();
            return;
        case result::kTableFull:
            showMessage(m_boxes, m_texts, sid::kUserTableFull, BoxIcon::Error);
            return;
        case result::kNameTaken:
            showMessage(m_boxes, m_texts, sid::kUserNameTaken, BoxIcon::Error);
            return;
        default:
            failed(code, sid::kRegisterFailed);
            return;
        }
    }

    if (fillInMissing(m_fields.userName, sid::kFieldUserName, UserField::UserName) ||
        fillInMissing(m_fields.host, sid::kFieldHost, UserField::Host))
        return;
    if (!hostCharactersValid(m_fields.host)) {
        showMessage(m_boxes, m_texts, sid::kHostIncorrect, BoxIcon::Error);
        m_view->focus(UserField::Host);
        return;
    }
    // The unit finds the user by the whole name; the field shows at most 16
    // bytes of a longer one, so the row's own name is what is sent.
    const std::string& name = m_highlighted && *m_highlighted < m_rows.size() &&
                                      cutUtf8(m_rows[*m_highlighted].name, kUserNameMaxBytes) ==
                                          m_fields.userName
                                  ? m_rows[*m_highlighted].name
                                  : m_fields.userName;
    const uint32_t code = m_management.adminUserEntry(m_address, name, m_fields.pin,
                                                      m_fields.host, m_adminPin, 1);
    if (code == result::kOk) {
        showMessage(m_boxes, m_texts, sid::kUserModified, BoxIcon::Information);
        loadList();
        return;
    }
    failed(code, sid::kModifyFailed);
}

void UserRegistrationLogic::remove()
{
    if (addressMissing())
        return;
    if (!m_highlighted || m_rows[*m_highlighted].name.empty())
        return;
    const std::string name = m_rows[*m_highlighted].name;
    if (showMessage(m_boxes, m_texts, sid::kRemoveQuestion, BoxIcon::Question,
                    BoxButtons::OkCancel) != BoxAnswer::Ok)
        return;
    const uint32_t code =
        m_management.adminUserEntry(m_address, name, "", m_fields.host, m_adminPin, 2);
    if (code == result::kOk) {
        showMessage(m_boxes, m_texts, sid::kUserDeleted, BoxIcon::Information);
        m_fields = {};
        m_view->focus(UserField::Close);
        loadList();
        return;
    }
    failed(code, sid::kDeleteFailed);
}

std::string UserRegistrationLogic::defaultBackupName() const
{
    const LocalDate today = m_today();
    char date[32];
    std::snprintf(date, sizeof date, "_%d%02d%02d.bin", today.year, today.month, today.day);
    // A unit name is the unit's own text: it must not lead the file into
    // another folder.
    std::string unit = m_unitName;
    std::replace(unit.begin(), unit.end(), '/', '_');
    return unit + date;
}

void UserRegistrationLogic::backup()
{
    if (addressMissing())
        return;
    const auto file = m_view->askSaveFile(defaultBackupName());
    if (!file)
        return;
    const auto key = m_view->askBackupPassword(false);
    if (!key)
        return;
    std::vector<uint8_t> block(kUserDatabaseSize, 0);
    const uint32_t code = m_management.getAllUser(
        m_address, m_adminPin, *key, std::span<uint8_t, kUserDatabaseSize>(block.data(), block.size()));
    if (code != result::kOk) {
        failed(code, sid::kBackupFailed);
        return;
    }
    // The block goes to a new file beside the chosen one, which takes the
    // name only once every byte is on the disk: a failed write leaves an
    // earlier backup of that name as it was.
    auto output = platform::OutputFile::open(*file, kBackupFileMode);
    if (!output) {
        fileFailed(*file, output.error().code);
        return;
    }
    if (auto written = output->write(block); !written) {
        fileFailed(*file, written.error().code);
        return;
    }
    if (auto committed = output->commit(); !committed) {
        fileFailed(*file, committed.error().code);
        return;
    }
    showMessage(m_boxes, m_texts, sid::kBackedUp, BoxIcon::Information);
}

void UserRegistrationLogic::restore()
{
    if (addressMissing())
        return;
    const auto file = m_view->askOpenFile();
    if (!file)
        return;
    // A longer file contributes its first block; a shorter one is no backup,
    // and sending it padded would overwrite the unit's table with whatever
    // the padding holds.
    auto content = platform::readFileHead(*file, kUserDatabaseSize);
    if (!content) {
        fileFailed(*file, content.error().code);
        return;
    }
    if (content->size() < kUserDatabaseSize) {
        m_boxes.show(insertTexts(m_texts(sid::kRestoreTooShort),
                                 {*file, std::to_string(content->size()),
                                  std::to_string(kUserDatabaseSize)}),
                     m_texts(sid::kProgramTitle), BoxIcon::Error, BoxButtons::Ok);
        return;
    }
    const auto key = m_view->askBackupPassword(true);
    if (!key)
        return;
    const uint32_t code = m_management.putAllUser(
        m_address, m_adminPin, *key,
        std::span<const uint8_t, kUserDatabaseSize>(
            reinterpret_cast<const uint8_t*>(content->data()), kUserDatabaseSize));
    if (code != result::kOk) {
        failed(code, sid::kRestoreFailed);
        return;
    }
    showMessage(m_boxes, m_texts, sid::kRestored, BoxIcon::Information);
    loadList();
}

} // namespace lumarc::configtool
