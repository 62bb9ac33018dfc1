// The small dialogs of the configuration tool: Add Lumarc, the progress
// window of a refresh, Version Information, the Administrator PIN and the
// backup password. Each shows its logic's values and forwards its buttons.
#pragma once

#include "maintenance_access.h"
#include "unit_list_window.h"
#include "version_info.h"

#include <QDialog>

#include <functional>
#include <memory>
#include <optional>

namespace Ui {
class CAddDlg;
class CProgressDlg;
class CVersionDlg;
class CPinDlg;
class CBackupPassDlg;
} // namespace Ui

namespace lumarc::configtool {

// "Add Lumarc": an address or a host name.
class CAddDlg : public QDialog {
    Q_OBJECT
public:
    explicit CAddDlg(const Texts& texts, QWidget* parent = nullptr);
    ~CAddDlg() override;
    AddChoice choice() const;

private:
    void chooseHostName(bool byHostName);
    std::unique_ptr<Ui::CAddDlg> m_ui;
};

// "Please wait...": modeless, no close box; Cancel calls onCancel.
class CProgressDlg : public QDialog {
    Q_OBJECT
public:
    CProgressDlg(const Texts& texts, std::function<void()> onCancel, QWidget* parent = nullptr);
    ~CProgressDlg() override;
    void setRange(int maximum);
    void setValue(int value);
    int value() const;
    int maximum() const;

protected:
    void reject() override {} // only Cancel ends a refresh

private:
    std::unique_ptr<Ui::CProgressDlg> m_ui;
};

// "Version Information": the version caption and every file's version.
class CVersionDlg : public QDialog {
    Q_OBJECT
public:
    CVersionDlg(const Texts& texts, const VersionFolders& folders, QWidget* parent = nullptr);
    ~CVersionDlg() override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    std::unique_ptr<Ui::CVersionDlg> m_ui;
};

// "Administrator PIN": OK enters maintenance mode through the logic.
class CPinDlg : public QDialog {
    Q_OBJECT
public:
    CPinDlg(PinLogic& logic, const Texts& texts, QWidget* parent = nullptr);
    ~CPinDlg() override;
    void accept() override;

private:
    PinLogic& m_logic;
    std::unique_ptr<Ui::CPinDlg> m_ui;
};

// "Backup password": both fields in the backup form, the first alone in the
// restore form.
class CBackupPassDlg : public QDialog {
    Q_OBJECT
public:
    CBackupPassDlg(bool restoreForm, shared::MessageBoxes& boxes, const Texts& texts,
                   QWidget* parent = nullptr);
    ~CBackupPassDlg() override;
    void accept() override;
    std::string password() const;

private:
    bool m_restoreForm;
    shared::MessageBoxes& m_boxes;
    const Texts& m_texts;
    std::unique_ptr<Ui::CBackupPassDlg> m_ui;
};

// Gives every line edit of a dialog the inner margin of 3 pixels left and
// right that the dialogs ask for.
void setTextMargins(QWidget* dialog);

// A numbered text as a QString.
inline QString qtext(const Texts& texts, uint32_t id)
{
    return QString::fromStdString(texts(id));
}

} // namespace lumarc::configtool
