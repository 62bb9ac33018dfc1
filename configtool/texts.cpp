// The built-in English texts of the configuration tool.
#include "texts.h"

#include "platform/folders.h"


namespace lumarc::configtool {
namespace {

using namespace sid;

constexpr const char* kCannotCommunicateText =
    "Can not communicate with Lumarc. Check the following and do it again.  \n- Is network "
    "cable connected? \n- Is there any problems with Network environment or the settings?";

const shared::StringTable::Builtin kBuiltin = {
    {kAboutItem, "&About this software..."},
    {kTabSelect, "Select Scanner"},
    {kTabLaunch, "Launch Option"},
    {kWindowTitle, "Lumarc Configuration Tool"},
    {kTabAdvance, "Advance"},
    {kColumnFileName, "File Name"},
    {kTabVersion, "Version"},
    {kVersionWord, "Version"},
    {kColumnUnitName, "Lumarc unit name"},
    {kColumnFavorite, "Favorite"},
    {kColumnScanner, "Scanner"},
    {kColumnStatus, "Status"},
    {kColumnAddress, "Host name/IP address"},
    {kColumnUserName, "User Name"},
    {kColumnUserId, "User ID"},
    {kColumnUserHost, "Host name/IP address"},
    {kViewIcon, "ICON"},
    {kViewReport, "REPORT"},
    {kViewList, "LIST"},
    {kViewSmallIcon, "SMALL ICON"},
    {kStatusActive, "Active"},
    {kStatusInactive, "Inactive"},
    {kStatusBusy, "Busy"},
    {kStatusDeleting, "Deleting..."},
    {kButtonScan, "Scan"},
    {201, "SendTo 1"},
    {202, "SendTo 2"},
    {203, "SendTo 3"},
    {204, "SendTo 4"},
    {205, "SendTo 5"},
    {206, "SendTo 6"},
    {207, "SendTo 7"},
    {208, "SendTo 8"},
    {209, "SendTo 9"},

    {kNetworkStartFailed, "Can not initialize communication on the network."},
    {kEventModuleMissing, "Kicklet is not started.Please start Kicklet."},
    {kRefreshTimeout, "Failed to refresh network due to timeout."},
    {kProgramStartFailed, "Failed to start up the program. Re-install the Lumarc Software."},
    {kProgramStartTimeout,
     "Failed to start up the program due to time-out. Start the program again."},
    {kDeleteQuestion, "Do you want to delete your specified device connection."},

    {kInMaintenance, "It is already in maintenance mode. Start again after the maintenance mode "
                     "is completed."},
    {kUnitTimeout,
     "Unable to continue the operation due to timeout. Quit the application and try again."},
    {kCannotCommunicate, kCannotCommunicateText},
    {kAddressIncorrect, "The IP address is incorrect."},
    {kPinMismatch, "The specified PIN does not match.\nPlease type again."},
    {kUnitRunning, "It cannot be started as it is running. Start again after the scanning or the "
                   "current operation has completed."},

    {kUserListFailed, "Failed to get User List"},
    {kFillIn, "No information. Please fill in the blank of %1."},
    {kFieldUserName, "User Name"},
    {kFieldPin, "PIN Code"},
    {kFieldHost, "Host name/IP address"},
    {kHostIncorrect, "Host name/IP address is incorrect.\nType again."},
    {kUserRegistered, "User information was registered successfully."},
    {kUserTableFull, "User information can not be registered. Maximum number of users are "
                     "already registered."},
    {kUserNameTaken, "This user name is already registered. Please try another one."},
    {kRegisterFailed, "Can not register user information. \r\nError code = 0x%08X"},
    {kUserModified, "User information was modified."},
    {kModifyFailed, "Can not modify user information. \r\nError code = 0x%08X"},
    {kRemoveQuestion, "OK to remove?"},
    {kUserDeleted, "User information was deleted."},
    {kDeleteFailed, "Can not delete user information. \r\nError code = 0x%08X"},
    {kBackedUp, "All user information was successfully backed up."},
    {kBackupFailed, "Failed to backup all user infomation.\nError code = %08x"},
    {kRestored, "All user information was successfully restored."},
    {kRestoreFailed, "Failed to restore all user infomation.\nError code = %08x"},
    {kPasswordMismatch, "Type the password again."},
    {kBackupFilter, "Backup Files (*.bin)"},
    {kAllFilesFilter, "All Files (*)"},
    {kRestoreTooShort, "%1 is not a complete user information backup: it holds %2 bytes, and a "
                       "backup holds %3 bytes.\nNothing was sent to the unit."},

    {kGetConfigFailed, "Failed to get Lumarc configuration.\nError code = %08x"},
    {kGetFirmwareFailed, "Failed to get Firmware version.\nError code = %08x"},
    {kGetNetInfoFailed, "Failed to get Network Information.\nError code = %08x"},
    {kPositiveInteger, "Please enter a positive integer."},
    {kIntegerBetween, "Please enter an integer between %1 and %2."},
    {kTypePinAgain, "Type the PIN again."},
    {kPinChanged, "The PIN was successfully changed."},
    {kPinChangeFailed, "Failed to modify PIN.\nError code = %08x"},
    {kConfigChanged, "Lumarc configuration was successfully changed."},
    {kConfigChangeFailed, "Failed to change Lumarc configuration."},
    {kTriggerPortRestart,
     "The trigger port changes will take effect after restarting the PC. The Trigger port value "
     "for PC must be identical with that of trigger port for Lumarc."},
    {kProgramsFilter, "Programs (*)"},

    {kOk, "OK"},
    {kCancel, "Cancel"},
    {kClose, "Close"},
    {kRefresh, "Refresh"},
    {kFavorite, "Favorite"},
    {kAdd, "Add..."},
    {kDelete, "Delete"},
    {kUserConfig, "User Config."},
    {kAdmin, "Admin."},
    {kScannerInfo, "Scanner Info."},
    {kHelpMenu, "&Help"},
    {kNotice, "Manages Lumarc units, their users and what their buttons start on this PC."},
    {kButtonLabel, "&Button:"},
    {kTargetLabel, "&Target:"},
    {kBrowse, "Browse..."},
    {kArgumentLabel, "&Argument:"},
    {kStartInLabel, "&Start In:"},
    {kTriggerPortPcLabel, "Trigger Port(&PC):"},
    {kDefault, "Default"},
    {kAddCaption, "Add Lumarc"},
    {kIpAddressChoice, "IP Address:"},
    {kHostNameChoice, "Host name:"},
    {kProgressCaption, "Please wait..."},
    {kVersionCaption, "Version Information"},
    {kVersionNotFound, "Not found"},
    {kVersionUnknown, "Unknown version"},
    {kPinCaption, "Administrator PIN"},
    {kUnitNameLabel, "Lumarc unit name:"},
    {kAddressLabel, "IP address:"},
    {kPinPrompt, "Type administrator PIN."},
    {kUserCaption, "User Registration"},
    {kModeAdd, "Add"},
    {kModeModify, "Modify"},
    {kUserNameLabel, "User name:"},
    {kNewPinLabel, "New PIN:"},
    {kUserHostLabel, "Host name/IP address:"},
    {kBackup, "Backup"},
    {kRestore, "Restore"},
    {kEnter, "Enter"},
    {kPasswordCaption, "Backup password"},
    {kPasswordHeading, "User Infomation Backup"},
    {kPasswordLabel, "Type backup password:"},
    {kPasswordAgainLabel, "Retype the backup password:"},
    {kNetCaption, "Network Configuration"},
    {kChangeConfig, "Change Lumarc configuration"},
    {kNameLabel, "Name:"},
    {kFirmwareLabel, "Firmware version:"},
    {kSubnetLabel, "Subnet mask:"},
    {kGatewayLabel, "Gateway address:"},
    {kPrimaryDnsLabel, "Primary DNS:"},
    {kSecondaryDnsLabel, "Secondary DNS:"},
    {kMacLabel, "Mac address:"},
    {kTriggerPortLabel, "Trigger port (2000-60000):"},
    {kChangePin, "Change PIN"},
    {kConfirmPinLabel, "Confirm New PIN:"},
    {kApply, "Apply"},

    {61856, "An unknown error occurred while accessing %1."},
    {kFileErrorGeneric, "An unknown error occurred while accessing %1."},
    {kFileNotFound, "%1 was not found."},
    {kFileBadPath, "%1 contains an invalid path."},
    {kFileTooManyOpen, "%1 could not be opened because there are too many open files."},
    {kFileAccessDenied, "Access to %1 was denied."},
    {61862, "An invalid file handle was associated with %1."},
    {61863, "%1 could not be removed because it is the current directory."},
    {61864, "%1 could not be created because the directory is full."},
    {61865, "Seek failed on %1"},
    {kFileHardIo, "A hardware I/O error was reported while accessing %1."},
    {61867, "A sharing violation occurred while accessing %1."},
    {61868, "A locking violation occurred while accessing %1."},
    {kFileDiskFull, "Disk full while accessing %1."},
    {61870, "An attempt was made to access %1 past its end."},

    {kProgramTitle, "Lumarc Configuration Tool"},
};

// A folder that holds no table, for the built-in texts alone.
const std::filesystem::path kNoFolder = "/nonexistent/lumarc-no-strings";

std::filesystem::path ownProfile()
{
    return platform::windowsFolder() / "unitdesk.ini";
}

std::string hex(uint32_t value, const char* digits)
{
    std::string out;
    do {
        out.insert(out.begin(), digits[value % 16]);
        value /= 16;
    } while (value != 0);
    return out;
}

} // namespace

Texts::Texts() : m_table(shared::StringTable::load("Felk", kBuiltin, kNoFolder, ownProfile())) {}

Texts Texts::load(const std::filesystem::path& folder)
{
    return Texts(shared::StringTable::load("Felk", kBuiltin, folder, ownProfile()));
}

const shared::StringTable::Builtin& Texts::builtin()
{
    return kBuiltin;
}

std::string insertTexts(const std::string& format, std::initializer_list<std::string> texts)
{
    std::string out;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out += format[i];
            continue;
        }
        const char next = format[i + 1];
        if (next == '%') {
            out += '%';
            ++i;
        } else if (next >= '1' && next <= '9' &&
                   static_cast<size_t>(next - '1') < texts.size()) {
            out += *(texts.begin() + (next - '1'));
            ++i;
        } else {
            out += '%';
        }
    }
    return out;
}

std::string insertCode(const std::string& format, uint32_t code)
{
    std::string out;
    bool used = false;
    for (size_t i = 0; i < format.size(); ++i) {
        if (format[i] != '%' || i + 1 == format.size()) {
            out += format[i];
            continue;
        }
        if (format[i + 1] == '%') {
            out += '%';
            ++i;
            continue;
        }
        // %[0][width](x|X|d|u), the width at most two digits.
        size_t j = i + 1;
        const bool zero = format[j] == '0';
        if (zero)
            ++j;
        int width = 0;
        for (int digits = 0; j < format.size() && digits < 2 && format[j] >= '0' && format[j] <= '9';
             ++j, ++digits)
            width = width * 10 + (format[j] - '0');
        if (used || j == format.size() ||
            (format[j] != 'x' && format[j] != 'X' && format[j] != 'd' && format[j] != 'u')) {
            out += '%';
            continue;
        }
        std::string number = format[j] == 'x' ? hex(code, "0123456789abcdef")
                             : format[j] == 'X' ? hex(code, "0123456789ABCDEF")
                                                : std::to_string(code);
        if (static_cast<int>(number.size()) < width)
            number.insert(0, static_cast<size_t>(width) - number.size(), zero ? '0' : ' ');
        out += number;
        used = true;
        i = j;
    }
    return out;
}

} // namespace lumarc::configtool
