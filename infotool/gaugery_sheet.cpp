// The property sheet.
#include "gaugery_sheet.h"

#include <QDialogButtonBox>
#include <QPushButton>
#include <QTabWidget>
#include <QVBoxLayout>

namespace lumarc::infotool {

GaugerySheet::GaugerySheet(const QString& caption, CDevInfoDlg* deviceInfo, CDevSetDlg* deviceSet,
                           const Texts& texts, QWidget* parent)
    : QDialog(parent), m_deviceInfo(deviceInfo), m_deviceSet(deviceSet),
      m_pages(new QTabWidget(this)),
      m_buttons(new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this))
{
    setObjectName("gaugerySheet");
    setWindowTitle(caption);
    m_pages->setObjectName("pages");
    m_buttons->setObjectName("sheetButtons");
    m_pages->addTab(deviceInfo, QString::fromStdString(texts(sid::kDeviceInfoTab)));
    m_pages->addTab(deviceSet, QString::fromStdString(texts(sid::kDeviceSetTab)));
    m_buttons->button(QDialogButtonBox::Ok)->setText(QString::fromStdString(texts(sid::kOk)));
    m_buttons->button(QDialogButtonBox::Cancel)
        ->setText(QString::fromStdString(texts(sid::kCancel)));
    auto* layout = new QVBoxLayout(this);
    layout->addWidget(m_pages);
    layout->addWidget(m_buttons);
    resize(420, 460);
    connect(m_buttons, &QDialogButtonBox::accepted, this, &GaugerySheet::accept);
    connect(m_buttons, &QDialogButtonBox::rejected, this, &GaugerySheet::reject);
    connect(m_pages, &QTabWidget::currentChanged, this, [this](int index) {
        if (m_pages->widget(index) == m_deviceSet)
            m_deviceSet->initialise();
    });
}

void GaugerySheet::showEvent(QShowEvent* event)
{
    QDialog::showEvent(event);
    if (m_pages->currentWidget() == m_deviceInfo)
        m_deviceInfo->initialise();
    else
        m_deviceSet->initialise();
}

void GaugerySheet::accept()
{
    // Only a page that was set up has anything to apply.
    if (m_deviceSet->initialised() && !m_deviceSet->apply())
        return;
    QDialog::accept();
}

} // namespace lumarc::infotool
