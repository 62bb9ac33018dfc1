// The Device Set page's view.
#include "cdevsetdlg.h"

#include "ui_cdevsetdlg.h"

#include <QAbstractButton>
#include <QGroupBox>
#include <QLabel>
#include <QLineEdit>
#include <QSlider>

namespace lumarc::infotool {

using C = SetControl;

CDevSetDlg::CDevSetDlg(DeviceSetLogic& logic, QWidget* parent)
    : QWidget(parent), m_logic(logic), m_ui(std::make_unique<Ui::CDevSetDlg>())
{
    m_ui->setupUi(this);
    m_ui->lampEdit->setRange({1, 255});
    m_ui->lampEdit->setValue(60);
    m_ui->powerSavingSlider->setTickInterval(1);
    m_ui->statusLabel->setWordWrap(true);
    connect(m_ui->clearFirstButton, &QPushButton::clicked, this, [this] {
        m_logic.clearFirst();
        sync();
    });
    connect(m_ui->clearPickButton, &QPushButton::clicked, this, [this] {
        m_logic.clearPick();
        sync();
    });
    connect(m_ui->clearInkButton, &QPushButton::clicked, this, [this] {
        m_logic.clearInk();
        sync();
    });
    connect(m_ui->powerSavingSlider, &QSlider::valueChanged, this, [this](int position) {
        if (m_syncing)
            return;
        m_logic.setSliderPosition(position);
        sync();
    });
    connect(m_ui->lampEdit, &SpinEdit::valueChanged, this, [this](int value) {
        if (m_syncing)
            return;
        m_logic.setLampText(std::to_string(value));
    });
    connect(m_ui->offsetButton, &QPushButton::clicked, this, [this] {
        if (m_offset)
            m_offset();
    });
    // "&Power saving...", "&Log..." and the fourth "Clea&r" have no action.
}

CDevSetDlg::~CDevSetDlg() = default;

QWidget* CDevSetDlg::widgetOf(SetControl control) const
{
    Ui::CDevSetDlg& u = *m_ui;
    switch (control) {
    case C::AdfLabel: return u.adfTotalLabel;
    case C::AdfEdit: return u.adfTotalEdit;
    case C::AdfUnit: return u.adfTotalUnit;
    case C::FlatbedLabel: return u.flatbedTotalLabel;
    case C::FlatbedEdit: return u.flatbedTotalEdit;
    case C::FlatbedUnit: return u.flatbedTotalUnit;
    case C::FirstLabel: return u.firstCounterLabel;
    case C::FirstEdit: return u.firstCounterEdit;
    case C::FirstUnit: return u.firstCounterUnit;
    case C::ClearFirst: return u.clearFirstButton;
    case C::PickLabel: return u.pickRollerLabel;
    case C::PickEdit: return u.pickRollerEdit;
    case C::PickUnit: return u.pickRollerUnit;
    case C::ClearPick: return u.clearPickButton;
    case C::FourthLabel: return u.fourthCounterLabel;
    case C::FourthEdit: return u.fourthCounterEdit;
    case C::FourthUnit: return u.fourthCounterUnit;
    case C::ClearFourth: return u.clearFourthButton;
    case C::InkLabel: return u.inkLabel;
    case C::InkEdit: return u.inkEdit;
    case C::InkUnit: return u.inkUnit;
    case C::ClearInk: return u.clearInkButton;
    case C::TimerGroup: return u.timerGroup;
    case C::LampLabel: return u.lampLabel;
    case C::LampEdit: return u.lampEdit;
    case C::LampUnit: return u.lampUnit;
    case C::Slider: return u.powerSavingSlider;
    case C::MinutesEdit: return u.minutesEdit;
    case C::MinutesUnit: return u.minutesUnit;
    case C::OffsetButton: return u.offsetButton;
    case C::PowerSavingButton: return u.powerSavingButton;
    case C::LogButton: return u.logButton;
    case C::ResetButton: return u.resetButton;
    case C::Status: return u.statusLabel;
    case C::Count: break;
    }
    return nullptr;
}

void CDevSetDlg::initialise()
{
    if (m_initialised)
        return;
    m_initialised = true;
    (void)m_logic.open();
    sync();
}

void CDevSetDlg::sync()
{
    m_syncing = true;
    for (size_t i = 0; i < kSetControls; ++i) {
        const auto which = static_cast<C>(i);
        QWidget* widget = widgetOf(which);
        const ControlState& state = m_logic.control(which);
        const QString text = QString::fromStdString(state.text);
        widget->setVisible(state.visible);
        widget->setEnabled(state.enabled);
        if (auto* label = qobject_cast<QLabel*>(widget))
            label->setText(text);
        else if (auto* edit = qobject_cast<QLineEdit*>(widget))
            edit->setText(text);
        else if (auto* button = qobject_cast<QAbstractButton*>(widget))
            button->setText(text);
        else if (auto* group = qobject_cast<QGroupBox*>(widget))
            group->setTitle(text);
        else if (auto* spin = qobject_cast<SpinEdit*>(widget)) {
            bool ok = false;
            const int value = text.toInt(&ok);
            if (ok)
                spin->setValue(value);
        }
    }
    m_ui->powerSavingSlider->setRange(m_logic.sliderMinimum(), m_logic.sliderMaximum());
    m_ui->powerSavingSlider->setValue(m_logic.sliderPosition());
    m_syncing = false;
}

bool CDevSetDlg::apply()
{
    const ApplyOutcome outcome = m_logic.apply();
    sync();
    if (outcome.focus)
        if (QWidget* widget = widgetOf(*outcome.focus))
            widget->setFocus();
    return outcome.closeSheet;
}

} // namespace lumarc::infotool
