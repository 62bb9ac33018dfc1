// The Offset dialog's view.
#include "coffsetdlg.h"

#include "ui_coffsetdlg.h"

#include <QPainter>
#include <QPushButton>

namespace lumarc::infotool {
namespace {

// A page with the two directions: main scanning across, sub scanning down.
QPixmap offsetPicture()
{
    QPixmap pixmap(120, 110);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    p.setPen(QPen(Qt::darkGray, 1));
    p.setBrush(Qt::white);
    p.drawRect(30, 20, 70, 85);
    p.setPen(QPen(QColor(40, 90, 160), 2));
    p.drawLine(30, 10, 100, 10);
    p.drawLine(94, 6, 100, 10);
    p.drawLine(94, 14, 100, 10);
    p.drawLine(15, 20, 15, 105);
    p.drawLine(11, 99, 15, 105);
    p.drawLine(19, 99, 15, 105);
    p.setPen(Qt::black);
    p.drawText(QRect(30, 0, 70, 10), Qt::AlignCenter, "Main");
    p.save();
    p.translate(8, 62);
    p.rotate(-90);
    p.drawText(QRect(-20, -6, 40, 12), Qt::AlignCenter, "Sub");
    p.restore();
    return pixmap;
}

} // namespace

COffsetDlg::COffsetDlg(OffsetLogic& logic, ScannerCommands& commands, EepromImage& pageImage,
                       MessageBoxes& boxes, AdminCheck& admin, const Texts& texts,
                       QWidget* parent)
    : QDialog(parent), m_logic(logic), m_commands(commands), m_pageImage(pageImage),
      m_boxes(boxes), m_admin(admin), m_ui(std::make_unique<Ui::COffsetDlg>())
{
    m_ui->setupUi(this);
    const auto t = [&](uint32_t id) { return QString::fromStdString(texts(id)); };
    setWindowTitle(t(sid::kOffsetCaption));
    m_ui->offsetGroup->setTitle(t(sid::kOffsetGroup));
    m_ui->unitLabel->setText(t(sid::kUnitLabel));
    m_ui->mainLabel->setText(t(sid::kMainLabel));
    m_ui->subLabel->setText(t(sid::kSubLabel));
    m_ui->bottomLabel->setText(t(sid::kBottomLabel));
    for (QLabel* unit : {m_ui->mainUnit, m_ui->subUnit, m_ui->bottomUnit})
        unit->setText(t(sid::kHalfMillimetres));
    m_ui->topCheck->setText(t(sid::kTopCheck));
    m_ui->leftCheck->setText(t(sid::kLeftCheck));
    m_ui->magnificationGroup->setTitle(t(sid::kMagnificationGroup));
    m_ui->magnificationUnitLabel->setText(t(sid::kMagnificationUnit));
    m_ui->percentLabel->setText(t(sid::kPercent));
    m_ui->buttonBox->button(QDialogButtonBox::Ok)->setText(t(sid::kOk));
    m_ui->buttonBox->button(QDialogButtonBox::Cancel)->setText(t(sid::kCancel));
    m_ui->offsetPicture->setPixmap(offsetPicture());

    for (const UnitItem& item : logic.units())
        m_ui->unitCombo->addItem(QString::fromStdString(item.text), item.id);
    m_ui->topCheck->setVisible(logic.checksVisible());
    m_ui->leftCheck->setVisible(logic.checksVisible());
    m_ui->topCheck->setChecked(logic.values().top);
    m_ui->leftCheck->setChecked(logic.values().left);
    const bool units = !logic.units().empty();
    for (QWidget* w : std::initializer_list<QWidget*>{m_ui->unitCombo, m_ui->mainEdit,
                                                      m_ui->subEdit})
        w->setEnabled(units);
    showUnit();

    for (const UnitItem& item : logic.magnificationUnits())
        m_ui->magnificationUnitCombo->addItem(QString::fromStdString(item.text), item.id);
    const bool magnification = logic.magnificationEnabled();
    for (QWidget* w : std::initializer_list<QWidget*>{
             m_ui->magnificationUnitCombo, m_ui->magnificationSlider, m_ui->magnificationEdit,
             m_ui->lowLabel, m_ui->highLabel, m_ui->rangeLabel, m_ui->percentLabel,
             m_ui->magnificationUnitLabel})
        w->setEnabled(magnification);
    m_ui->lowLabel->setText(QString::fromStdString(logic.lowLabel()));
    m_ui->highLabel->setText(QString::fromStdString(logic.highLabel()));
    m_ui->rangeLabel->setText(QString::fromStdString(logic.rangeLabel()));
    m_ui->magnificationSlider->setRange(logic.magnificationRange().minimum,
                                        logic.magnificationRange().maximum);
    showMagnification();

    connect(m_ui->unitCombo, &QComboBox::currentIndexChanged, this, [this](int index) {
        if (m_showing || index < 0)
            return;
        m_logic.selectUnit(m_ui->unitCombo->itemData(index).toInt(), m_ui->mainEdit->value(),
                           m_ui->subEdit->value(), m_ui->bottomEdit->value());
        showUnit();
    });
    connect(m_ui->magnificationUnitCombo, &QComboBox::currentIndexChanged, this,
            [this](int index) {
                if (m_showing || index < 0)
                    return;
                m_logic.selectMagnificationUnit(
                    m_ui->magnificationUnitCombo->itemData(index).toInt());
                showMagnification();
            });
    connect(m_ui->magnificationSlider, &QSlider::valueChanged, this, [this](int position) {
        if (m_showing)
            return;
        m_logic.setMagnification(position);
        showMagnification();
    });
    connect(m_ui->buttonBox, &QDialogButtonBox::accepted, this, &COffsetDlg::accept);
    connect(m_ui->buttonBox, &QDialogButtonBox::rejected, this, &COffsetDlg::reject);
}

COffsetDlg::~COffsetDlg() = default;

void COffsetDlg::showUnit()
{
    m_showing = true;
    const SpinRange range = m_logic.selectedRange();
    for (SpinEdit* edit : {m_ui->mainEdit, m_ui->subEdit, m_ui->bottomEdit})
        edit->setRange(range);
    m_ui->mainEdit->setValue(m_logic.mainValue());
    m_ui->subEdit->setValue(m_logic.subValue());
    m_ui->bottomEdit->setValue(m_logic.bottomValue());
    for (QWidget* w : std::initializer_list<QWidget*>{m_ui->bottomLabel, m_ui->bottomEdit,
                                                      m_ui->bottomUnit})
        w->setEnabled(m_logic.bottomEnabled());
    m_showing = false;
}

void COffsetDlg::showMagnification()
{
    m_showing = true;
    m_ui->magnificationSlider->setValue(m_logic.magnification());
    m_ui->magnificationEdit->setText(QString::fromStdString(m_logic.magnificationText()));
    m_showing = false;
}

void COffsetDlg::accept()
{
    const auto outcome = m_logic.ok(m_ui->mainEdit->value(), m_ui->subEdit->value(),
                                    m_ui->bottomEdit->value(), m_ui->topCheck->isChecked(),
                                    m_ui->leftCheck->isChecked(), m_commands, m_pageImage,
                                    m_boxes, m_admin);
    if (!outcome) {
        showUnit(); // out-of-range offsets were reset to 0
        return;
    }
    QDialog::accept();
}

} // namespace lumarc::infotool
