// What the Device Info page (CDevInfoDlg) shows: the scanner's
// identification and capabilities as a two-column list of groups whose head
// rows expand and collapse, one group at a time.
#pragma once

#include "device_set_logic.h"
#include "message_boxes.h"
#include "scanner_commands.h"
#include "scanner_data.h"
#include "texts.h"

#include <array>
#include <optional>
#include <string>
#include <vector>

namespace lumarc::infotool {

// Images of the row image strip (16 pixels wide each).
namespace rowimage {
constexpr int kSingle = 0;
constexpr int kCollapsed = 1;
constexpr int kExpanded = 7;
constexpr int kLast = 9;
constexpr int kMiddle = 11;
constexpr int kCount = 12;
} // namespace rowimage

struct InfoEntry {
    std::string label;
    std::string value;
};

//  display:  Single (one entry)    Collapsed <--click--> Expanded
//  pending:  -1 until filled; Expand or Collapse until the next rebuild
enum class GroupDisplay { Single = 1, Expanded = 2, Collapsed = 3 };
enum class GroupAction { Unfilled = -1, None = 0, Expand = 2, Collapse = 3 };

struct InfoGroup {
    std::vector<InfoEntry> entries; // entries[0] is the head row
    GroupDisplay display = GroupDisplay::Single;
    GroupAction pending = GroupAction::Unfilled;
};

struct ListRow {
    std::string label;
    std::string value;
    int image = rowimage::kSingle;
    int group = 0;
    bool head = false;
};

// What the rows are built from.
struct InfoSource {
    ModelClass modelClass = kClassNotFound;
    int row = -1;
    std::array<uint8_t, kInquiryLength> inquiry{};
    std::array<uint8_t, kVpdLength> vpd{}; // after the override
    std::optional<std::array<uint8_t, kFirmwareLength>> firmware;
    EepromImage eeprom{};
};

class DeviceInfoLogic {
public:
    static constexpr size_t kMaxGroups = 17;
    static constexpr size_t kMaxEntries = 33;

    DeviceInfoLogic(ScannerCommands& commands, const ScannerIdentity& identity, ScannerData& data,
                    DeviceSetLogic& deviceSet, const Texts& texts, MessageBoxes& boxes);

    // Page initialisation: reads INQUIRY, VPD page F0, the EEPROM image and
    // (classes 15, 16, 17) the firmware versions, builds the groups and the
    // list, and writes the EEPROM dump file. False when the device was not
    // usable: the message was shown and the list stays empty.
    bool open();
    bool filled() const { return m_filled; }

    // The groups of a source, without the scanner (also for tests).
    void build(const InfoSource& source);
    // Redraws the visible rows from the groups.
    void rebuild();
    // A left-button press on a visible row; rows past the last are ignored.
    // True when the list was rebuilt.
    bool click(int row);

    const std::vector<InfoGroup>& groups() const { return m_groups; }
    const std::vector<ListRow>& rows() const { return m_rows; }
    int lastClicked() const { return m_lastClicked; }
    // Every entry of every group, heads included (what lumarc scanner lists).
    std::vector<ListRow> allRows() const;
    // The scroll range of the list: 0 to max(0, rows - rowsPerPage).
    int scrollMaximum(int rowsPerPage) const;

private:
    void add(size_t group, uint32_t labelId, const std::string& value);
    void addText(size_t group, const std::string& label, const std::string& value);

    ScannerCommands& m_commands;
    const ScannerIdentity& m_identity;
    ScannerData& m_data;
    DeviceSetLogic& m_deviceSet;
    const Texts& m_texts;
    MessageBoxes& m_boxes;
    std::vector<InfoGroup> m_groups;
    std::vector<ListRow> m_rows;
    int m_lastClicked = -1;
    bool m_filled = false;
};

} // namespace lumarc::infotool
