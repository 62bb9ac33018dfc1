// The Device Info page's view.
#include "cdevinfodlg.h"

#include "row_images.h"
#include "ui_cdevinfodlg.h"

#include <QHeaderView>
#include <QMouseEvent>
#include <QScrollBar>

namespace lumarc::infotool {
namespace {

constexpr int kFunctionWidth = 200;
constexpr int kSupportWidth = 150;

} // namespace

CDevInfoDlg::CDevInfoDlg(DeviceInfoLogic& logic, const Texts& texts, QWidget* parent)
    : QWidget(parent), m_logic(logic), m_texts(texts), m_ui(std::make_unique<Ui::CDevInfoDlg>())
{
    m_ui->setupUi(this);
    auto* list = m_ui->deviceInfoList;
    list->setHeaderLabels({QString::fromStdString(texts(sid::kColumnFunction)),
                           QString::fromStdString(texts(sid::kColumnSupport))});
    list->setColumnWidth(0, kFunctionWidth);
    list->setColumnWidth(1, kSupportWidth);
    list->header()->setStretchLastSection(true);
    list->setStyleSheet("QTreeWidget::item { border-bottom: 1px solid #d0d0d0; "
                        "border-right: 1px solid #d0d0d0; }");
    list->viewport()->installEventFilter(this);
    // Until the scanner answered the list has no columns to show.
    list->setHeaderHidden(true);
}

CDevInfoDlg::~CDevInfoDlg() = default;

void CDevInfoDlg::initialise()
{
    if (m_initialised)
        return;
    m_initialised = true;
    if (!m_logic.open())
        return;
    m_ui->deviceInfoList->setHeaderHidden(false);
    showRows();
}

void CDevInfoDlg::showRows()
{
    auto* list = m_ui->deviceInfoList;
    const int scrolled = list->verticalScrollBar()->value();
    list->clear();
    for (const ListRow& row : m_logic.rows()) {
        auto* item = new QTreeWidgetItem(
            list, {QString::fromStdString(row.label), QString::fromStdString(row.value)});
        item->setIcon(0, rowImage(row.image));
    }
    list->verticalScrollBar()->setValue(scrolled);
}

bool CDevInfoDlg::eventFilter(QObject* watched, QEvent* event)
{
    auto* list = m_ui->deviceInfoList;
    if (watched == list->viewport() && event->type() == QEvent::MouseButtonPress) {
        auto* mouse = static_cast<QMouseEvent*>(event);
        if (mouse->button() == Qt::LeftButton) {
            // The row from the height of the first row; below the last: nothing.
            const QModelIndex index = list->indexAt(QPoint(1, mouse->position().toPoint().y()));
            if (index.isValid() && m_logic.click(index.row()))
                showRows();
        }
    }
    return QWidget::eventFilter(watched, event);
}

} // namespace lumarc::infotool
