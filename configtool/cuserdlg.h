// The User Registration dialog: shows UserRegistrationLogic's list and
// fields and forwards its buttons; asks for files and the backup password
// with Qt's dialogs.
#pragma once

#include "user_registration.h"

#include <QDialog>

#include <memory>

namespace Ui {
class CUserDlg;
}

namespace lumarc::configtool {

class CUserDlg : public QDialog, private UserRegistrationView {
    Q_OBJECT
public:
    CUserDlg(UserRegistrationLogic& logic, shared::MessageBoxes& boxes, const Texts& texts,
             QWidget* parent = nullptr);
    ~CUserDlg() override;

    // Opens the dialog's logic (the list is loaded) before exec().
    void open();

    // File choices for tests and scripted runs: when set, they answer in
    // place of Qt's file dialogs.
    std::function<std::optional<std::string>(bool save, const std::string& name)> fileChooser;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    // UserRegistrationView
    void showUsers(const std::vector<UserListRow>& rows) override;
    void focus(UserField field) override;
    std::optional<std::string> askSaveFile(const std::string& defaultName) override;
    std::optional<std::string> askOpenFile() override;
    std::optional<std::string> askBackupPassword(bool restoreForm) override;

    void takeFields();
    // A button's action: the edits to the logic, the action, the new state.
    void act(void (UserRegistrationLogic::*run)());
    void showState();
    void userNameEdited(const QString& text);

    UserRegistrationLogic& m_logic;
    shared::MessageBoxes& m_boxes;
    const Texts& m_texts;
    std::unique_ptr<Ui::CUserDlg> m_ui;
    QString m_acceptedName; // the user name as it last fitted
};

} // namespace lumarc::configtool
