// Painting the row image strip.
#include "row_images.h"

#include "device_info_logic.h"

#include <QPainter>
#include <QPixmap>


namespace lumarc::infotool {
namespace {

constexpr int kSize = 16;

QPixmap paint(int index)
{
    QPixmap pixmap(kSize, kSize);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    const QColor line(128, 128, 128);
    const auto box = [&](bool plus) {
        p.setPen(line);
        p.setBrush(Qt::white);
        p.drawRect(3, 3, 9, 9);
        p.setPen(Qt::black);
        p.drawLine(5, 8, 10, 8);
        if (plus)
            p.drawLine(8, 5, 8, 10);
    };
    switch (index) {
    case rowimage::kSingle:
        p.setPen(Qt::NoPen);
        p.setBrush(QColor(40, 90, 160));
        p.drawEllipse(5, 5, 6, 6);
        break;
    case rowimage::kCollapsed:
        box(true);
        break;
    case rowimage::kExpanded:
        box(false);
        break;
    case rowimage::kMiddle:
    case rowimage::kLast:
        p.setPen(QPen(line, 1, Qt::DotLine));
        p.drawLine(8, 0, 8, index == rowimage::kLast ? 8 : kSize);
        p.drawLine(8, 8, kSize, 8);
        break;
    default:
        break;
    }
    return pixmap;
}

} // namespace

QIcon rowImage(int index)
{
    if (index < 0 || index >= rowimage::kCount)
        return {};
    return QIcon(paint(index));
}

} // namespace lumarc::infotool
