// What the Offset dialog (COffsetDlg) shows and does: the image offsets per
// reading unit and the vertical magnification, read from the Device Set
// page's EEPROM image and written back when OK is pressed.
#pragma once

#include "device_set_logic.h"
#include "message_boxes.h"
#include "scanner_commands.h"
#include "scanner_data.h"
#include "spin_repeat.h"
#include "texts.h"

#include <optional>
#include <string>
#include <vector>

namespace lumarc::infotool {

// Item data of the two unit lists.
namespace unit {
constexpr int kFlatbed = 1;
constexpr int kAdfFront = 2;
constexpr int kAdfBack = 4;
} // namespace unit

struct OffsetValues {
    int fbMain = 0, fbSub = 0;
    int adfMain = 0, adfSub = 0;
    int backMain = 0, backSub = 0;
    int adfBottom = 0, backBottom = 0;
    int adfMagnification = 0, fbMagnification = 0; // tenths of a percent
    bool top = false, left = false;
};

// The encodings of the image.
uint8_t encodeNibble(int value);        // 4-bit sign-magnitude
int decodeNibble(uint8_t nibble);
uint8_t encodeSignMagnitude(int value); // 8-bit sign-magnitude
int decodeSignMagnitude(uint8_t byte, uint8_t magnitudeMask = 0x7F);
uint8_t encodeClass18Magnification(int value);
int decodeClass18Magnification(uint8_t byte);

struct UnitItem {
    std::string text;
    int id = 0;
};

// The vendor write of the Offset dialog: offset 0 and the count of the
// class, from the working copy with the values placed.
struct OffsetWrite {
    EepromImage working{};
    size_t count = 0;
};

class OffsetLogic {
public:
    OffsetLogic(const ScannerIdentity& identity, const ScannerData& data, const EepromImage& image,
                const Texts& texts);

    // The offset part.
    const std::vector<UnitItem>& units() const { return m_units; }
    int selectedUnit() const { return m_selected; }
    SpinRange range(int unitId) const;
    SpinRange selectedRange() const { return range(m_selected); }
    int mainValue() const;
    int subValue() const;
    int bottomValue() const;
    bool bottomEnabled() const { return m_bottomEnabled; }
    // Stores the edits into the previously selected unit, then selects id.
    void selectUnit(int unitId, int mainEdit, int subEdit, int bottomEdit);
    bool checksVisible() const { return m_checksVisible; }

    // The magnification part.
    bool magnificationEnabled() const { return m_magnificationEnabled; }
    const std::vector<UnitItem>& magnificationUnits() const { return m_magnificationUnits; }
    int selectedMagnificationUnit() const { return m_magnificationSelected; }
    SpinRange magnificationRange() const { return m_magnificationRange; }
    std::string lowLabel() const { return m_lowLabel; }
    std::string highLabel() const { return m_highLabel; }
    std::string rangeLabel() const { return m_rangeLabel; }
    int magnification() const;           // of the selected unit, in tenths
    std::string magnificationText() const; // "%2.1f" percent
    void selectMagnificationUnit(int unitId);
    void setMagnification(int tenths);

    const OffsetValues& values() const { return m_values; }
    OffsetValues& values() { return m_values; }

    // Stores the edits into the selected unit and checks the six offsets
    // against their ranges; out of range: all six become 0, false.
    bool storeAndCheck(int mainEdit, int subEdit, int bottomEdit, bool top, bool left);
    // The working copy of the image with the values placed.
    OffsetWrite build() const;

    // OK: store and check, confirm, PIN, status, write. nullopt keeps the
    // dialog open; otherwise it closes with OK (the write's outcome inside).
    std::optional<bool> ok(int mainEdit, int subEdit, int bottomEdit, bool top, bool left,
                           ScannerCommands& commands, EepromImage& pageImage, MessageBoxes& boxes,
                           AdminCheck& admin);

private:
    void store(int unitId, int mainEdit, int subEdit, int bottomEdit);
    int* mainOf(int unitId);
    int* subOf(int unitId);
    int* bottomOf(int unitId);
    const int* mainOf(int unitId) const { return const_cast<OffsetLogic*>(this)->mainOf(unitId); }
    const int* subOf(int unitId) const { return const_cast<OffsetLogic*>(this)->subOf(unitId); }
    const int* bottomOf(int unitId) const
    {
        return const_cast<OffsetLogic*>(this)->bottomOf(unitId);
    }

    const ScannerIdentity& m_identity;
    const ScannerData& m_data;
    const EepromImage& m_image;
    const Texts& m_texts;
    ModelClass m_class;
    OffsetValues m_values;
    std::vector<UnitItem> m_units;
    int m_selected = 0;
    bool m_bottomEnabled = false;
    bool m_bottomInByte55 = false;
    bool m_checksVisible = false;
    bool m_magnificationEnabled = false;
    std::vector<UnitItem> m_magnificationUnits;
    int m_magnificationSelected = 0;
    SpinRange m_magnificationRange;
    std::string m_lowLabel, m_highLabel, m_rangeLabel;
};

} // namespace lumarc::infotool
