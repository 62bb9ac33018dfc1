// The unit list window's view.
#include "cunitdeskdlg.h"

#include "small_dialogs.h"
#include "unit_icons.h"

#include "ui_cunitdeskdlg.h"

#include <QEventLoop>
#include <QFileDialog>
#include <QHeaderView>
#include <QMenuBar>
#include <QRegularExpressionValidator>
#include <QStandardItemModel>
#include <QTimer>

#include <algorithm>

namespace lumarc::configtool {
namespace {

// Columns: heading id and width in pixels.
constexpr std::pair<uint32_t, int> kColumns[] = {
    {sid::kColumnUnitName, 120}, {sid::kColumnAddress, 100}, {sid::kColumnScanner, 80},
    {sid::kColumnStatus, 60},    {sid::kColumnFavorite, 80},
};
constexpr int kTabAdvanceIndex = 2;
constexpr int kTabVersionIndex = 3;

} // namespace

CUnitdeskDlg::CUnitdeskDlg(UnitListWindow& window, LaunchOptions& launch,
                           TriggerPortPage& triggerPort, const Texts& texts,
                           VersionFolders folders, bool showViewChooser, QWidget* parent)
    : QDialog(parent), m_window(window), m_launch(launch), m_triggerPort(triggerPort),
      m_texts(texts), m_folders(std::move(folders)), m_showViewChooser(showViewChooser),
      m_ui(std::make_unique<Ui::CUnitdeskDlg>())
{
    m_ui->setupUi(this);
    const auto t = [&](uint32_t id) { return qtext(texts, id); };

    // The About item, in the window's own menu.
    auto* menuBar = new QMenuBar(this);
    menuBar->setObjectName("menuBar");
    QMenu* help = menuBar->addMenu(t(sid::kHelpMenu));
    QAction* about = help->addAction(t(sid::kAboutItem));
    about->setObjectName("aboutAction");
    connect(about, &QAction::triggered, this, &CUnitdeskDlg::showVersionInformation);
    layout()->setMenuBar(menuBar);

    setWindowIcon(programIcon());
    setWindowTitle(t(sid::kWindowTitle));
    m_ui->pageTabs->setTabText(0, t(sid::kTabSelect));
    m_ui->pageTabs->setTabText(1, t(sid::kTabLaunch));
    m_ui->pageTabs->setTabText(2, t(sid::kTabAdvance));
    m_ui->pageTabs->setTabText(3, t(sid::kTabVersion));
    m_ui->refreshButton->setText(t(sid::kRefresh));
    m_ui->favoriteButton->setText(t(sid::kFavorite));
    m_ui->addButton->setText(t(sid::kAdd));
    m_ui->deleteButton->setText(t(sid::kDelete));
    m_ui->userConfigButton->setText(t(sid::kUserConfig));
    m_ui->adminButton->setText(t(sid::kAdmin));
    m_ui->scannerInfoButton->setText(t(sid::kScannerInfo));
    m_ui->okButton->setText(t(sid::kOk));
    m_ui->buttonLabel->setText(t(sid::kButtonLabel));
    m_ui->targetLabel->setText(t(sid::kTargetLabel));
    m_ui->browseButton->setText(t(sid::kBrowse));
    m_ui->argumentLabel->setText(t(sid::kArgumentLabel));
    m_ui->startInLabel->setText(t(sid::kStartInLabel));
    m_ui->triggerPortLabel->setText(t(sid::kTriggerPortPcLabel));
    m_ui->defaultPortButton->setText(t(sid::kDefault));
    m_ui->triggerPortEdit->setValidator(
        new QRegularExpressionValidator(QRegularExpression("[0-9]*"), m_ui->triggerPortEdit));

    // One model, shown by the report view and by the icon and list views,
    // with one selection between them.
    m_model = new QStandardItemModel(0, 5, this);
    QStringList headings;
    for (const auto& [id, width] : kColumns)
        headings << t(id);
    m_model->setHorizontalHeaderLabels(headings);
    m_ui->unitList->setModel(m_model);
    m_ui->unitIconList->setModel(m_model);
    m_ui->unitIconList->setSelectionModel(m_ui->unitList->selectionModel());
    m_ui->unitList->header()->setSectionsClickable(false);
    m_ui->unitList->header()->setSortIndicatorShown(false);
    // The widths are the least each column gets; a heading wider than that
    // in the desktop's font widens its column rather than being cut.
    for (int i = 0; i < 5; ++i)
        m_ui->unitList->setColumnWidth(
            i, std::max(kColumns[i].second, m_ui->unitList->header()->sectionSizeHint(i)));
    connect(m_ui->unitList->selectionModel(), &QItemSelectionModel::selectionChanged, this,
            [this] { m_window.selectionChanged(); });

    for (const uint32_t id : {sid::kViewIcon, sid::kViewSmallIcon, sid::kViewList, sid::kViewReport})
        m_ui->viewCombo->addItem(t(id));
    connect(m_ui->viewCombo, &QComboBox::currentIndexChanged, this,
            [this](int index) { setViewStyle(static_cast<ViewStyle>(index)); });
    for (int i = 0; i < kLaunchButtons; ++i)
        m_ui->buttonCombo->addItem(t(sid::kButtonScan + static_cast<uint32_t>(i)));

    connect(m_ui->refreshButton, &QPushButton::clicked, this, [this] { m_window.refresh(); });
    connect(m_ui->favoriteButton, &QPushButton::clicked, this, [this] { m_window.favorite(); });
    connect(m_ui->addButton, &QPushButton::clicked, this, [this] { m_window.add(); });
    connect(m_ui->deleteButton, &QPushButton::clicked, this, [this] { m_window.remove(); });
    connect(m_ui->userConfigButton, &QPushButton::clicked, this,
            [this] { m_window.userConfig(); });
    connect(m_ui->adminButton, &QPushButton::clicked, this, [this] { m_window.admin(); });
    connect(m_ui->scannerInfoButton, &QPushButton::clicked, this,
            [this] { m_window.scannerInfo(); });
    connect(m_ui->okButton, &QPushButton::clicked, this, &CUnitdeskDlg::accept);
    connect(m_ui->pageTabs, &QTabWidget::currentChanged, this, &CUnitdeskDlg::pageChanged);
    connect(m_ui->buttonCombo, &QComboBox::currentIndexChanged, this,
            &CUnitdeskDlg::launchButtonChosen);
    for (QLineEdit* edit : {m_ui->targetEdit, m_ui->argumentEdit, m_ui->startInEdit})
        connect(edit, &QLineEdit::textChanged, this, &CUnitdeskDlg::launchTextEdited);
    connect(m_ui->browseButton, &QPushButton::clicked, this, &CUnitdeskDlg::browse);
    connect(m_ui->triggerPortEdit, &QLineEdit::textEdited, this,
            [this] { m_triggerPort.field().modified = true; });
    connect(m_ui->defaultPortButton, &QPushButton::clicked, this, [this] {
        m_triggerPort.setDefault();
        showTriggerPort();
    });
}

CUnitdeskDlg::~CUnitdeskDlg() = default;

void CUnitdeskDlg::open()
{
    m_ui->pageTabs->setCurrentIndex(0);
    m_window.open(*this);
    m_ui->viewCombo->setCurrentIndex(static_cast<int>(ViewStyle::Report));
    setViewStyle(ViewStyle::Report);
    m_ui->viewCombo->setVisible(m_showViewChooser);
    m_ui->versionCaptionLabel->setText(QString::fromStdString(versionCaption(m_folders, m_texts)));
    m_ui->noticeLabel->setText(qtext(m_texts, sid::kNotice));
    m_ui->programIconLabel->setPixmap(programIcon().pixmap(32, 32));
    launchButtonChosen(0);
    m_triggerPort.load();
    showTriggerPort();
}

void CUnitdeskDlg::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_refreshWhenShown) {
        m_refreshWhenShown = false;
        QTimer::singleShot(0, this, [this] { m_window.refresh(); });
    }
}

void CUnitdeskDlg::setViewStyle(ViewStyle style)
{
    if (style == ViewStyle::Report) {
        m_ui->unitViews->setCurrentWidget(m_ui->unitList);
        return;
    }
    auto* view = m_ui->unitIconList;
    view->setViewMode(style == ViewStyle::Icon ? QListView::IconMode : QListView::ListMode);
    view->setIconSize(style == ViewStyle::Icon ? QSize(32, 32) : QSize(16, 16));
    view->setFlow(style == ViewStyle::List ? QListView::TopToBottom : QListView::LeftToRight);
    view->setWrapping(true);
    view->setGridSize(style == ViewStyle::Icon ? QSize(110, 64) : QSize());
    m_ui->unitViews->setCurrentWidget(view);
}

void CUnitdeskDlg::showList(const UnitList& list)
{
    m_model->removeRows(0, m_model->rowCount());
    m_model->setRowCount(static_cast<int>(list.rows.size()));
    for (size_t i = 0; i < list.rows.size(); ++i) {
        const UnitRow& row = list.rows[i];
        const int r = static_cast<int>(i);
        auto* name = new QStandardItem(unitIcon(row.icon), QString::fromStdString(row.name));
        m_model->setItem(r, 0, name);
        m_model->setItem(r, 1, new QStandardItem(QString::fromStdString(row.address)));
        m_model->setItem(r, 2, new QStandardItem(QString::fromStdString(row.scanner)));
        m_model->setItem(r, 3, new QStandardItem(QString::fromStdString(row.status)));
        m_model->setItem(r, 4, new QStandardItem(row.favorite ? "*" : ""));
    }
    m_ui->unitList->selectionModel()->clearSelection();
    if (list.favoriteRow)
        m_ui->unitList->scrollTo(m_model->index(static_cast<int>(*list.favoriteRow), 0));
}

std::optional<size_t> CUnitdeskDlg::highlightedRow() const
{
    // The report view selects whole rows, the icon views one item of a row.
    const auto selected = m_ui->unitList->selectionModel()->selectedIndexes();
    if (selected.isEmpty())
        return std::nullopt;
    return static_cast<size_t>(selected.front().row());
}

void CUnitdeskDlg::setRowStatus(size_t row, const std::string& text)
{
    if (auto* item = m_model->item(static_cast<int>(row), 3))
        item->setText(QString::fromStdString(text));
}

void CUnitdeskDlg::setRowName(size_t row, const std::string& name)
{
    if (auto* item = m_model->item(static_cast<int>(row), 0))
        item->setText(QString::fromStdString(name));
}

void CUnitdeskDlg::setSelectionButtonsEnabled(bool enabled)
{
    for (QPushButton* button : {m_ui->deleteButton, m_ui->userConfigButton, m_ui->adminButton,
                                m_ui->scannerInfoButton, m_ui->favoriteButton})
        button->setEnabled(enabled);
}

void CUnitdeskDlg::setBusy(bool busy)
{
    for (QWidget* widget :
         std::initializer_list<QWidget*>{m_ui->refreshButton, m_ui->favoriteButton,
                                         m_ui->addButton, m_ui->deleteButton,
                                         m_ui->userConfigButton, m_ui->adminButton,
                                         m_ui->scannerInfoButton, m_ui->unitViews, m_ui->okButton,
                                         m_ui->pageTabs->tabBar()})
        widget->setEnabled(!busy);
    m_ui->viewCombo->setVisible(!busy && m_showViewChooser);
    if (busy)
        setCursor(Qt::WaitCursor);
    else
        unsetCursor();
}

void CUnitdeskDlg::openProgress(int maximum)
{
    if (m_progress == nullptr) {
        m_progress = new CProgressDlg(
            m_texts,
            [this] {
                m_window.cancelRefresh();
                if (m_pause != nullptr)
                    m_pause->quit();
            },
            this);
        m_progress->setObjectName("CProgressDlg");
        m_progress->setAttribute(Qt::WA_DeleteOnClose);
    }
    m_progress->setRange(maximum);
    m_progress->show();
    m_progress->raise();
}

void CUnitdeskDlg::setProgress(int value)
{
    if (m_progress != nullptr)
        m_progress->setValue(value);
}

void CUnitdeskDlg::closeProgress()
{
    if (m_progress != nullptr) {
        m_progress->close();
        m_progress = nullptr;
    }
}

void CUnitdeskDlg::pause(std::chrono::milliseconds interval)
{
    QEventLoop loop;
    QTimer::singleShot(interval, &loop, &QEventLoop::quit);
    QEventLoop* outer = std::exchange(m_pause, &loop);
    loop.exec();
    m_pause = outer;
}

void CUnitdeskDlg::pageChanged(int index)
{
    if (m_changingPage)
        return;
    // Any page change checks the trigger port first.
    takeTriggerPort();
    if (!m_triggerPort.leave()) {
        showTriggerPort();
        m_changingPage = true;
        m_ui->pageTabs->setCurrentIndex(kTabAdvanceIndex);
        m_changingPage = false;
        return;
    }
    if (index == kTabVersionIndex)
        m_ui->versionCaptionLabel->setText(
            QString::fromStdString(versionCaption(m_folders, m_texts)));
}

void CUnitdeskDlg::launchButtonChosen(int index)
{
    const LaunchFields& fields = m_launch.choose(index);
    m_loadingLaunch = true;
    m_ui->targetEdit->setText(QString::fromStdString(fields.target));
    m_ui->argumentEdit->setText(QString::fromStdString(fields.argument));
    m_ui->startInEdit->setText(QString::fromStdString(fields.startIn));
    m_loadingLaunch = false;
}

void CUnitdeskDlg::launchTextEdited()
{
    if (m_loadingLaunch)
        return;
    m_launch.save({m_ui->targetEdit->text().toStdString(),
                   m_ui->argumentEdit->text().toStdString(),
                   m_ui->startInEdit->text().toStdString()});
}

void CUnitdeskDlg::browse()
{
    const QString file = QFileDialog::getOpenFileName(
        this, QString(), m_ui->targetEdit->text(),
        qtext(m_texts, sid::kProgramsFilter) + ";;" + qtext(m_texts, sid::kAllFilesFilter));
    if (file.isEmpty())
        return;
    // Setting the text saves the three values, as typing does.
    m_ui->targetEdit->setText(file);
}

void CUnitdeskDlg::showTriggerPort()
{
    m_ui->triggerPortEdit->setText(QString::fromStdString(m_triggerPort.field().text));
}

void CUnitdeskDlg::takeTriggerPort()
{
    m_triggerPort.field().text = m_ui->triggerPortEdit->text().toStdString();
}

bool CUnitdeskDlg::closeStep()
{
    if (m_window.busy())
        return false;
    takeTriggerPort();
    if (!m_triggerPort.close()) {
        showTriggerPort();
        return false;
    }
    return true;
}

void CUnitdeskDlg::accept()
{
    if (closeStep())
        QDialog::accept();
}

// The close box and Escape come here too (QDialog's close event rejects).
void CUnitdeskDlg::reject()
{
    if (closeStep())
        QDialog::reject();
}

void CUnitdeskDlg::showVersionInformation()
{
    CVersionDlg dialog(m_texts, m_folders, this);
    dialog.setObjectName("CVersionDlg");
    dialog.exec();
}

} // namespace lumarc::configtool
