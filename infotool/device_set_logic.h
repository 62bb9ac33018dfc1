// What the Device Set page (CDevSetDlg) shows and does: the EEPROM image
// and its counters, the clear buttons, the lamp timer or power-saving time,
// and the write-back when the sheet's OK is pressed.
//
// The image is read when the Device Info page opens, when this page opens
// and after each successful write. Nothing is ever written from an image
// that was not read completely: the write controls stay disabled and the
// page says so, so that a zeroed image can never overwrite the scanner's
// real settings.
#pragma once

#include "message_boxes.h"
#include "scanner_commands.h"
#include "scanner_data.h"
#include "texts.h"

#include <array>
#include <cstdint>
#include <optional>
#include <span>
#include <string>
#include <vector>

namespace lumarc::infotool {

using EepromImage = std::array<uint8_t, kEepromLength>;

// The counters of an image as the page shows them. first is the value of
// the first consumable row: the second pad counter (classes 8, 13, 14, 16,
// 18), the brake roller (15) or the ablation counter; nullopt: no such row.
struct Counters {
    std::optional<uint32_t> adfTotal;
    std::optional<uint32_t> flatbedTotal;
    std::optional<uint32_t> first;
    std::optional<uint32_t> pick;
};
Counters decodeCounters(ModelClass modelClass, std::span<const uint8_t, kEepromLength> image);

// The page values that go back into the image.
struct PageValues {
    uint32_t first = 0;
    uint32_t pick = 0;
    uint32_t minutes = 0;             // power saving, classes 14, 15, 16, 18
    bool powerSavingKnown = true;     // false: leave the stored value alone
};

// One vendor write of writeEeprom: its command kind and the bytes behind
// the command text.
struct EepromWrite {
    VendorCommand kind;
    std::vector<uint8_t> payload;
};

// The writes that bring the scanner's image in line with the page values
// (step 2 and, for class 3, step 3 of writeEeprom); nullopt for a class
// without a write layout. Regions equal to the image are left out.
std::optional<std::vector<EepromWrite>> eepromWrites(ModelClass modelClass,
                                                     const EepromImage& image,
                                                     const PageValues& values);

// The controls of the page, for the view.
enum class SetControl {
    AdfLabel, AdfEdit, AdfUnit,
    FlatbedLabel, FlatbedEdit, FlatbedUnit,
    FirstLabel, FirstEdit, FirstUnit, ClearFirst,
    PickLabel, PickEdit, PickUnit, ClearPick,
    FourthLabel, FourthEdit, FourthUnit, ClearFourth,
    InkLabel, InkEdit, InkUnit, ClearInk,
    TimerGroup, LampLabel, LampEdit, LampUnit,
    Slider, MinutesEdit, MinutesUnit,
    OffsetButton, PowerSavingButton, LogButton, ResetButton,
    Status,
    Count
};
constexpr size_t kSetControls = static_cast<size_t>(SetControl::Count);

struct ControlState {
    std::string text;
    bool visible = true;
    bool enabled = true;
};

// What apply asks of the view afterwards.
struct ApplyOutcome {
    bool closeSheet = false;
    std::optional<SetControl> focus; // an edit that failed its check
};

class DeviceSetLogic {
public:
    DeviceSetLogic(ScannerCommands& commands, const ScannerIdentity& identity, ScannerData& data,
                   const Texts& texts, MessageBoxes& boxes, AdminCheck& admin);

    // Fills the image as the class reads it, and the remaining ink for the
    // classes with an endorser. True when every read completed; otherwise
    // the image stays zero and counts as unread.
    bool readEeprom();
    // Writes the page values back (vendor writes, commit, ink); true when
    // every command completed. Never writes from an unread image.
    bool writeEeprom();

    // Page initialisation; false when the device was not usable (the
    // message was shown and the page shows no values).
    bool open();
    bool opened() const { return m_opened; }

    // The buttons and the slider.
    void clearFirst();
    void clearPick();
    void clearInk();
    void setSliderPosition(int position);
    // The lamp-timer edit (1..255) as typed.
    void setLampText(const std::string& text);

    // The sheet's OK: true in closeSheet lets the sheet close.
    ApplyOutcome apply();

    const ControlState& control(SetControl which) const
    {
        return m_controls[static_cast<size_t>(which)];
    }
    int sliderMinimum() const { return m_sliderMinimum; }
    int sliderMaximum() const { return m_sliderMaximum; }
    int sliderPosition() const { return m_sliderPosition; }
    bool modified() const { return m_modified; }
    bool inkCleared() const { return m_inkCleared; }
    bool eepromRead() const { return m_eepromRead; }
    uint32_t ink() const { return m_ink; }
    bool endorser() const { return m_endorser; }
    const PageValues& values() const { return m_values; }
    // The image the Offset dialog starts from and updates after a write.
    EepromImage& image() { return m_image; }
    const EepromImage& image() const { return m_image; }
    std::optional<Counters> counters() const { return m_counters; }

private:
    ControlState& c(SetControl which) { return m_controls[static_cast<size_t>(which)]; }
    void layOut();
    void showValues();
    void setUpPowerSaving();
    void setModified(bool modified);
    void disableWrites();

    ScannerCommands& m_commands;
    const ScannerIdentity& m_identity;
    ScannerData& m_data;
    const Texts& m_texts;
    MessageBoxes& m_boxes;
    AdminCheck& m_admin;

    EepromImage m_image{};
    bool m_eepromRead = false;
    uint32_t m_ink = 0;
    bool m_endorser = false;
    bool m_opened = false;
    bool m_usable = false;
    std::optional<Counters> m_counters;
    PageValues m_values;
    uint32_t m_lampTimer = 60;
    std::string m_lampText = "60";
    bool m_modified = false;
    bool m_inkCleared = false;
    int m_sliderMinimum = 3;
    int m_sliderMaximum = 11;
    int m_sliderPosition = 3;
    std::array<ControlState, kSetControls> m_controls{};
};

} // namespace lumarc::infotool
