// The scanner information tool's numbered texts ("Norsi" string tables).
//
// Every text a user sees has a number; the English texts are built in and a
// localized "Norsi<code>.strings" file beside the program replaces any of
// them. The logic classes and the Qt views both take their texts from here.
#pragma once

#include "shared/string_table.h"

#include <cstdint>
#include <filesystem>
#include <string>

namespace lumarc::infotool {

namespace sid {
// Messages and captions.
constexpr uint32_t kDeviceNotUsable = 101;
constexpr uint32_t kAttention = 102;
constexpr uint32_t kNotRegistered = 103;
constexpr uint32_t kNetworkStartFailed = 104;
constexpr uint32_t kScannerNotFound = 105;
constexpr uint32_t kAddressIncorrect = 106;
constexpr uint32_t kPinMismatch = 107;
constexpr uint32_t kInMaintenance = 108;
constexpr uint32_t kUnitBusy = 109;
constexpr uint32_t kCannotCommunicate = 110;
constexpr uint32_t kWriteConfirm = 111;
constexpr uint32_t kCountersUnread = 112;
constexpr uint32_t kProgramTitle = 113;
constexpr uint32_t kSheetCaption = 120; // "%s - %s": scanner name, unit address
constexpr uint32_t kDeviceInfoTab = 121;
constexpr uint32_t kDeviceSetTab = 122;
constexpr uint32_t kOk = 123;
constexpr uint32_t kCancel = 124;

// The Device Info list: columns, values, units.
constexpr uint32_t kColumnFunction = 200;
constexpr uint32_t kColumnSupport = 201;
constexpr uint32_t kYes = 202;
constexpr uint32_t kNo = 203;
constexpr uint32_t kUseLut = 204;
constexpr uint32_t kDpi = 205;
constexpr uint32_t kSteps = 206;
constexpr uint32_t kPixel = 207;
constexpr uint32_t kMegabytes = 208;
constexpr uint32_t kNotRegistered2 = 209; // "Not Registed"
constexpr uint32_t kNotDefined = 210;
constexpr uint32_t kUnknown = 211;
constexpr uint32_t kPaperA4 = 212;
constexpr uint32_t kPaperA3 = 213;
constexpr uint32_t kPaperA6 = 214;
constexpr uint32_t kIpc4 = 215;
constexpr uint32_t kIpc3 = 216;
constexpr uint32_t kIpc2 = 217;
constexpr uint32_t kScsi = 218;
constexpr uint32_t kScsiUsb = 219;
constexpr uint32_t kScsi12 = 220;
constexpr uint32_t kUsb = 221;
constexpr uint32_t kUsb11 = 222;
constexpr uint32_t kUsb20 = 223;
constexpr uint32_t kKilobytes = 224;

// Device Info group heads and row labels.
constexpr uint32_t kStandardInformation = 230;
constexpr uint32_t kVendorIdentification = 231;
constexpr uint32_t kProductIdentification = 232;
constexpr uint32_t kFirmwareSdc = 233;
constexpr uint32_t kFirmwareMdc = 234;
constexpr uint32_t kProductRevision = 235;
constexpr uint32_t kInitialUse = 236;
constexpr uint32_t kSerialNumber = 237;
constexpr uint32_t kScannerMemory = 238;
constexpr uint32_t kScanningArea = 240;
constexpr uint32_t kBasicX = 241;
constexpr uint32_t kBasicY = 242;
constexpr uint32_t kMaximumX = 243;
constexpr uint32_t kMaximumY = 244;
constexpr uint32_t kMinimumX = 245;
constexpr uint32_t kMinimumY = 246;
constexpr uint32_t kWindowWidth = 247;
constexpr uint32_t kWindowLength = 248;
constexpr uint32_t kMaxPaperSize = 249;
constexpr uint32_t kVideoOutput = 250;
constexpr uint32_t kBlackWhite = 251;
constexpr uint32_t kDither = 252;
constexpr uint32_t kGrayScale = 253;
constexpr uint32_t kRgbColor = 254;
constexpr uint32_t kPhysicalFunction = 255;
constexpr uint32_t kOperatorPanel = 256;
constexpr uint32_t kDuplex = 257;
constexpr uint32_t kTransparency = 258;
constexpr uint32_t kFlatbed = 259;
constexpr uint32_t kAdf = 260;
constexpr uint32_t kBuffering = 261;
constexpr uint32_t kImaging = 262;
constexpr uint32_t kBrightnessSteps = 263;
constexpr uint32_t kThresholdSteps = 264;
constexpr uint32_t kContrastSteps = 265;
constexpr uint32_t kResidentDither = 266;
constexpr uint32_t kRegistrableDither = 267;
constexpr uint32_t kResidentGamma = 268;
constexpr uint32_t kRegistrableGamma = 269;
constexpr uint32_t kWhiteLevelFollower = 270;
constexpr uint32_t kSubWindow = 271;
constexpr uint32_t kErrorDiffusion = 272;
constexpr uint32_t kOnBoardIpc = 273;
constexpr uint32_t kReverseImage = 274;
constexpr uint32_t kDynamicThreshold = 275;
constexpr uint32_t kSimplifiedDtc = 276;
constexpr uint32_t kOutlineExtract = 277;
constexpr uint32_t kImageEmphasis = 278;
constexpr uint32_t kAutomaticSeparation = 279;
constexpr uint32_t kSelectiveEdge = 280;
constexpr uint32_t kMirrorImage = 281;
constexpr uint32_t kCompression = 282;
constexpr uint32_t kMh = 283;
constexpr uint32_t kMr = 284;
constexpr uint32_t kMmr = 285;
constexpr uint32_t kJbig = 286;
constexpr uint32_t kJpegBaseline = 287;
constexpr uint32_t kJpegExtended = 288;
constexpr uint32_t kJpegIndependent = 289;
constexpr uint32_t kEndorser = 290;
constexpr uint32_t kMechanicalEndorser = 291;
constexpr uint32_t kStamper = 292;
constexpr uint32_t kElectricalEndorser = 293;
constexpr uint32_t kEndorserIdentifiers = 294;
constexpr uint32_t kEndorserFirmware = 295;
constexpr uint32_t kMiscellaneous = 296;
constexpr uint32_t kSleepMode = 297;
constexpr uint32_t kBackgroundSwitch = 298;
constexpr uint32_t kMultifeed = 299;
constexpr uint32_t kDropoutColor = 300;
constexpr uint32_t kBufferedScan = 301;
constexpr uint32_t kBlankPage = 302;
constexpr uint32_t kPageEnd = 303;
constexpr uint32_t kLongPaper = 304;
constexpr uint32_t kBatchDetection = 305;
constexpr uint32_t kSkewDetection = 306;
constexpr uint32_t kCalibration = 307;
constexpr uint32_t kInterface = 308;
constexpr uint32_t kConnectedInterface = 309;
constexpr uint32_t kSerialNumberShort = 310; // the serial row of classes 15 and 18

// Device Set page.
constexpr uint32_t kCountersGroup = 400;
constexpr uint32_t kTotalAdf = 401;
constexpr uint32_t kTotalFlatbed = 402;
constexpr uint32_t kAblation = 403;
constexpr uint32_t kPad = 404;
constexpr uint32_t kPickRoller = 405;
constexpr uint32_t kBrakeRoller = 406;
constexpr uint32_t kFourthCounter = 407;
constexpr uint32_t kRemainingInk = 408;
constexpr uint32_t kPercent = 409;
constexpr uint32_t kPages = 410;
constexpr uint32_t kClear1 = 411;
constexpr uint32_t kClear2 = 412;
constexpr uint32_t kClear3 = 413;
constexpr uint32_t kClear4 = 414;
constexpr uint32_t kLampGroup = 415;
constexpr uint32_t kPowerSavingGroup = 416;
constexpr uint32_t kFluorescentTime = 417;
constexpr uint32_t kMinutes = 418;
constexpr uint32_t kOffsetButton = 419;
constexpr uint32_t kPowerSavingButton = 420;
constexpr uint32_t kLogButton = 421;
constexpr uint32_t kResetButton = 422;

// Offset dialog.
constexpr uint32_t kOffsetCaption = 500;
constexpr uint32_t kOffsetGroup = 501;
constexpr uint32_t kUnitLabel = 502;
constexpr uint32_t kMainLabel = 503;
constexpr uint32_t kSubLabel = 504;
constexpr uint32_t kHalfMillimetres = 505;
constexpr uint32_t kBottomLabel = 506;
constexpr uint32_t kTopCheck = 507;
constexpr uint32_t kLeftCheck = 508;
constexpr uint32_t kMagnificationGroup = 509;
constexpr uint32_t kMagnificationUnit = 510;
constexpr uint32_t kUnitFlatbed = 511;
constexpr uint32_t kUnitAdf = 512;
constexpr uint32_t kUnitAdfFront = 513;
constexpr uint32_t kUnitAdfBack = 514;
constexpr uint32_t kLow31 = 515;
constexpr uint32_t kHigh31 = 516;
constexpr uint32_t kRange31 = 517;
constexpr uint32_t kLow63 = 518;
constexpr uint32_t kHigh63 = 519;
constexpr uint32_t kRange63 = 520;

// Administrator PIN dialog.
constexpr uint32_t kPinCaption = 600;
constexpr uint32_t kPinUnitName = 601;
constexpr uint32_t kPinAddress = 602;
constexpr uint32_t kPinPrompt = 603;
} // namespace sid

class Texts {
public:
    // The built-in English texts only.
    Texts();
    // The "Norsi" table for the user's language from folder (the program's
    // folder unless given), over the built-in texts.
    static Texts load(const std::filesystem::path& folder = {});

    std::string text(uint32_t id) const { return m_table.text(id); }
    std::string operator()(uint32_t id) const { return text(id); }

    static const shared::StringTable::Builtin& builtin();

private:
    explicit Texts(shared::StringTable table) : m_table(std::move(table)) {}
    shared::StringTable m_table;
};

} // namespace lumarc::infotool
