// The administrator PIN dialog's view.
#include "cpindlg.h"

#include "ui_cpindlg.h"

#include "qtcommon/qt_message_boxes.h"

#include <QPushButton>
#include <QRegularExpressionValidator>

namespace lumarc::infotool {

CPinDlg::CPinDlg(PinLogic& logic, const Texts& texts, QWidget* parent)
    : QDialog(parent), m_logic(logic), m_ui(std::make_unique<Ui::CPinDlg>())
{
    m_ui->setupUi(this);
    const auto t = [&](uint32_t id) { return QString::fromStdString(texts(id)); };
    setWindowTitle(t(sid::kPinCaption));
    m_ui->unitNameLabel->setText(t(sid::kPinUnitName));
    m_ui->addressLabel->setText(t(sid::kPinAddress));
    m_ui->pinPromptLabel->setText(t(sid::kPinPrompt));
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setText(t(sid::kOk));
    m_ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(t(sid::kCancel));
    m_ui->pinEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,6}"), m_ui->pinEdit));
    m_ui->unitNameEdit->setText(QString::fromStdString(logic.unitName()));
    m_ui->addressEdit->setText(QString::fromStdString(logic.address()));
    m_ui->pinEdit->setFocus();
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CPinDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CPinDlg::reject);
}

CPinDlg::~CPinDlg() = default;

void CPinDlg::accept()
{
    if (m_logic.ok(m_ui->pinEdit->text().toStdString()))
        QDialog::accept();
}

bool PinDialogCheck::run()
{
    if (qtcommon::programEnding())
        return false;
    PinLogic logic(m_management, m_settings, m_boxes, m_texts);
    if (!logic.open())
        return false;
    CPinDlg dialog(logic, m_texts, m_parent);
    return dialog.exec() == QDialog::Accepted;
}

} // namespace lumarc::infotool
