// The small dialogs.
#include "small_dialogs.h"

#include "unit_icons.h"
#include "user_registration.h"

#include "ui_cadddlg.h"
#include "ui_cbackuppassdlg.h"
#include "ui_cpindlg.h"
#include "ui_cprogressdlg.h"
#include "ui_cversiondlg.h"

#include <QHeaderView>
#include <QLineEdit>
#include <QPushButton>
#include <QRegularExpressionValidator>

namespace lumarc::configtool {
namespace {

constexpr int kHeadingLimit = 29; // the Version Information headings are cut there
constexpr int kTextMargin = 3;

void setOkCancelTexts(QDialogButtonBox* box, const Texts& texts)
{
    box->button(QDialogButtonBox::Ok)->setText(qtext(texts, sid::kOk));
    box->button(QDialogButtonBox::Cancel)->setText(qtext(texts, sid::kCancel));
}

QValidator* pinValidator(QObject* parent)
{
    return new QRegularExpressionValidator(QRegularExpression("[0-9]{0,6}"), parent);
}

} // namespace

void setTextMargins(QWidget* dialog)
{
    for (auto* edit : dialog->findChildren<QLineEdit*>())
        edit->setTextMargins(kTextMargin, 0, kTextMargin, 0);
}

CAddDlg::CAddDlg(const Texts& texts, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CAddDlg>())
{
    m_ui->setupUi(this);
    setWindowTitle(qtext(texts, sid::kAddCaption));
    m_ui->ipAddressRadio->setText(qtext(texts, sid::kIpAddressChoice));
    m_ui->hostNameRadio->setText(qtext(texts, sid::kHostNameChoice));
    setOkCancelTexts(m_ui->buttonBox, texts);
    chooseHostName(false);
    connect(m_ui->ipAddressRadio, &QRadioButton::toggled, this,
            [this](bool on) { chooseHostName(!on); });
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CAddDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CAddDlg::reject);
    m_ui->ipAddressEdit->setFocus();
}

CAddDlg::~CAddDlg() = default;

void CAddDlg::chooseHostName(bool byHostName)
{
    m_ui->ipAddressEdit->setEnabled(!byHostName);
    m_ui->hostNameEdit->setEnabled(byHostName);
}

AddChoice CAddDlg::choice() const
{
    AddChoice choice;
    choice.byHostName = m_ui->hostNameRadio->isChecked();
    choice.hostName = m_ui->hostNameEdit->text().toStdString();
    choice.address = m_ui->ipAddressEdit->fields();
    return choice;
}

CProgressDlg::CProgressDlg(const Texts& texts, std::function<void()> onCancel, QWidget* parent)
    : QDialog(parent, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      m_ui(std::make_unique<Ui::CProgressDlg>())
{
    m_ui->setupUi(this);
    setWindowTitle(qtext(texts, sid::kProgressCaption));
    m_ui->cancelButton->setText(qtext(texts, sid::kCancel));
    setModal(false);
    connect(m_ui->cancelButton, &QPushButton::clicked, this,
            [onCancel = std::move(onCancel)] { onCancel(); });
}

CProgressDlg::~CProgressDlg() = default;

void CProgressDlg::setRange(int maximum)
{
    m_ui->progressBar->setRange(0, maximum);
}

void CProgressDlg::setValue(int value)
{
    m_ui->progressBar->setValue(value);
}

int CProgressDlg::value() const
{
    return m_ui->progressBar->value();
}

int CProgressDlg::maximum() const
{
    return m_ui->progressBar->maximum();
}

CVersionDlg::CVersionDlg(const Texts& texts, const VersionFolders& folders, QWidget* parent)
    : QDialog(parent), m_ui(std::make_unique<Ui::CVersionDlg>())
{
    m_ui->setupUi(this);
    setWindowTitle(qtext(texts, sid::kVersionCaption));
    m_ui->programIconLabel->setPixmap(programIcon().pixmap(32, 32));
    m_ui->versionCaptionLabel->setText(QString::fromStdString(versionCaption(folders, texts)));
    m_ui->noticeLabel->setText(qtext(texts, sid::kNotice));
    m_ui->okButton->setText(qtext(texts, sid::kOk));
    m_ui->fileList->setHeaderLabels({qtext(texts, sid::kColumnFileName).left(kHeadingLimit),
                                     qtext(texts, sid::kTabVersion).left(kHeadingLimit)});
    m_ui->fileList->header()->setSectionsMovable(true);
    for (const VersionRow& row : versionRows(folders, texts))
        m_ui->fileList->addTopLevelItem(new QTreeWidgetItem(
            {QString::fromStdString(row.file), QString::fromStdString(row.version)}));
    connect(m_ui->okButton, &QPushButton::clicked, this, &CVersionDlg::accept);
}

CVersionDlg::~CVersionDlg() = default;

void CVersionDlg::showEvent(QShowEvent* event)
{
    // Column i is (i + 1) / 3 of the list's width less two pixels.
    const int width = m_ui->fileList->width();
    for (int i = 0; i < 2; ++i)
        m_ui->fileList->setColumnWidth(i, (i + 1) * width / 3 - 2);
    QDialog::showEvent(event);
}

CPinDlg::CPinDlg(PinLogic& logic, const Texts& texts, QWidget* parent)
    : QDialog(parent), m_logic(logic), m_ui(std::make_unique<Ui::CPinDlg>())
{
    m_ui->setupUi(this);
    setWindowTitle(qtext(texts, sid::kPinCaption));
    m_ui->unitNameLabel->setText(qtext(texts, sid::kUnitNameLabel));
    m_ui->addressLabel->setText(qtext(texts, sid::kAddressLabel));
    m_ui->pinPromptLabel->setText(qtext(texts, sid::kPinPrompt));
    setOkCancelTexts(m_ui->buttonBox, texts);
    m_ui->pinEdit->setValidator(pinValidator(m_ui->pinEdit));
    m_ui->unitNameEdit->setText(QString::fromStdString(logic.unitName()));
    m_ui->addressEdit->setText(QString::fromStdString(logic.address()));
    setTextMargins(this);
    m_ui->pinEdit->setFocus();
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CPinDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CPinDlg::reject);
}

CPinDlg::~CPinDlg() = default;

void CPinDlg::accept()
{
    if (m_logic.address().empty()) {
        m_ui->addressEdit->setFocus();
        return;
    }
    if (m_logic.ok(m_ui->pinEdit->text().toStdString()))
        QDialog::accept();
}

CBackupPassDlg::CBackupPassDlg(bool restoreForm, shared::MessageBoxes& boxes, const Texts& texts,
                               QWidget* parent)
    : QDialog(parent), m_restoreForm(restoreForm), m_boxes(boxes), m_texts(texts),
      m_ui(std::make_unique<Ui::CBackupPassDlg>())
{
    m_ui->setupUi(this);
    setWindowTitle(qtext(texts, sid::kPasswordCaption));
    m_ui->headingLabel->setText(qtext(texts, sid::kPasswordHeading));
    m_ui->passwordLabel->setText(qtext(texts, sid::kPasswordLabel));
    m_ui->passwordAgainLabel->setText(qtext(texts, sid::kPasswordAgainLabel));
    setOkCancelTexts(m_ui->buttonBox, texts);
    m_ui->passwordAgainEdit->setEnabled(!restoreForm);
    m_ui->passwordEdit->setFocus();
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &CBackupPassDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &CBackupPassDlg::reject);
}

CBackupPassDlg::~CBackupPassDlg() = default;

std::string CBackupPassDlg::password() const
{
    return m_ui->passwordEdit->text().toStdString();
}

void CBackupPassDlg::accept()
{
    if (backupPasswordsAccepted(password(), m_ui->passwordAgainEdit->text().toStdString(),
                                m_restoreForm)) {
        QDialog::accept();
        return;
    }
    showMessage(m_boxes, m_texts, sid::kPasswordMismatch, BoxIcon::Error);
    m_ui->passwordEdit->setFocus();
}

} // namespace lumarc::configtool
