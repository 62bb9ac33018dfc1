// The User Registration dialog's view.
#include "cuserdlg.h"

#include "small_dialogs.h"

#include "ui_cuserdlg.h"

#include <QFileDialog>
#include <QMouseEvent>
#include <QRegularExpressionValidator>

namespace lumarc::configtool {
namespace {

constexpr int kColumnWidths[] = {60, 100, 150};

} // namespace

CUserDlg::CUserDlg(UserRegistrationLogic& logic, shared::MessageBoxes& boxes, const Texts& texts,
                   QWidget* parent)
    : QDialog(parent), m_logic(logic), m_boxes(boxes), m_texts(texts),
      m_ui(std::make_unique<Ui::CUserDlg>())
{
    m_ui->setupUi(this);
    const auto t = [&](uint32_t id) { return qtext(texts, id); };
    setWindowTitle(t(sid::kUserCaption));
    m_ui->unitNameLabel->setText(t(sid::kUnitNameLabel));
    m_ui->addressLabel->setText(t(sid::kAddressLabel));
    m_ui->deleteButton->setText(t(sid::kDelete));
    m_ui->backupButton->setText(t(sid::kBackup));
    m_ui->restoreButton->setText(t(sid::kRestore));
    m_ui->addRadio->setText(t(sid::kModeAdd));
    m_ui->modifyRadio->setText(t(sid::kModeModify));
    m_ui->userNameLabel->setText(t(sid::kUserNameLabel));
    m_ui->pinLabel->setText(t(sid::kNewPinLabel));
    m_ui->hostLabel->setText(t(sid::kUserHostLabel));
    m_ui->enterButton->setText(t(sid::kEnter));
    m_ui->closeButton->setText(t(sid::kClose));
    m_ui->userList->setHorizontalHeaderLabels(
        {t(sid::kColumnUserId), t(sid::kColumnUserName), t(sid::kColumnUserHost)});
    for (int i = 0; i < 3; ++i)
        m_ui->userList->setColumnWidth(i, kColumnWidths[i]);
    m_ui->pinEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]{0,6}"), m_ui->pinEdit));
    m_ui->unitNameEdit->setText(QString::fromStdString(logic.unitName()));
    m_ui->addressEdit->setText(QString::fromStdString(logic.address()));
    setTextMargins(this);
    // Clicks with either button, on a row or on the empty part of the list.
    m_ui->userList->viewport()->installEventFilter(this);

    connect(m_ui->userNameEdit, &QLineEdit::textEdited, this, &CUserDlg::userNameEdited);
    connect(m_ui->addRadio, &QRadioButton::clicked, this, [this] {
        takeFields();
        m_logic.chooseMode(UserMode::Add);
        showState();
    });
    connect(m_ui->modifyRadio, &QRadioButton::clicked, this, [this] {
        takeFields();
        m_logic.chooseMode(UserMode::Modify);
        showState();
    });
    connect(m_ui->enterButton, &QPushButton::clicked, this,
            [this] { act(&UserRegistrationLogic::enter); });
    connect(m_ui->deleteButton, &QPushButton::clicked, this,
            [this] { act(&UserRegistrationLogic::remove); });
    connect(m_ui->backupButton, &QPushButton::clicked, this,
            [this] { act(&UserRegistrationLogic::backup); });
    connect(m_ui->restoreButton, &QPushButton::clicked, this,
            [this] { act(&UserRegistrationLogic::restore); });
    connect(m_ui->closeButton, &QPushButton::clicked, this, &CUserDlg::accept);
}

CUserDlg::~CUserDlg() = default;

void CUserDlg::act(void (UserRegistrationLogic::*run)())
{
    takeFields();
    (m_logic.*run)();
    showState();
}

void CUserDlg::open()
{
    m_logic.open(*this);
    showState();
    m_ui->userNameEdit->setFocus();
}

void CUserDlg::takeFields()
{
    m_logic.setFields({m_ui->userNameEdit->text().toStdString(),
                       m_ui->pinEdit->text().toStdString(), m_ui->hostEdit->text().toStdString()});
}

void CUserDlg::showState()
{
    const UserFields& fields = m_logic.fields();
    m_acceptedName = QString::fromStdString(fields.userName);
    m_ui->userNameEdit->setText(m_acceptedName);
    m_ui->pinEdit->setText(QString::fromStdString(fields.pin));
    m_ui->hostEdit->setText(QString::fromStdString(fields.host));
    m_ui->userNameEdit->setReadOnly(m_logic.userNameReadOnly());
    m_ui->addRadio->setChecked(m_logic.mode() == UserMode::Add);
    m_ui->modifyRadio->setChecked(m_logic.mode() == UserMode::Modify);
    m_ui->deleteButton->setEnabled(m_logic.deleteEnabled());
}

void CUserDlg::userNameEdited(const QString& text)
{
    if (userNameFits(text.toStdString())) {
        m_acceptedName = text;
        return;
    }
    // Too long: the change is undone and the caret goes back one position.
    const int cursor = m_ui->userNameEdit->cursorPosition();
    m_ui->userNameEdit->setText(m_acceptedName);
    m_ui->userNameEdit->setCursorPosition(std::max(0, cursor - 1));
}

bool CUserDlg::eventFilter(QObject* watched, QEvent* event)
{
    if (watched == m_ui->userList->viewport() && event->type() == QEvent::MouseButtonPress) {
        const auto* mouse = static_cast<QMouseEvent*>(event);
        const QModelIndex index = m_ui->userList->indexAt(mouse->position().toPoint());
        if (!index.isValid())
            m_ui->userList->clearSelection();
        else
            m_ui->userList->selectRow(index.row());
        takeFields();
        m_logic.chooseRow(index.isValid() ? std::optional<size_t>(static_cast<size_t>(index.row()))
                                          : std::nullopt);
        showState();
        return index.isValid() ? QDialog::eventFilter(watched, event) : true;
    }
    return QDialog::eventFilter(watched, event);
}

void CUserDlg::showUsers(const std::vector<UserListRow>& rows)
{
    auto* list = m_ui->userList;
    list->clearSelection();
    list->setRowCount(static_cast<int>(rows.size()));
    for (size_t i = 0; i < rows.size(); ++i) {
        const QString cells[] = {QString::fromStdString(rows[i].id),
                                 QString::fromStdString(rows[i].name),
                                 QString::fromStdString(rows[i].host)};
        for (int column = 0; column < 3; ++column)
            list->setItem(static_cast<int>(i), column, new QTableWidgetItem(cells[column]));
    }
}

void CUserDlg::focus(UserField field)
{
    switch (field) {
    case UserField::Address:
        m_ui->addressEdit->setFocus();
        break;
    case UserField::UserName:
        m_ui->userNameEdit->setFocus();
        break;
    case UserField::Pin:
        m_ui->pinEdit->setFocus();
        break;
    case UserField::Host:
        m_ui->hostEdit->setFocus();
        break;
    case UserField::Close:
        m_ui->closeButton->setFocus();
        break;
    case UserField::Password:
        break;
    }
}

std::optional<std::string> CUserDlg::askSaveFile(const std::string& defaultName)
{
    if (fileChooser)
        return fileChooser(true, defaultName);
    QFileDialog dialog(this, QString(), QString::fromStdString(defaultName),
                       qtext(m_texts, sid::kBackupFilter) + ";;" +
                           qtext(m_texts, sid::kAllFilesFilter));
    dialog.setAcceptMode(QFileDialog::AcceptSave);
    dialog.setFileMode(QFileDialog::AnyFile);
    dialog.setDefaultSuffix("bin");
    // A backup usually replaces the previous one of the same day.
    dialog.setOption(QFileDialog::DontConfirmOverwrite);
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> CUserDlg::askOpenFile()
{
    if (fileChooser)
        return fileChooser(false, "*.bin");
    QFileDialog dialog(this, QString(), QString(),
                       qtext(m_texts, sid::kBackupFilter) + ";;" +
                           qtext(m_texts, sid::kAllFilesFilter));
    dialog.setAcceptMode(QFileDialog::AcceptOpen);
    dialog.setFileMode(QFileDialog::ExistingFile);
    dialog.setDefaultSuffix("bin");
    if (dialog.exec() != QDialog::Accepted || dialog.selectedFiles().isEmpty())
        return std::nullopt;
    return dialog.selectedFiles().front().toStdString();
}

std::optional<std::string> CUserDlg::askBackupPassword(bool restoreForm)
{
    CBackupPassDlg dialog(restoreForm, m_boxes, m_texts, this);
    dialog.setObjectName("CBackupPassDlg");
    if (dialog.exec() != QDialog::Accepted)
        return std::nullopt;
    return dialog.password();
}

} // namespace lumarc::configtool
