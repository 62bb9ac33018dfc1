// An IPv4 address field: four number fields of 0 to 255 with dots between
// them. An empty field counts as 0, as the address controls the dialogs
// were designed with do.
#pragma once

#include <QWidget>

#include <array>
#include <cstdint>

class QLineEdit;

namespace lumarc::configtool {

class IpAddressEdit : public QWidget {
    Q_OBJECT
public:
    explicit IpAddressEdit(QWidget* parent = nullptr);

    std::array<uint8_t, 4> fields() const;
    void setFields(const std::array<uint8_t, 4>& fields);
    // An address in number form, first octet most significant.
    void setAddress(uint32_t address);
    QLineEdit* field(int index) const { return m_fields[static_cast<size_t>(index)]; }

private:
    std::array<QLineEdit*, 4> m_fields{};
};

} // namespace lumarc::configtool
