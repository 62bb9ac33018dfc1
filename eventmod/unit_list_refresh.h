// The unit-list refresh: the event module's upkeep of the unit sections of
// the shared settings file, at start-up and when the configuration tool asks.
//
//   purge    sections marked 5 go, later ones move up, Current follows;
//            every other section's Status becomes 0 and its Scanner ""
//   search   units that answer the broadcast are updated or appended
//            (Auto 1); a failed search ends the refresh here
//   query    hand-entered units (Auto 0) are asked directly
//   current  the current unit's scanner model is the result, for the
//            TWAIN data sources
#pragma once

#include "shared/settings_file.h"

#include <optional>
#include <string>
#include <vector>

namespace lumarc::eventmod {

// A unit that answered the broadcast search.
struct FoundUnit {
    std::string address; // dotted IPv4
    std::string name;
    std::string mac; // "00-11-22-33-44-55"
    bool busy = false;
    std::string scanner; // model, empty when no scanner is attached
};

// A hand-entered unit that answered the direct queries.
struct QueriedUnit {
    std::string name;
    std::string mac;
    std::string scanner;
};

// What the refresh asks the network. The real one goes through the unit
// management library (ZorvanNetwork); tests pass a fake.
class UnitNetwork {
public:
    virtual ~UnitNetwork() = default;
    // The units that answer a broadcast search, in answer order; nullopt
    // when the search could not run. Blocks for the discovery time-out.
    virtual std::optional<std::vector<FoundUnit>> search() = 0;
    // Name, network settings and scan information of one unit; nullopt
    // when any of the three fails.
    virtual std::optional<QueriedUnit> query(const std::string& address) = 0;
};

class ZorvanNetwork : public UnitNetwork {
public:
    std::optional<std::vector<FoundUnit>> search() override;
    std::optional<QueriedUnit> query(const std::string& address) override;
};

// The scanner model from SCSI INQUIRY data: 15 characters from offset 16,
// trailing blanks removed.
std::string modelFromInquiry(const uint8_t* inquiry, size_t length);

// Runs the refresh; returns the current unit's scanner model, or nullopt
// when the search failed and the refresh ended early.
std::optional<std::string> refreshUnitList(shared::SettingsFile& file, UnitNetwork& network);

} // namespace lumarc::eventmod
