// The configuration tool's numbered texts ("Felk" string tables, shared with
// the event module, whose texts are numbered from 3000).
//
// Every text a user sees has a number; the English texts are built in and a
// localized "Felk<code>.strings" file beside the program replaces any of
// them. The code is [Setting] PageCode of the tool's own profile
// (unitdesk.ini in the Windows directory), else the user's language id.
#pragma once

#include "shared/string_table.h"

#include <cstdint>
#include <filesystem>
#include <initializer_list>
#include <string>

namespace lumarc::configtool {

namespace sid {
// The window, its tabs and pages.
constexpr uint32_t kAboutItem = 101;
constexpr uint32_t kTabSelect = 102;
constexpr uint32_t kTabLaunch = 103;
constexpr uint32_t kWindowTitle = 105;
constexpr uint32_t kTabAdvance = 106;
constexpr uint32_t kColumnFileName = 111;
constexpr uint32_t kTabVersion = 112; // also the Version Information dialog's column
constexpr uint32_t kVersionWord = 123;
constexpr uint32_t kColumnUnitName = 150;
constexpr uint32_t kColumnFavorite = 151;
constexpr uint32_t kColumnScanner = 152;
constexpr uint32_t kColumnStatus = 153;
constexpr uint32_t kColumnAddress = 154;
constexpr uint32_t kColumnUserName = 160;
constexpr uint32_t kColumnUserId = 161;
constexpr uint32_t kColumnUserHost = 162;
constexpr uint32_t kViewIcon = 170;
constexpr uint32_t kViewReport = 171;
constexpr uint32_t kViewList = 172;
constexpr uint32_t kViewSmallIcon = 173;
constexpr uint32_t kStatusActive = 180;
constexpr uint32_t kStatusInactive = 181;
constexpr uint32_t kStatusBusy = 182;
constexpr uint32_t kStatusDeleting = 183;
constexpr uint32_t kButtonScan = 200; // 201 to 209: "SendTo 1" to "SendTo 9"

// Messages of the unit list window.
constexpr uint32_t kNetworkStartFailed = 1000;
constexpr uint32_t kEventModuleMissing = 1001;
constexpr uint32_t kRefreshTimeout = 1002;
constexpr uint32_t kProgramStartFailed = 1003;
constexpr uint32_t kProgramStartTimeout = 1004;
constexpr uint32_t kDeleteQuestion = 1005;

// Results of unit calls shared by the dialogs.
constexpr uint32_t kInMaintenance = 1010;
constexpr uint32_t kUnitTimeout = 1011;
constexpr uint32_t kCannotCommunicate = 1012;
constexpr uint32_t kAddressIncorrect = 1013;
constexpr uint32_t kPinMismatch = 1014;
constexpr uint32_t kUnitRunning = 1015;

// User Registration and backup.
constexpr uint32_t kUserListFailed = 1020;
constexpr uint32_t kFillIn = 1021; // %1: the field
constexpr uint32_t kFieldUserName = 1022;
constexpr uint32_t kFieldPin = 1023;
constexpr uint32_t kFieldHost = 1024;
constexpr uint32_t kHostIncorrect = 1025;
constexpr uint32_t kUserRegistered = 1026;
constexpr uint32_t kUserTableFull = 1027;
constexpr uint32_t kUserNameTaken = 1028;
constexpr uint32_t kRegisterFailed = 1029;
constexpr uint32_t kUserModified = 1030;
constexpr uint32_t kModifyFailed = 1031;
constexpr uint32_t kRemoveQuestion = 1032;
constexpr uint32_t kUserDeleted = 1033;
constexpr uint32_t kDeleteFailed = 1034;
constexpr uint32_t kBackedUp = 1035;
constexpr uint32_t kBackupFailed = 1036;
constexpr uint32_t kRestored = 1037;
constexpr uint32_t kRestoreFailed = 1038;
constexpr uint32_t kPasswordMismatch = 1039;
constexpr uint32_t kBackupFilter = 1040;
constexpr uint32_t kAllFilesFilter = 1041;
constexpr uint32_t kRestoreTooShort = 1042; // %1 file, %2 its size, %3 a backup's size

// Network Configuration and the trigger port.
constexpr uint32_t kGetConfigFailed = 1050;
constexpr uint32_t kGetFirmwareFailed = 1051;
constexpr uint32_t kGetNetInfoFailed = 1052;
constexpr uint32_t kPositiveInteger = 1053;
constexpr uint32_t kIntegerBetween = 1054; // %1, %2
constexpr uint32_t kTypePinAgain = 1055;
constexpr uint32_t kPinChanged = 1056;
constexpr uint32_t kPinChangeFailed = 1057;
constexpr uint32_t kConfigChanged = 1058;
constexpr uint32_t kConfigChangeFailed = 1059;
constexpr uint32_t kTriggerPortRestart = 1060;
constexpr uint32_t kProgramsFilter = 1061;

// Captions, labels and buttons of the window and the dialogs.
constexpr uint32_t kOk = 1100;
constexpr uint32_t kCancel = 1101;
constexpr uint32_t kClose = 1102;
constexpr uint32_t kRefresh = 1103;
constexpr uint32_t kFavorite = 1104;
constexpr uint32_t kAdd = 1105;
constexpr uint32_t kDelete = 1106;
constexpr uint32_t kUserConfig = 1107;
constexpr uint32_t kAdmin = 1108;
constexpr uint32_t kScannerInfo = 1109;
constexpr uint32_t kHelpMenu = 1110;
constexpr uint32_t kNotice = 1111;
constexpr uint32_t kButtonLabel = 1112;
constexpr uint32_t kTargetLabel = 1113;
constexpr uint32_t kBrowse = 1114;
constexpr uint32_t kArgumentLabel = 1115;
constexpr uint32_t kStartInLabel = 1116;
constexpr uint32_t kTriggerPortPcLabel = 1117;
constexpr uint32_t kDefault = 1118;
constexpr uint32_t kAddCaption = 1120;
constexpr uint32_t kIpAddressChoice = 1121;
constexpr uint32_t kHostNameChoice = 1122;
constexpr uint32_t kProgressCaption = 1123;
constexpr uint32_t kVersionCaption = 1124;
constexpr uint32_t kVersionNotFound = 1125;
constexpr uint32_t kVersionUnknown = 1126;
constexpr uint32_t kPinCaption = 1130;
constexpr uint32_t kUnitNameLabel = 1131;
constexpr uint32_t kAddressLabel = 1132;
constexpr uint32_t kPinPrompt = 1133;
constexpr uint32_t kUserCaption = 1140;
constexpr uint32_t kModeAdd = 1141;
constexpr uint32_t kModeModify = 1142;
constexpr uint32_t kUserNameLabel = 1143;
constexpr uint32_t kNewPinLabel = 1144;
constexpr uint32_t kUserHostLabel = 1145;
constexpr uint32_t kBackup = 1146;
constexpr uint32_t kRestore = 1147;
constexpr uint32_t kEnter = 1148;
constexpr uint32_t kPasswordCaption = 1150;
constexpr uint32_t kPasswordHeading = 1151;
constexpr uint32_t kPasswordLabel = 1152;
constexpr uint32_t kPasswordAgainLabel = 1153;
constexpr uint32_t kNetCaption = 1160;
constexpr uint32_t kChangeConfig = 1161;
constexpr uint32_t kNameLabel = 1162;
constexpr uint32_t kFirmwareLabel = 1163;
constexpr uint32_t kSubnetLabel = 1164;
constexpr uint32_t kGatewayLabel = 1165;
constexpr uint32_t kPrimaryDnsLabel = 1166;
constexpr uint32_t kSecondaryDnsLabel = 1167;
constexpr uint32_t kMacLabel = 1168;
constexpr uint32_t kTriggerPortLabel = 1169;
constexpr uint32_t kChangePin = 1170;
constexpr uint32_t kConfirmPinLabel = 1171;
constexpr uint32_t kApply = 1172;

// File errors: %1 is the file.
constexpr uint32_t kFileErrorGeneric = 61857;
constexpr uint32_t kFileNotFound = 61858;
constexpr uint32_t kFileBadPath = 61859;
constexpr uint32_t kFileTooManyOpen = 61860;
constexpr uint32_t kFileAccessDenied = 61861;
constexpr uint32_t kFileHardIo = 61866;
constexpr uint32_t kFileDiskFull = 61869;

constexpr uint32_t kProgramTitle = 57344;
} // namespace sid

class Texts {
public:
    // The built-in English texts only.
    Texts();
    // The "Felk" table for the user's language from folder (the program's
    // folder unless given), over the built-in texts.
    static Texts load(const std::filesystem::path& folder = {});

    std::string text(uint32_t id) const { return m_table.text(id); }
    std::string operator()(uint32_t id) const { return text(id); }

    static const shared::StringTable::Builtin& builtin();

private:
    explicit Texts(shared::StringTable table) : m_table(std::move(table)) {}
    shared::StringTable m_table;
};

// Puts texts into "%1", "%2", ... of a format; "%%" is a percent sign, any
// other character stays. A numbered text is never handed to printf.
std::string insertTexts(const std::string& format, std::initializer_list<std::string> texts);

// Puts a result code into the first printf-style conversion of a format
// ("%08X", "%08x", "%X", "%d", "%u"); "%%" is a percent sign.
std::string insertCode(const std::string& format, uint32_t code);

} // namespace lumarc::configtool
