// The unit list as the shared settings file holds it: one pass of the
// rebuild that the unit list window repeats until a pass completes, with
// the repairs a pass makes on the way, and the writes of Add, Delete,
// Favorite and the hand-over of the selected unit.
//
// A pass reads [Common] Total and Current and the unit sections 1 to Total
// from one snapshot of the file. It ends incomplete after a repair:
//   a section without an IP key   its IP becomes "" and Select and Current
//                                 the last unit; listed with an empty
//                                 address from then on
//   Current outside 1..Total      Select and Current become the last unit
// Each repair removes its cause, so a list of n units needs at most n + 2
// passes; when the file refuses the writes, the rebuild stops there with
// the last pass's rows instead of trying for ever.
#pragma once

#include "texts.h"

#include "shared/settings_file.h"

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace lumarc::configtool {

// The four images of a row, in the order of the window's icon lists.
enum class UnitIcon { Inactive = 0, Active = 1, CurrentInactive = 2, CurrentActive = 3 };

struct UnitRow {
    std::string name;    // column 0: NetBoxName
    std::string address; // column 1: IP, a dotted address or a host name
    std::string scanner; // column 2: Scanner, "--------" when unknown
    std::string status;  // column 3: the status text
    UnitIcon icon = UnitIcon::Inactive;
    bool favorite = false; // column 4 holds "*"
};

struct UnitList {
    std::vector<UnitRow> rows;
    std::optional<size_t> favoriteRow; // the current unit's row, scrolled into view
};

// The most units a list shows: a Total beyond it comes from a damaged file.
constexpr uint32_t kMaxListedUnits = 4096;
// Field capacities of the reads (the values are cut to one byte less).
constexpr size_t kValueCapacity = 260;
constexpr std::string_view kNoScanner = "--------";

class UnitListFile {
public:
    UnitListFile(shared::SettingsFile& file, const Texts& texts) : m_file(file), m_texts(texts) {}

    struct Pass {
        UnitList list;
        bool complete = false;
    };
    // One pass, with its repair when it needs one.
    Pass rebuildPass();
    // Passes until one completes (or the bound above is reached).
    UnitList rebuild();
    // How many passes the last rebuild took.
    int lastPasses() const { return m_passes; }

    // Add: Total + 1 and the new section's IP (the host name as typed, or
    // the dotted address) and Auto "0".
    Status addUnit(const std::string& address);
    // Delete: Status "5" in the row's section.
    Status markForDeletion(size_t row);
    // Favorite: Current := the row's unit.
    Status makeCurrent(size_t row);
    // Before a dialog or the scanner information tool: Select := the row's
    // unit, or the text of Current when no row is highlighted; flushed.
    Status select(std::optional<size_t> row);

    // The refresh wait W in milliseconds: (SearchBox + MonIf + 5) x 1000.
    uint32_t refreshWaitMs() const;

    shared::SettingsFile& file() { return m_file; }

private:
    void repairCurrent(uint32_t total);

    shared::SettingsFile& m_file;
    const Texts& m_texts;
    int m_passes = 0;
};

// The dotted text of an address typed into the four fields of an address
// control: "%d.%d.%d.%d".
std::string dottedAddress(const std::array<uint8_t, 4>& fields);

} // namespace lumarc::configtool
