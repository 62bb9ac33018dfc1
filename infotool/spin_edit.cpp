// The number edit with its spin button.
#include "spin_edit.h"

#include <QEvent>
#include <QHBoxLayout>
#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QRegularExpressionValidator>
#include <QStyle>
#include <QStyleOption>
#include <QTimer>

namespace lumarc::infotool {
namespace {

class QtRepeatTimer : public RepeatTimer {
public:
    void start(std::chrono::milliseconds interval, std::function<void()> tick) override
    {
        m_timer.disconnect();
        QObject::connect(&m_timer, &QTimer::timeout, std::move(tick));
        m_timer.start(interval);
    }
    void stop() override { m_timer.stop(); }

private:
    QTimer m_timer;
};

RepeatTimerFactory& factory()
{
    static RepeatTimerFactory f;
    return f;
}

} // namespace

void setRepeatTimerFactory(RepeatTimerFactory f)
{
    factory() = std::move(f);
}

SpinEdit::SpinEdit(QWidget* parent)
    : QWidget(parent), m_edit(new QLineEdit(this)), m_button(new SpinButton(this))
{
    m_timer = factory() ? factory()() : std::make_unique<QtRepeatTimer>();
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(0);
    layout->addWidget(m_edit);
    layout->addWidget(m_button);
    m_edit->setObjectName("edit");
    m_button->setObjectName("spin");
    m_edit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("-?[0-9]*"), m_edit));
    m_edit->installEventFilter(this);
    setFocusProxy(m_edit);
    connect(m_edit, &QLineEdit::textEdited, this, [this](const QString& text) {
        bool ok = false;
        const int typed = text.toInt(&ok);
        if (ok && typed == m_range.clamp(typed) && typed != m_value) {
            m_value = typed;
            Q_EMIT valueChanged(m_value);
        }
    });
    connect(m_edit, &QLineEdit::editingFinished, this, &SpinEdit::commitText);
    setRange(m_range);
}

SpinEdit::~SpinEdit() = default;

void SpinEdit::setRange(SpinRange range)
{
    m_range = range;
    m_edit->setMaxLength(static_cast<int>(range.maxLength()));
    setValue(m_value);
}

void SpinEdit::setValue(int value)
{
    const int clamped = m_range.clamp(value);
    const bool changed = clamped != m_value;
    m_value = clamped;
    m_edit->setText(QString::number(m_value));
    if (changed)
        Q_EMIT valueChanged(m_value);
}

void SpinEdit::commitText()
{
    setValue(m_range.fromText(m_edit->text().toStdString()));
}

void SpinEdit::step(int delta)
{
    if (delta != 0)
        setValue(m_value + delta);
}

void SpinEdit::pressHalf(int direction)
{
    if (!isEnabled())
        return;
    commitText();
    m_inside = true;
    step(m_repeat.press(direction));
    m_timer->start(kSpinRepeatInterval, [this] {
        if (m_repeat.pressed() && m_inside)
            step(m_repeat.repeat());
    });
}

void SpinEdit::releaseHalf()
{
    m_repeat.release();
    m_timer->stop();
}

bool SpinEdit::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_edit) {
        if (event->type() == QEvent::KeyPress) {
            auto* key = static_cast<QKeyEvent*>(event);
            if (key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) {
                // Held keys repeat through the button's own timer.
                if (!key->isAutoRepeat())
                    pressHalf(key->key() == Qt::Key_Up ? 1 : -1);
                return true;
            }
        } else if (event->type() == QEvent::KeyRelease) {
            auto* key = static_cast<QKeyEvent*>(event);
            if ((key->key() == Qt::Key_Up || key->key() == Qt::Key_Down) &&
                !key->isAutoRepeat()) {
                releaseHalf();
                return true;
            }
        } else if (event->type() == QEvent::FocusOut) {
            releaseHalf();
            commitText();
        }
    }
    return QWidget::eventFilter(watched, event);
}

void SpinEdit::changeEvent(QEvent* event)
{
    if (event->type() == QEvent::EnabledChange && !isEnabled())
        releaseHalf();
    QWidget::changeEvent(event);
}

SpinButton::SpinButton(SpinEdit* owner) : QWidget(owner), m_owner(owner)
{
    setFixedWidth(16);
    setMouseTracking(false);
    setCursor(Qt::ArrowCursor);
}

void SpinButton::paintEvent(QPaintEvent*)
{
    QPainter painter(this);
    QStyleOption option;
    option.initFrom(this);
    const int half = height() / 2;
    for (int part = 0; part < 2; ++part) {
        QStyleOption arrow = option;
        arrow.rect = QRect(0, part * half, width(), part == 0 ? half : height() - half);
        const bool down = (part == 0 && m_pressed == 1) || (part == 1 && m_pressed == -1);
        if (down)
            arrow.state |= QStyle::State_Sunken;
        style()->drawPrimitive(QStyle::PE_PanelButtonBevel, &arrow, &painter, this);
        style()->drawPrimitive(part == 0 ? QStyle::PE_IndicatorArrowUp
                                         : QStyle::PE_IndicatorArrowDown,
                               &arrow, &painter, this);
    }
}

void SpinButton::mousePressEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = halfAt(event->position().toPoint().y());
    m_owner->pressHalf(m_pressed);
    update();
}

void SpinButton::mouseMoveEvent(QMouseEvent* event)
{
    if (m_pressed == 0)
        return;
    const QPoint at = event->position().toPoint();
    m_owner->setPointerInHalf(rect().contains(at) && halfAt(at.y()) == m_pressed);
}

void SpinButton::mouseReleaseEvent(QMouseEvent* event)
{
    if (event->button() != Qt::LeftButton)
        return;
    m_pressed = 0;
    m_owner->releaseHalf();
    update();
}

} // namespace lumarc::infotool
