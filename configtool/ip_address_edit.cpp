// The IPv4 address field.
#include "ip_address_edit.h"

#include <QHBoxLayout>
#include <QLabel>
#include <QLineEdit>
#include <QRegularExpressionValidator>

namespace lumarc::configtool {

IpAddressEdit::IpAddressEdit(QWidget* parent) : QWidget(parent)
{
    auto* layout = new QHBoxLayout(this);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->setSpacing(2);
    const QRegularExpression octet("25[0-5]|2[0-4][0-9]|1[0-9]{2}|[1-9]?[0-9]|");
    for (size_t i = 0; i < m_fields.size(); ++i) {
        if (i > 0)
            layout->addWidget(new QLabel(".", this));
        auto* edit = new QLineEdit(this);
        edit->setObjectName(QString("octet%1").arg(i + 1));
        edit->setMaxLength(3);
        edit->setAlignment(Qt::AlignCenter);
        edit->setValidator(new QRegularExpressionValidator(octet, edit));
        edit->setMaximumWidth(44);
        layout->addWidget(edit);
        m_fields[i] = edit;
        // A full field moves on to the next, as typing an address expects.
        if (i > 0) {
            QLineEdit* previous = m_fields[i - 1];
            connect(previous, &QLineEdit::textEdited, edit, [previous, edit](const QString& text) {
                if (text.size() == 3 && previous->cursorPosition() == 3)
                    edit->setFocus();
            });
        }
    }
    layout->addStretch();
    setFocusProxy(m_fields[0]);
}

std::array<uint8_t, 4> IpAddressEdit::fields() const
{
    std::array<uint8_t, 4> out{};
    for (size_t i = 0; i < out.size(); ++i)
        out[i] = static_cast<uint8_t>(std::min(m_fields[i]->text().toUInt(), 255u));
    return out;
}

void IpAddressEdit::setFields(const std::array<uint8_t, 4>& fields)
{
    for (size_t i = 0; i < fields.size(); ++i)
        m_fields[i]->setText(QString::number(fields[i]));
}

void IpAddressEdit::setAddress(uint32_t address)
{
    setFields({static_cast<uint8_t>(address >> 24), static_cast<uint8_t>(address >> 16),
               static_cast<uint8_t>(address >> 8), static_cast<uint8_t>(address)});
}

} // namespace lumarc::configtool
