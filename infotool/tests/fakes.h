// Test doubles for the scanner information tool's logic: a channel that
// records every command byte and answers from an in-process simulated
// scanner (or not at all), message boxes that record their texts and answer
// from a script, a PIN check, and a unit that records the management calls.
#pragma once

#include "infotool/message_boxes.h"
#include "infotool/scanner_commands.h"
#include "infotool/unit_management.h"
#include "unitsim/simulated_scanner.h"

#include <cstring>
#include <deque>
#include <functional>
#include <optional>
#include <set>
#include <string>
#include <vector>

namespace lumarc::infotool::testing {

struct Recorded {
    EscapeCode code;
    std::vector<uint8_t> cdb;
    std::vector<uint8_t> dataOut; // the payload of a data-out command
    size_t dataInLength = 0;
    const uint8_t* escapeOut = nullptr;
    uint32_t escapeOutLength = 0;

    // The vendor command text of a SEND DIAGNOSTIC.
    std::string text() const
    {
        return dataOut.size() >= 16 ? std::string(dataOut.begin(), dataOut.begin() + 16) : "";
    }
    std::vector<uint8_t> behindText() const
    {
        return dataOut.size() > 16 ? std::vector<uint8_t>(dataOut.begin() + 16, dataOut.end())
                                   : std::vector<uint8_t>{};
    }
};

class FakeChannel : public ScannerChannel {
public:
    FakeChannel() = default;
    explicit FakeChannel(const unitsim::ScannerProfile& profile) { attach(profile); }

    void attach(const unitsim::ScannerProfile& profile)
    {
        scanner.emplace(profile);
    }

    bool execute(const ScsiCommand& command) override
    {
        Recorded r{command.code, {command.cdb.begin(), command.cdb.begin() + command.cdbLength},
                   {}, 0, command.escapeOut, command.escapeOutLength};
        if (command.code == EscapeCode::DataOut)
            r.dataOut.assign(command.data.begin(), command.data.end());
        else
            r.dataInLength = command.data.size();
        commands.push_back(r);
        if (failAll || failOpcodes.contains(command.cdb[0]) ||
            (failText && r.text() == *failText))
            return false;
        if (!scanner)
            return true;
        const auto result = scanner->execute(r.cdb, r.dataOut,
                                             command.code == EscapeCode::DataIn
                                                 ? command.data.size()
                                                 : 0);
        if (command.code == EscapeCode::DataIn)
            std::copy(result.dataIn.begin(), result.dataIn.end(), command.data.begin());
        return result.status == 0;
    }
    bool usable() override
    {
        ++statusChecks;
        return usableAnswer;
    }

    // The SEND DIAGNOSTIC texts in the order sent.
    std::vector<std::string> texts() const
    {
        std::vector<std::string> out;
        for (const auto& c : commands)
            if (c.cdb[0] == 0x1D)
                out.push_back(c.text());
        return out;
    }
    std::vector<uint8_t> opcodes() const
    {
        std::vector<uint8_t> out;
        for (const auto& c : commands)
            out.push_back(c.cdb[0]);
        return out;
    }

    std::optional<unitsim::SimulatedScanner> scanner;
    std::vector<Recorded> commands;
    std::set<uint8_t> failOpcodes;
    std::optional<std::string> failText;
    bool failAll = false;
    bool usableAnswer = true;
    int statusChecks = 0;
};

struct Shown {
    std::string text, caption;
    BoxIcon icon;
    BoxButtons buttons;
};

class FakeBoxes : public MessageBoxes {
public:
    BoxAnswer show(const std::string& text, const std::string& caption, BoxIcon icon,
                   BoxButtons buttons) override
    {
        shown.push_back({text, caption, icon, buttons});
        if (answers.empty())
            return BoxAnswer::Ok;
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
    std::vector<Shown> shown;
    std::deque<BoxAnswer> answers;
};

class FakeAdmin : public AdminCheck {
public:
    bool run() override
    {
        ++runs;
        return answer;
    }
    bool answer = true;
    int runs = 0;
};

struct ManagementCall {
    std::string what, unit, pin;
    uint32_t flag = 0;
};

class FakeUnit : public UnitManagement {
public:
    int32_t startup() override
    {
        calls.push_back({"startup", "", "", 0});
        return startupResult;
    }
    int32_t cleanup() override
    {
        calls.push_back({"cleanup", "", "", 0});
        return 0;
    }
    uint32_t scannerInfoMode(const std::string& unit, uint32_t flag) override
    {
        calls.push_back({"scannerInfoMode", unit, "", flag});
        return flag == 1 ? enterResult : leaveResult;
    }
    uint32_t getName(const std::string& unit, UnitNameRecord& out) override
    {
        calls.push_back({"getName", unit, "", 0});
        std::strncpy(out.name, name.c_str(), sizeof out.name - 1);
        return nameResult;
    }
    uint32_t maintenanceMode(const std::string& unit, const std::string& admin,
                             const std::string& pin, uint32_t flag) override
    {
        calls.push_back({"maintenanceMode", unit, admin + ":" + pin, flag});
        if (flag == 1)
            return pin == rightPin ? 0 : wrongPinResult;
        return 0;
    }
    std::vector<std::string> names() const
    {
        std::vector<std::string> out;
        for (const auto& c : calls)
            out.push_back(c.what);
        return out;
    }

    std::vector<ManagementCall> calls;
    int32_t startupResult = 0;
    uint32_t enterResult = 0;
    uint32_t leaveResult = 0;
    uint32_t nameResult = 0;
    uint32_t wrongPinResult = 0x84;
    std::string name = "Front desk";
    std::string rightPin = "1234";
};

} // namespace lumarc::infotool::testing
