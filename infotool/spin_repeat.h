// The number edit with a spin button: range, length limit, and the
// accelerating repeat while a half of the button is held.
//
// A press adds or subtracts 1; every 100 ms while the half stays pressed the
// value moves again, by 1 for the first 9 repeats, by 5 from the 10th, and
// the step doubles at the 20th, when the count starts again at 1: steps of
// 1, 5, 10, 50, 100, ...
#pragma once

#include <chrono>
#include <cstddef>
#include <string>

namespace lumarc::infotool {

constexpr std::chrono::milliseconds kSpinRepeatInterval{100};

struct SpinRange {
    int minimum = 0;
    int maximum = 0;

    int clamp(int value) const;
    // The longer of the maximum's digits and the minimum's digits with its
    // sign: what the edit accepts.
    size_t maxLength() const;
    // A typed text moved into the range when the edit loses the focus (an
    // empty or unreadable text becomes the minimum, or 0 when in range).
    int fromText(const std::string& text) const;
};

class SpinRepeat {
public:
    // A press on the upper (+1) or lower (-1) half: the first step.
    int press(int direction);
    // One repeat while the half is held: the step to apply (0 when not
    // pressed).
    int repeat();
    void release();
    bool pressed() const { return m_direction != 0; }
    int step() const { return m_step; }

private:
    static constexpr int kMaxStep = 1'000'000; // beyond any range, never overflows
    int m_direction = 0;
    int m_step = 1;
    int m_count = 0;
};

} // namespace lumarc::infotool
