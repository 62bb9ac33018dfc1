// The Network Configuration dialog's view.
#include "cnetconfigdlg.h"

#include "small_dialogs.h"

#include "ui_cnetconfigdlg.h"

#include <QRegularExpressionValidator>

namespace lumarc::configtool {

CNetConfigDlg::CNetConfigDlg(NetworkConfigLogic& logic, const Texts& texts, QWidget* parent)
    : QDialog(parent), m_logic(logic), m_ui(std::make_unique<Ui::CNetConfigDlg>())
{
    m_ui->setupUi(this);
    const auto t = [&](uint32_t id) { return qtext(texts, id); };
    setWindowTitle(t(sid::kNetCaption));
    m_ui->changeConfigCheck->setText(t(sid::kChangeConfig));
    m_ui->nameLabel->setText(t(sid::kNameLabel));
    m_ui->firmwareLabel->setText(t(sid::kFirmwareLabel));
    m_ui->addressLabel->setText(t(sid::kAddressLabel));
    m_ui->subnetLabel->setText(t(sid::kSubnetLabel));
    m_ui->gatewayLabel->setText(t(sid::kGatewayLabel));
    m_ui->primaryDnsLabel->setText(t(sid::kPrimaryDnsLabel));
    m_ui->secondaryDnsLabel->setText(t(sid::kSecondaryDnsLabel));
    m_ui->macLabel->setText(t(sid::kMacLabel));
    m_ui->triggerPortLabel->setText(t(sid::kTriggerPortLabel));
    m_ui->defaultButton->setText(t(sid::kDefault));
    m_ui->changePinCheck->setText(t(sid::kChangePin));
    m_ui->newPinLabel->setText(t(sid::kNewPinLabel));
    m_ui->confirmPinLabel->setText(t(sid::kConfirmPinLabel));
    m_ui->applyButton->setText(t(sid::kApply));
    m_ui->closeButton->setText(t(sid::kClose));
    const QRegularExpression pin("[0-9]{0,6}");
    for (QLineEdit* edit : {m_ui->newPinEdit, m_ui->confirmPinEdit, m_ui->currentPinEdit})
        edit->setValidator(new QRegularExpressionValidator(pin, edit));
    m_ui->triggerPortEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_ui->triggerPortEdit));
    setTextMargins(this);

    connect(m_ui->triggerPortEdit, &QLineEdit::textEdited, this,
            [this] { m_portModified = true; });
    connect(m_ui->changeConfigCheck, &QCheckBox::toggled, this, [this](bool on) {
        m_logic.setChangeConfig(on);
        showEditable();
    });
    connect(m_ui->changePinCheck, &QCheckBox::toggled, this, [this](bool on) {
        m_logic.setChangePin(on);
        showEditable();
    });
    connect(m_ui->defaultButton, &QPushButton::clicked, this, [this] {
        m_logic.defaultPort();
        m_ui->triggerPortEdit->setText(QString::fromStdString(m_logic.port().text));
    });
    connect(m_ui->applyButton, &QPushButton::clicked, this, [this] {
        m_logic.setEdits({m_ui->nameEdit->text().toStdString(),
                          m_ui->triggerPortEdit->text().toStdString(), m_portModified,
                          m_ui->newPinEdit->text().toStdString(),
                          m_ui->confirmPinEdit->text().toStdString()});
        m_portModified = false;
        m_logic.apply();
        showValues();
    });
    connect(m_ui->closeButton, &QPushButton::clicked, this, &CNetConfigDlg::accept);
}

CNetConfigDlg::~CNetConfigDlg() = default;

void CNetConfigDlg::open()
{
    m_logic.open(*this);
    m_ui->addressEdit->setText(QString::fromStdString(m_logic.address()));
    m_ui->firmwareEdit->setText(QString::fromStdString(m_logic.firmware()));
    IpAddressEdit* fields[] = {m_ui->subnetEdit, m_ui->gatewayEdit, m_ui->primaryDnsEdit,
                               m_ui->secondaryDnsEdit};
    for (size_t i = 0; i < 4; ++i)
        fields[i]->setAddress(m_logic.addresses()[i]);
    m_ui->macEdit->setText(QString::fromStdString(m_logic.mac()));
    showValues();
    showEditable();
}

void CNetConfigDlg::showValues()
{
    m_ui->nameEdit->setText(QString::fromStdString(m_logic.name()));
    m_ui->triggerPortEdit->setText(QString::fromStdString(m_logic.port().text));
    m_ui->newPinEdit->setText(QString::fromStdString(m_logic.newPin()));
    m_ui->confirmPinEdit->setText(QString::fromStdString(m_logic.confirmPin()));
    m_ui->currentPinEdit->setText(QString::fromStdString(m_logic.currentPin()));
}

void CNetConfigDlg::showEditable()
{
    const bool config = m_logic.changeConfig();
    m_ui->nameEdit->setReadOnly(!config);
    m_ui->triggerPortEdit->setReadOnly(!config);
    m_ui->defaultButton->setEnabled(config);
    m_ui->newPinEdit->setReadOnly(!m_logic.changePin());
    m_ui->confirmPinEdit->setReadOnly(!m_logic.changePin());
}

void CNetConfigDlg::focus(NetField field)
{
    switch (field) {
    case NetField::Address:
        m_ui->addressEdit->setFocus();
        break;
    case NetField::Name:
        m_ui->nameEdit->setFocus();
        break;
    case NetField::TriggerPort:
        m_ui->triggerPortEdit->setFocus();
        break;
    case NetField::CurrentPin:
        m_ui->currentPinEdit->setFocus();
        break;
    case NetField::NewPin:
        m_ui->newPinEdit->setFocus();
        break;
    case NetField::ConfirmPin:
        m_ui->confirmPinEdit->setFocus();
        break;
    }
}

} // namespace lumarc::configtool
