// The unit list window: four tab pages ("Select Scanner", "Launch Option",
// "Advance", "Version") and OK. It shows what UnitListWindow, LaunchOptions
// and TriggerPortPage hold and forwards the clicks; the refresh's progress
// window and its pauses live here.
#pragma once

#include "launch_options.h"
#include "unit_list_window.h"
#include "version_info.h"

#include <QDialog>

#include <memory>

class QEventLoop;
class QStandardItemModel;

namespace Ui {
class CUnitdeskDlg;
}

namespace lumarc::configtool {

class CProgressDlg;

class CUnitdeskDlg : public QDialog, public UnitListView {
    Q_OBJECT
public:
    enum class ViewStyle { Icon = 0, SmallIcon = 1, List = 2, Report = 3 };

    CUnitdeskDlg(UnitListWindow& window, LaunchOptions& launch, TriggerPortPage& triggerPort,
                 const Texts& texts, VersionFolders folders, bool showViewChooser,
                 QWidget* parent = nullptr);
    ~CUnitdeskDlg() override;

    // The opening steps up to the list shown; the refresh is started once
    // the window is on the screen (startRefreshWhenShown) or by the caller.
    void open();
    void startRefreshWhenShown() { m_refreshWhenShown = true; }

    void accept() override; // OK: the trigger-port step, then closed
    void reject() override; // the close box and Escape: the same
    void setViewStyle(ViewStyle style);
    void showVersionInformation();
    // The progress window while a refresh runs, else null.
    CProgressDlg* progress() const { return m_progress; }
    QStandardItemModel* model() const { return m_model; }

    // UnitListView
    void showList(const UnitList& list) override;
    std::optional<size_t> highlightedRow() const override;
    void setRowStatus(size_t row, const std::string& text) override;
    void setRowName(size_t row, const std::string& name) override;
    void setSelectionButtonsEnabled(bool enabled) override;
    void setBusy(bool busy) override;
    void openProgress(int maximum) override;
    void setProgress(int value) override;
    void closeProgress() override;
    void pause(std::chrono::milliseconds interval) override;

protected:
    void showEvent(QShowEvent* event) override;

private:
    void pageChanged(int index);
    void launchButtonChosen(int index);
    void launchTextEdited();
    void browse();
    void showTriggerPort();
    void takeTriggerPort();
    bool closeStep();

    UnitListWindow& m_window;
    LaunchOptions& m_launch;
    TriggerPortPage& m_triggerPort;
    const Texts& m_texts;
    VersionFolders m_folders;
    bool m_showViewChooser;
    std::unique_ptr<Ui::CUnitdeskDlg> m_ui;
    QStandardItemModel* m_model = nullptr;
    CProgressDlg* m_progress = nullptr;
    QEventLoop* m_pause = nullptr;
    bool m_changingPage = false;
    bool m_refreshWhenShown = false;
    bool m_loadingLaunch = false;
};

} // namespace lumarc::configtool
