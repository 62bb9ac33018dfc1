// A number edit with a spin button beside it (the tool's "number edit with
// spin button"): the value stays in its range, the edit takes at most the
// range's width of characters, the Up and Down keys press the button's
// halves, and a held half repeats every 100 ms with a growing step.
//
// The repeat runs on a RepeatTimer; tests install a fake one to step time
// by hand.
#pragma once

#include "spin_repeat.h"

#include <QLineEdit>
#include <QWidget>

#include <chrono>
#include <functional>
#include <memory>

namespace lumarc::infotool {

class RepeatTimer {
public:
    virtual ~RepeatTimer() = default;
    // Calls tick every interval until stop().
    virtual void start(std::chrono::milliseconds interval, std::function<void()> tick) = 0;
    virtual void stop() = 0;
};

using RepeatTimerFactory = std::function<std::unique_ptr<RepeatTimer>()>;
// The timers of spin edits created from now on; QTimer by default.
void setRepeatTimerFactory(RepeatTimerFactory factory);

class SpinButton;

class SpinEdit : public QWidget {
    Q_OBJECT
public:
    explicit SpinEdit(QWidget* parent = nullptr);
    ~SpinEdit() override;

    void setRange(SpinRange range);
    SpinRange range() const { return m_range; }
    int value() const { return m_value; }
    void setValue(int value);
    QLineEdit* edit() const { return m_edit; }
    SpinButton* button() const { return m_button; }

    // A press on the upper (+1) or lower (-1) half, its end, and whether the
    // pointer is still over that half.
    void pressHalf(int direction);
    void releaseHalf();
    void setPointerInHalf(bool inside) { m_inside = inside; }

Q_SIGNALS:
    void valueChanged(int value);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;
    void changeEvent(QEvent* event) override;

private:
    void step(int delta);
    void commitText();

    QLineEdit* m_edit;
    SpinButton* m_button;
    SpinRange m_range{0, 100};
    SpinRepeat m_repeat;
    std::unique_ptr<RepeatTimer> m_timer;
    int m_value = 0;
    bool m_inside = true;
};

// The two halves of the spin button.
class SpinButton : public QWidget {
    Q_OBJECT
public:
    explicit SpinButton(SpinEdit* owner);
    QSize sizeHint() const override { return {16, 22}; }

protected:
    void paintEvent(QPaintEvent* event) override;
    void mousePressEvent(QMouseEvent* event) override;
    void mouseMoveEvent(QMouseEvent* event) override;
    void mouseReleaseEvent(QMouseEvent* event) override;

private:
    int halfAt(int y) const { return y < height() / 2 ? 1 : -1; }
    SpinEdit* m_owner;
    int m_pressed = 0;
};

} // namespace lumarc::infotool
