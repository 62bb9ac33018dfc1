// The simulated unit's answers to management commands.
#include "unit_state.h"

#include "shared/message_header.h"

#include <algorithm>
#include <cstdio>
#include <cstring>

namespace lumarc::unitsim {
namespace {

using shared::readLe32;
using shared::writeLe32;

constexpr size_t kHeader = shared::kHeaderSize;

// The unit's command codes, kept apart from the PC side on purpose: this is
// an independent implementation of the peer.
enum Command : uint32_t {
    kSendMsg = 0x02,
    kGetScanInfo = 0x05,
    kAplReport = 0x06,
    kGetFirmInfo = 0x10,
    kGetNetInfo = 0x20,
    kUserRegister = 0x100,
    kUserChangePin = 0x101,
    kUserChangeHost = 0x102,
    kGetUserList = 0x103,
    kAdminModifyUser = 0x104,
    kAdminDeleteUser = 0x105,
    kGetAllUser = 0x110,
    kPutAllUser = 0x111,
    kSetAdmin = 0x120,
    kSetNetInfo = 0x130,
    kGetName = 0x140,
    kSetName = 0x141,
    kMaintenanceEnter = 0x150,
    kMaintenanceLeave = 0x151,
    kScannerInfoEnter = 0x160,
    kScannerInfoLeave = 0x161,
    kWriteFlash = 0x200,
    kReadFlash = 0x201,
    kLanSpeed = 0x10000,
    kGetFpImage = 0x10001,
    kGetFpSnsTest = 0x10002,
    kLcdTest = 0x10003,
    kLcdLightTest = 0x10004,
    kOpepaneTest = 0x10005,
    kFpStatus = 0x10006,
    kTestModeOn = 0x10007,
    kTestModeOff = 0x10008,
    kInitDevice = 0x10009,
    kDevinfo = 0x1000A,
};

constexpr size_t kFpImageSize = 76800;
constexpr size_t kFpSnsTestSize = 921648;
constexpr size_t kSecondBlockSize = 100;
constexpr size_t kUserRecord = 288;
constexpr uint32_t kDatabaseMagic = 0x44554D4C; // "LMUD"
constexpr uint32_t kDatabaseVersion = 1;
constexpr size_t kDatabaseSlot = 320;

// A text field: bytes up to the first NUL, never past the field.
std::string field(std::span<const uint8_t> bytes, size_t offset, size_t width)
{
    if (offset >= bytes.size())
        return {};
    const auto f = bytes.subspan(offset, std::min(width, bytes.size() - offset));
    const auto end = std::find(f.begin(), f.end(), uint8_t{0});
    return std::string(f.begin(), end);
}

void putField(std::span<uint8_t> bytes, size_t offset, size_t width, const std::string& text)
{
    const size_t n = std::min(text.size(), width - 1);
    std::memcpy(bytes.data() + offset, text.data(), n);
}

uint32_t keyHash(std::span<const uint8_t> key)
{
    uint32_t hash = 2166136261u; // FNV-1a
    for (uint8_t b : key)
        hash = (hash ^ b) * 16777619u;
    return hash;
}

// The backup image is scrambled with a stream drawn from the key, so that a
// backup is useless without it.
void scramble(std::span<uint8_t> bytes, uint32_t seed)
{
    uint32_t x = seed != 0 ? seed : 0x9E3779B9u;
    for (auto& b : bytes) {
        x ^= x << 13;
        x ^= x >> 17;
        x ^= x << 5;
        b ^= static_cast<uint8_t>(x);
    }
}

} // namespace

UnitState::UnitState(UnitConfig config)
    : m_config(std::move(config)), m_flash(kFlashSize, 0xFF)
{
}

std::vector<uint8_t> UnitState::reply(uint32_t status, std::span<const uint8_t> payload) const
{
    std::vector<uint8_t> bytes(kHeader + (status == status::kOk ? payload.size() : 0), 0);
    shared::writeHeader(bytes, {static_cast<uint32_t>(bytes.size()), shared::kPcMagic, status, 0});
    if (status == status::kOk && !payload.empty())
        std::memcpy(bytes.data() + kHeader, payload.data(), payload.size());
    return bytes;
}

bool UnitState::adminOk(std::span<const uint8_t> payload, size_t offset) const
{
    return field(payload, offset, 32) == m_config.adminName &&
           field(payload, offset + 32, 32) == m_config.adminPin;
}

bool UnitState::maintenanceActive() const
{
    return m_maintenanceSince &&
           std::chrono::steady_clock::now() - *m_maintenanceSince < m_config.maintenanceTimeout;
}

std::optional<size_t> UnitState::findUser(const std::string& name) const
{
    for (size_t i = 0; i < m_users.size(); ++i)
        if (!m_users[i].name.empty() && m_users[i].name == name)
            return i;
    return std::nullopt;
}

std::vector<uint8_t> UnitState::handle(std::span<const uint8_t> request)
{
    const auto header = shared::decodeHeader(request);
    if (!header)
        return reply(status::kBadRequest);
    const auto payload = request.subspan(kHeader);
    // The payload each command needs; a shorter request is refused.
    const auto need = [&](size_t bytes) { return payload.size() >= bytes; };

    std::scoped_lock lock(m_mutex);
    if (m_maintenanceSince && !maintenanceActive()) {
        // A forgotten session ends by itself.
        m_maintenanceSince.reset();
    }
    switch (header->code) {
    case kGetName: {
        std::vector<uint8_t> record(52, 0);
        writeLe32(record, 0, m_config.triggerPort);
        putField(record, 4, 48, m_config.name);
        return reply(status::kOk, record);
    }
    case kSetName:
        if (!need(132 - kHeader))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        m_config.triggerPort = readLe32(payload, 64);
        m_config.name = field(payload, 68, 48);
        return reply(status::kOk);
    case kGetNetInfo: {
        std::vector<uint8_t> record(284, 0);
        std::memcpy(record.data(), &m_config.address, 4);
        writeLe32(record, 4, m_config.subnetMask);
        writeLe32(record, 8, m_config.gateway);
        writeLe32(record, 12, m_config.primaryDns);
        writeLe32(record, 16, m_config.secondaryDns);
        std::copy(m_config.mac.begin(), m_config.mac.end(), record.begin() + 20);
        return reply(status::kOk, record);
    }
    case kSetNetInfo:
        if (!need(84))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        if (m_busy)
            return reply(status::kBusy);
        std::memcpy(&m_config.address, payload.data() + 64, 4);
        m_config.subnetMask = readLe32(payload, 68);
        m_config.gateway = readLe32(payload, 72);
        m_config.primaryDns = readLe32(payload, 76);
        m_config.secondaryDns = readLe32(payload, 80);
        return reply(status::kOk);
    case kGetFirmInfo: {
        std::vector<uint8_t> info(32, 0);
        putField(info, 0, 32, m_config.firmware);
        return reply(status::kOk, info);
    }
    case kGetScanInfo: {
        std::vector<uint8_t> info(12 + 256 + kSecondBlockSize, 0);
        if (m_config.scanner) {
            const auto inquiry = inquiryData(*m_config.scanner);
            writeLe32(info, 0, 1);
            writeLe32(info, 4, static_cast<uint32_t>(inquiry.size()));
            writeLe32(info, 8, kSecondBlockSize);
            std::copy(inquiry.begin(), inquiry.end(), info.begin() + 12);
            for (size_t i = 0; i < kSecondBlockSize; ++i)
                info[268 + i] = static_cast<uint8_t>(0xA0 + i);
        }
        return reply(status::kOk, info);
    }
    case kSendMsg:
        if (!need(68))
            return reply(status::kBadRequest);
        m_panelTexts.push_back(field(payload, 4, 64));
        m_panelLog.push_back("\"" + m_panelTexts.back() + "\"");
        return reply(status::kOk);
    case kAplReport:
        if (!need(4))
            return reply(status::kBadRequest);
        m_reports.push_back(readLe32(payload, 0));
        m_panelLog.push_back("report " + std::to_string(m_reports.back()));
        return reply(status::kOk);
    case kUserRegister:
    case kUserChangePin:
    case kUserChangeHost:
    case kAdminModifyUser:
    case kAdminDeleteUser:
        return userEntry(header->code, payload);
    case kGetUserList: {
        if (!need(64))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        std::vector<uint8_t> list(kUserSlots * kUserRecord, 0);
        for (size_t i = 0; i < kUserSlots; ++i) {
            if (m_users[i].name.empty())
                continue;
            putField(list, i * kUserRecord, 32, m_users[i].name);
            putField(list, i * kUserRecord + 32, 256, m_users[i].host);
        }
        return reply(status::kOk, list);
    }
    case kGetAllUser:
        if (!need(80))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        return userDatabase(payload.subspan(64, 16));
    case kPutAllUser:
        if (!need(80 + kUserDatabaseSize))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        if (m_busy)
            return reply(status::kBusy);
        return restoreUserDatabase(payload);
    case kSetAdmin:
        if (!need(128))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        m_config.adminName = field(payload, 64, 32);
        m_config.adminPin = field(payload, 96, 32);
        return reply(status::kOk);
    case kMaintenanceEnter:
        if (!need(64))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        if (m_busy)
            return reply(status::kBusy);
        if (maintenanceActive())
            return reply(status::kInMaintenance);
        m_maintenanceSince = std::chrono::steady_clock::now();
        return reply(status::kOk);
    case kMaintenanceLeave:
        if (!need(64))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        if (!maintenanceActive())
            return reply(status::kTimedOut);
        m_maintenanceSince.reset();
        return reply(status::kOk);
    case kScannerInfoEnter:
        if (m_scannerInfoMode)
            return reply(status::kInMaintenance);
        m_scannerInfoMode = true;
        return reply(status::kOk);
    case kScannerInfoLeave:
        m_scannerInfoMode = false;
        return reply(status::kOk);
    case kWriteFlash:
        return writeFlash(request);
    case kReadFlash:
        return readFlash(payload);
    case kLanSpeed:
        return reply(status::kOk, payload);
    case kGetFpImage: {
        std::vector<uint8_t> image(kFpImageSize);
        for (size_t i = 0; i < image.size(); ++i)
            image[i] = static_cast<uint8_t>((i % 320) * 255 / 319);
        return reply(status::kOk, image);
    }
    case kGetFpSnsTest: {
        std::vector<uint8_t> data(kFpSnsTestSize);
        for (size_t i = 0; i < data.size(); ++i)
            data[i] = static_cast<uint8_t>(i * 7 + (i >> 8));
        return reply(status::kOk, data);
    }
    case kLcdTest:
        if (!need(1024))
            return reply(status::kBadRequest);
        for (size_t i = 0; i < m_lcdValues.size(); ++i)
            m_lcdValues[i] = readLe32(payload, 4 * i);
        return reply(status::kOk);
    case kLcdLightTest:
        if (!need(4))
            return reply(status::kBadRequest);
        m_lcdLight = readLe32(payload, 0);
        return reply(status::kOk);
    case kOpepaneTest: {
        if (!need(4))
            return reply(status::kBadRequest);
        // The panel reports the key it was asked to watch as pressed.
        const uint8_t key[4] = {payload[0], 0, 0, 0};
        return reply(status::kOk, key);
    }
    case kFpStatus:
        return reply(m_frontPanelStatus);
    case kTestModeOn:
    case kTestModeOff:
        m_testMode = header->code == kTestModeOn;
        return reply(status::kOk);
    case kInitDevice:
        if (!need(64))
            return reply(status::kBadRequest);
        return reply(adminOk(payload) ? status::kOk : status::kWrongPin);
    case kDevinfo:
        if (!need(76))
            return reply(status::kBadRequest);
        if (!adminOk(payload))
            return reply(status::kWrongPin);
        std::copy_n(payload.begin() + 64, m_devinfo.size(), m_devinfo.begin());
        return reply(status::kOk);
    default:
        return reply(status::kUnknownCommand);
    }
}

std::vector<uint8_t> UnitState::userEntry(uint32_t code, std::span<const uint8_t> payload)
{
    const bool admin = code == kAdminModifyUser || code == kAdminDeleteUser;
    if (payload.size() < (admin ? 448u : 384u))
        return reply(status::kBadRequest);
    if (admin && !adminOk(payload, 384))
        return reply(status::kWrongPin);
    if (m_busy)
        return reply(status::kBusy);
    const std::string user = field(payload, 0, 32);
    const std::string newPin = field(payload, 32, 32);
    const std::string loginUser = field(payload, 64, 32);
    const std::string loginPin = field(payload, 96, 32);
    const std::string host = field(payload, 128, 256);
    if (user.empty())
        return reply(status::kBadRequest);
    const auto slot = findUser(user);

    switch (code) {
    case kUserRegister: {
        if (slot)
            return reply(status::kNameTaken);
        const auto free = std::find_if(m_users.begin(), m_users.end(),
                                       [](const UserSlot& u) { return u.name.empty(); });
        if (free == m_users.end())
            return reply(status::kTableFull);
        *free = UserSlot{user, newPin, host};
        return reply(status::kOk);
    }
    case kUserChangePin:
    case kUserChangeHost:
        if (!slot || loginUser != user || m_users[*slot].pin != loginPin)
            return reply(status::kWrongPin);
        if (code == kUserChangePin)
            m_users[*slot].pin = newPin;
        m_users[*slot].host = host;
        return reply(status::kOk);
    case kAdminModifyUser:
        if (!slot)
            return reply(status::kNoSuchUser);
        m_users[*slot].pin = loginPin;
        m_users[*slot].host = host;
        return reply(status::kOk);
    default: // kAdminDeleteUser
        if (!slot)
            return reply(status::kNoSuchUser);
        m_users[*slot] = UserSlot{};
        return reply(status::kOk);
    }
}

// Backup image: magic, version, key check, user count, then 32 slots of
// name (32), PIN (32) and host (256), scrambled with the key; zero after.
std::vector<uint8_t> UnitState::userDatabase(std::span<const uint8_t> key) const
{
    std::vector<uint8_t> image(kUserDatabaseReply, 0);
    writeLe32(image, 0, kDatabaseMagic);
    writeLe32(image, 4, kDatabaseVersion);
    writeLe32(image, 8, keyHash(key));
    uint32_t count = 0;
    for (size_t i = 0; i < kUserSlots; ++i) {
        if (m_users[i].name.empty())
            continue;
        ++count;
        const size_t at = 16 + i * kDatabaseSlot;
        putField(image, at, 32, m_users[i].name);
        putField(image, at + 32, 32, m_users[i].pin);
        putField(image, at + 64, 256, m_users[i].host);
    }
    writeLe32(image, 12, count);
    scramble(std::span(image).subspan(16, kUserSlots * kDatabaseSlot), keyHash(key));
    return reply(status::kOk, image);
}

std::vector<uint8_t> UnitState::restoreUserDatabase(std::span<const uint8_t> payload)
{
    const auto key = payload.subspan(64, 16);
    std::vector<uint8_t> image(payload.begin() + 80, payload.begin() + 80 + kUserDatabaseSize);
    if (readLe32(image, 0) != kDatabaseMagic || readLe32(image, 4) != kDatabaseVersion)
        return reply(status::kBadRequest);
    if (readLe32(image, 8) != keyHash(key))
        return reply(status::kWrongKey);
    scramble(std::span(image).subspan(16, kUserSlots * kDatabaseSlot), keyHash(key));
    for (size_t i = 0; i < kUserSlots; ++i) {
        const size_t at = 16 + i * kDatabaseSlot;
        m_users[i] = UserSlot{field(image, at, 32), field(image, at + 32, 32),
                              field(image, at + 64, 256)};
    }
    return reply(status::kOk);
}

std::vector<uint8_t> UnitState::writeFlash(std::span<const uint8_t> request)
{
    if (request.size() < 92)
        return reply(status::kBadRequest);
    const auto payload = request.subspan(kHeader);
    if (!adminOk(payload))
        return reply(status::kWrongPin);
    const uint32_t target = readLe32(request, 84);
    const uint32_t length = readLe32(request, 88);
    if (request.size() < 92 + static_cast<size_t>(length) || length % 4 != 0)
        return reply(status::kBadRequest);
    uint32_t sum = 0;
    for (size_t offset = 80; offset + 4 <= 92 + static_cast<size_t>(length); offset += 4)
        sum += readLe32(request, offset);
    if (sum != 0)
        return reply(status::kChecksum);
    if (static_cast<size_t>(target) + length > m_flash.size())
        return reply(status::kFlashRange);
    std::copy_n(request.begin() + 92, length, m_flash.begin() + target);
    return reply(status::kOk);
}

std::vector<uint8_t> UnitState::readFlash(std::span<const uint8_t> payload)
{
    if (payload.size() < 76)
        return reply(status::kBadRequest);
    if (!adminOk(payload))
        return reply(status::kWrongPin);
    const uint32_t target = readLe32(payload, 68);
    const uint32_t length = readLe32(payload, 72);
    if (static_cast<size_t>(target) + length > m_flash.size())
        return reply(status::kFlashRange);
    return reply(status::kOk, std::span(m_flash).subspan(target, length));
}

std::string UnitState::describe(std::span<const uint8_t> request)
{
    const auto header = shared::decodeHeader(request);
    if (!header)
        return "short request of " + std::to_string(request.size()) + " bytes";
    const auto payload = request.subspan(kHeader);
    const auto quoted = [&](size_t offset, size_t width) {
        return "\"" + field(payload, offset, width) + "\"";
    };
    std::string what;
    switch (header->code) {
    case kSendMsg:
        what = "panel text " + quoted(4, 64);
        break;
    case kGetScanInfo:
        what = "scan information";
        break;
    case kAplReport:
        what = "application report " +
               (payload.size() >= 4 ? std::to_string(readLe32(payload, 0)) : std::string("?"));
        break;
    case kGetFirmInfo:
        what = "firmware version";
        break;
    case kGetNetInfo:
        what = "network settings";
        break;
    case kSetNetInfo:
        what = "change network settings";
        break;
    case kUserRegister:
        what = "register user " + quoted(0, 32) + " for host " + quoted(128, 256);
        break;
    case kUserChangePin:
    case kUserChangeHost:
        what = "user " + quoted(0, 32) + " changes own entry";
        break;
    case kAdminModifyUser:
        what = "administrator changes user " + quoted(0, 32);
        break;
    case kAdminDeleteUser:
        what = "administrator deletes user " + quoted(0, 32);
        break;
    case kGetUserList:
        what = "user list";
        break;
    case kGetAllUser:
        what = "user table backup";
        break;
    case kPutAllUser:
        what = "user table restore";
        break;
    case kSetAdmin:
        what = "change administrator";
        break;
    case kGetName:
        what = "unit name";
        break;
    case kSetName:
        what = "rename unit to " + quoted(68, 48);
        break;
    case kMaintenanceEnter:
    case kMaintenanceLeave:
        what = header->code == kMaintenanceEnter ? "enter maintenance mode"
                                                 : "leave maintenance mode";
        break;
    case kScannerInfoEnter:
    case kScannerInfoLeave:
        what = header->code == kScannerInfoEnter ? "enter scanner-information mode"
                                                 : "leave scanner-information mode";
        break;
    case kWriteFlash:
    case kReadFlash:
        what = header->code == kWriteFlash ? "flash write" : "flash read";
        break;
    default: {
        char code[32];
        std::snprintf(code, sizeof code, "command 0x%X", header->code);
        what = code;
        break;
    }
    }
    return what + " (" + std::to_string(request.size()) + " bytes)";
}

UnitConfig UnitState::config() const
{
    std::scoped_lock lock(m_mutex);
    return m_config;
}

std::vector<UserSlot> UnitState::users() const
{
    std::scoped_lock lock(m_mutex);
    return {m_users.begin(), m_users.end()};
}

std::vector<uint32_t> UnitState::applicationReports() const
{
    std::scoped_lock lock(m_mutex);
    return m_reports;
}

std::vector<std::string> UnitState::panelTexts() const
{
    std::scoped_lock lock(m_mutex);
    return m_panelTexts;
}

std::vector<std::string> UnitState::panelLog() const
{
    std::scoped_lock lock(m_mutex);
    return m_panelLog;
}

bool UnitState::inMaintenance() const
{
    std::scoped_lock lock(m_mutex);
    return maintenanceActive();
}

bool UnitState::inScannerInfoMode() const
{
    std::scoped_lock lock(m_mutex);
    return m_scannerInfoMode;
}

bool UnitState::inTestMode() const
{
    std::scoped_lock lock(m_mutex);
    return m_testMode;
}

std::vector<uint8_t> UnitState::flash(size_t offset, size_t length) const
{
    std::scoped_lock lock(m_mutex);
    if (offset > m_flash.size())
        return {};
    length = std::min(length, m_flash.size() - offset);
    return {m_flash.begin() + static_cast<std::ptrdiff_t>(offset),
            m_flash.begin() + static_cast<std::ptrdiff_t>(offset + length)};
}

std::array<uint32_t, 256> UnitState::lcdValues() const
{
    std::scoped_lock lock(m_mutex);
    return m_lcdValues;
}

uint32_t UnitState::lcdLight() const
{
    std::scoped_lock lock(m_mutex);
    return m_lcdLight;
}

std::array<uint8_t, 12> UnitState::deviceInfo() const
{
    std::scoped_lock lock(m_mutex);
    return m_devinfo;
}

bool UnitState::preloadUser(const UserSlot& user)
{
    std::scoped_lock lock(m_mutex);
    if (user.name.empty() || findUser(user.name))
        return false;
    for (auto& slot : m_users) {
        if (slot.name.empty()) {
            slot = user;
            return true;
        }
    }
    return false;
}

bool UnitState::busy() const
{
    std::scoped_lock lock(m_mutex);
    return m_busy;
}

void UnitState::setBusy(bool busy)
{
    std::scoped_lock lock(m_mutex);
    m_busy = busy;
}

void UnitState::setFrontPanelStatus(uint32_t value)
{
    std::scoped_lock lock(m_mutex);
    m_frontPanelStatus = value;
}

} // namespace lumarc::unitsim
