// Test doubles for the configuration tool's logic: message boxes that
// record their texts and answer from a script, a unit that keeps a user
// table and an administrator PIN and records every call, the event module's
// window, the unit list window's view, its dialogs and the program starter.
#pragma once

#include "configtool/unit_list_window.h"

#include <cstring>
#include <deque>
#include <functional>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace lumarc::configtool::testing {

struct Shown {
    std::string text;
    std::string caption;
    BoxIcon icon;
    BoxButtons buttons;
};

class FakeBoxes : public MessageBoxes {
public:
    BoxAnswer show(const std::string& text, const std::string& caption, BoxIcon icon,
                   BoxButtons buttons) override
    {
        shown.push_back({text, caption, icon, buttons});
        if (onShow)
            onShow();
        if (answers.empty())
            return buttons == BoxButtons::YesNo ? BoxAnswer::Yes : BoxAnswer::Ok;
        const BoxAnswer a = answers.front();
        answers.pop_front();
        return a;
    }
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& s : shown)
            out.push_back(s.text);
        return out;
    }
    std::string last() const { return shown.empty() ? std::string() : shown.back().text; }
    std::vector<Shown> shown;
    std::deque<BoxAnswer> answers;
    std::function<void()> onShow;
};

struct UserEntry {
    std::string name, pin, host;
};

// A unit in memory. forced[call] overrides the result of the named call
// ("getName", "maintenance", "setAdmin", ...) once it is set.
class FakeUnit : public UnitManagement {
public:
    FakeUnit() { users.resize(kUserSlots); }

    int32_t startup() override { return startResult; }
    int32_t cleanup() override
    {
        ++cleanups;
        return 0;
    }
    uint32_t getName(const std::string& unit, UnitNameRecord& out) override
    {
        log("getName " + unit);
        if (auto f = force("getName"))
            return *f;
        out.triggerPort = triggerPort;
        std::strncpy(out.name, name.c_str(), sizeof out.name - 1);
        return 0;
    }
    uint32_t setName(const std::string&, const std::string& pin,
                     const UnitNameRecord& record) override
    {
        log("setName " + pin + " " + std::to_string(record.triggerPort) + " " + record.name);
        if (auto f = force("setName"))
            return *f;
        if (pin != adminPin)
            return result::kWrongPin;
        triggerPort = record.triggerPort;
        name = record.name;
        return 0;
    }
    uint32_t getFirmInfo(const std::string&, std::array<char, kFirmwareInfoSize>& out) override
    {
        log("getFirmInfo");
        if (auto f = force("getFirmInfo"))
            return *f;
        std::strncpy(out.data(), firmware.c_str(), out.size() - 1);
        return 0;
    }
    uint32_t getNetInfo(const std::string&, NetInfoRecord& out) override
    {
        log("getNetInfo");
        if (auto f = force("getNetInfo"))
            return *f;
        out.subnetMask = 0xFFFFFF00;
        out.gateway = 0xC0A80101;
        out.primaryDns = 0x08080808;
        out.secondaryDns = 0;
        const uint8_t mac[6] = {0x00, 0x1b, 0x2c, 0x3d, 0x4e, 0xaf};
        std::memcpy(out.mac, mac, 6);
        return 0;
    }
    uint32_t maintenanceMode(const std::string& unit, const std::string& pin,
                             uint32_t flag) override
    {
        log("maintenance " + std::to_string(flag) + " " + unit + " " + pin);
        if (auto f = force(flag != 0 ? "enter" : "leave"))
            return *f;
        if (pin != adminPin)
            return result::kWrongPin;
        if (flag != 0 && inMaintenance)
            return result::kInMaintenance;
        inMaintenance = flag != 0;
        return 0;
    }
    uint32_t setAdmin(const std::string&, const std::string& pin,
                      const std::string& newPin) override
    {
        log("setAdmin " + pin + " " + newPin);
        if (auto f = force("setAdmin"))
            return *f;
        if (pin != adminPin)
            return result::kWrongPin;
        adminPin = newPin;
        return 0;
    }
    uint32_t getUserList(const std::string&, const std::string& pin,
                         std::span<uint8_t, kUserListSize> out) override
    {
        log("getUserList " + pin);
        if (auto f = force("getUserList"))
            return *f;
        for (size_t i = 0; i < kUserSlots; ++i) {
            std::strncpy(reinterpret_cast<char*>(out.data() + i * kUserRecordSize),
                         users[i].name.c_str(), 31);
            std::strncpy(reinterpret_cast<char*>(out.data() + i * kUserRecordSize + 32),
                         users[i].host.c_str(), 255);
        }
        return 0;
    }
    uint32_t userEntry(const std::string&, const std::string& user, const std::string& pin,
                       const std::string& host) override
    {
        log("userEntry [" + user + "] [" + pin + "] [" + host + "]");
        if (auto f = force("userEntry"))
            return *f;
        for (auto& u : users)
            if (u.name == user)
                return result::kNameTaken;
        for (auto& u : users)
            if (u.name.empty()) {
                u = {user, pin, host};
                return 0;
            }
        return result::kTableFull;
    }
    uint32_t adminUserEntry(const std::string&, const std::string& user, const std::string& pin,
                            const std::string& host, const std::string& pinOfAdmin,
                            uint32_t mode) override
    {
        log("adminUserEntry " + std::to_string(mode) + " [" + user + "] [" + pin + "] [" + host +
            "] " + pinOfAdmin);
        if (auto f = force("adminUserEntry"))
            return *f;
        for (auto& u : users)
            if (u.name == user) {
                u = mode == 2 ? UserEntry{} : UserEntry{user, pin, host};
                return 0;
            }
        return 0x82;
    }
    uint32_t getAllUser(const std::string&, const std::string& pin, const std::string& key,
                        std::span<uint8_t, kUserDatabaseSize> out) override
    {
        log("getAllUser " + pin + " " + key);
        if (auto f = force("getAllUser"))
            return *f;
        for (size_t i = 0; i < out.size(); ++i)
            out[i] = static_cast<uint8_t>(i * 7 + key.size());
        return 0;
    }
    uint32_t putAllUser(const std::string&, const std::string& pin, const std::string& key,
                        std::span<const uint8_t, kUserDatabaseSize> block) override
    {
        log("putAllUser " + pin + " " + key);
        if (auto f = force("putAllUser"))
            return *f;
        restored.assign(block.begin(), block.end());
        return 0;
    }

    std::optional<uint32_t> force(const std::string& call) const
    {
        if (auto it = forced.find(call); it != forced.end())
            return it->second;
        return std::nullopt;
    }
    void log(const std::string& line) { calls.push_back(line); }

    int32_t startResult = 0;
    int cleanups = 0;
    std::string name = "Lobby";
    std::string firmware = "LM-2.10.0031";
    uint32_t triggerPort = 10002;
    std::string adminPin = "1234";
    bool inMaintenance = false;
    std::vector<UserEntry> users;
    std::vector<uint8_t> restored;
    std::map<std::string, uint32_t> forced;
    std::vector<std::string> calls;
};

class FakeEventModule : public EventModuleLink {
public:
    bool exists() override { return present; }
    bool requestRefresh() override
    {
        ++requests;
        if (onRequest)
            onRequest();
        return present;
    }
    bool present = true;
    int requests = 0;
    std::function<void()> onRequest;
};

// The unit list window's view: records what is shown; pause() counts and
// runs a script, so a test decides when the event module answers or the
// user presses Cancel.
class FakeView : public UnitListView {
public:
    void showList(const UnitList& list) override
    {
        shown = list;
        ++lists;
    }
    std::optional<size_t> highlightedRow() const override { return highlighted; }
    void setRowStatus(size_t row, const std::string& text) override
    {
        statusTexts.push_back({row, text});
    }
    void setRowName(size_t row, const std::string& name) override { names.push_back({row, name}); }
    void setSelectionButtonsEnabled(bool enabled) override { selectionButtons = enabled; }
    void setBusy(bool on) override
    {
        busy = on;
        busyChanges.push_back(on);
    }
    void openProgress(int maximum) override
    {
        progressOpen = true;
        progressMaximum = maximum;
        ++progressOpened;
    }
    void setProgress(int value) override { progressValues.push_back(value); }
    void closeProgress() override { progressOpen = false; }
    void pause(std::chrono::milliseconds interval) override
    {
        paused += interval;
        ++pauses;
        if (onPause)
            onPause(pauses);
    }

    UnitList shown;
    int lists = 0;
    std::optional<size_t> highlighted;
    std::vector<std::pair<size_t, std::string>> statusTexts;
    std::vector<std::pair<size_t, std::string>> names;
    bool selectionButtons = true;
    bool busy = false;
    std::vector<bool> busyChanges;
    bool progressOpen = false;
    int progressMaximum = -1;
    int progressOpened = 0;
    std::vector<int> progressValues;
    std::chrono::milliseconds paused{0};
    int pauses = 0;
    std::function<void(int)> onPause;
};

// The dialogs, answered by functions the test sets.
class FakeDialogs : public UnitDialogs {
public:
    std::optional<AddChoice> runAdd() override { return add; }
    bool runPin(PinLogic& logic) override
    {
        for (const auto& pin : pins)
            if (logic.ok(pin))
                return true;
        return false;
    }
    void runUserRegistration(UserRegistrationLogic& logic) override
    {
        if (users)
            users(logic);
    }
    void runNetworkConfiguration(NetworkConfigLogic& logic) override
    {
        if (network)
            network(logic);
    }
    std::optional<AddChoice> add;
    std::vector<std::string> pins; // typed one after another, then Cancel
    std::function<void(UserRegistrationLogic&)> users;
    std::function<void(NetworkConfigLogic&)> network;
};

class FakeStarter : public ProgramStarter {
public:
    bool start() override
    {
        ++starts;
        return startable;
    }
    Wait waitUntilReady(std::chrono::milliseconds timeout) override
    {
        waits.push_back(timeout);
        if (answers.empty())
            return Wait::Ready;
        const Wait w = answers.front();
        answers.pop_front();
        return w;
    }
    bool startable = true;
    int starts = 0;
    std::deque<Wait> answers;
    std::vector<std::chrono::milliseconds> waits;
};

} // namespace lumarc::configtool::testing
