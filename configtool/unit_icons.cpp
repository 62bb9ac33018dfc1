// Drawing the images.
#include "unit_icons.h"

#include <QPainter>
#include <QPainterPath>
#include <QPixmap>

#include <cmath>

namespace lumarc::configtool {
namespace {

// A unit: a box with a panel, green when it answers, grey when not.
QPixmap unitPixmap(int size, bool active, bool current)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = size / 16.0;
    painter.setPen(QPen(QColor(60, 60, 70), s));
    painter.setBrush(active ? QColor(90, 170, 90) : QColor(160, 160, 165));
    painter.drawRoundedRect(QRectF(1 * s, 5 * s, 14 * s, 9 * s), 1.5 * s, 1.5 * s);
    painter.setBrush(QColor(235, 240, 245));
    painter.drawRect(QRectF(3 * s, 7 * s, 6 * s, 3 * s));
    painter.setBrush(active ? QColor(40, 230, 60) : QColor(110, 110, 110));
    painter.drawEllipse(QPointF(12 * s, 8.5 * s), 1.2 * s, 1.2 * s);
    if (current) {
        QPainterPath star;
        for (int i = 0; i < 10; ++i) {
            const double radius = (i % 2 == 0 ? 4.5 : 2.0) * s;
            const double angle = -M_PI / 2 + i * M_PI / 5;
            const QPointF point(11.5 * s + radius * std::cos(angle), 4.5 * s + radius * std::sin(angle));
            if (i == 0)
                star.moveTo(point);
            else
                star.lineTo(point);
        }
        star.closeSubpath();
        painter.setPen(QPen(QColor(150, 100, 0), 0.8 * s));
        painter.setBrush(QColor(255, 200, 30));
        painter.drawPath(star);
    }
    return pixmap;
}

QPixmap programPixmap(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    const double s = size / 32.0;
    painter.setPen(QPen(QColor(40, 50, 70), s));
    painter.setBrush(QColor(70, 110, 170));
    painter.drawRoundedRect(QRectF(2 * s, 10 * s, 28 * s, 16 * s), 3 * s, 3 * s);
    painter.setBrush(QColor(225, 235, 245));
    painter.drawRect(QRectF(6 * s, 14 * s, 12 * s, 6 * s));
    painter.setBrush(QColor(60, 220, 90));
    painter.drawEllipse(QPointF(24 * s, 17 * s), 2.2 * s, 2.2 * s);
    painter.setPen(QPen(QColor(40, 50, 70), 2 * s));
    painter.drawLine(QPointF(8 * s, 10 * s), QPointF(12 * s, 4 * s));
    painter.drawLine(QPointF(12 * s, 4 * s), QPointF(22 * s, 4 * s));
    return pixmap;
}

} // namespace

QIcon unitIcon(UnitIcon icon)
{
    const bool active = icon == UnitIcon::Active || icon == UnitIcon::CurrentActive;
    const bool current = icon == UnitIcon::CurrentInactive || icon == UnitIcon::CurrentActive;
    QIcon result;
    for (const int size : {16, 32})
        result.addPixmap(unitPixmap(size, active, current));
    return result;
}

QIcon programIcon()
{
    QIcon result;
    for (const int size : {16, 32, 48, 64})
        result.addPixmap(programPixmap(size));
    return result;
}

} // namespace lumarc::configtool
