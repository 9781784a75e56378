#include "app/AppIcon.h"

#include <QPainter>
#include <QPixmap>

void paintAppIcon(QPainter& p, qreal size)
{
    const qreal s = size / 32.0;
    // The connector's trapezoid shell.
    QPolygonF shell;
    shell << QPointF(3 * s, 9 * s) << QPointF(29 * s, 9 * s) << QPointF(25 * s, 23 * s) << QPointF(7 * s, 23 * s);
    p.setPen(QPen(QColor(20, 50, 110), 1.5 * s));
    p.setBrush(QColor(70, 130, 210));
    p.drawPolygon(shell);
    // Its pins.
    p.setPen(Qt::NoPen);
    p.setBrush(Qt::white);
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF((8 + i * 4) * s, 13.5 * s), 1.3 * s, 1.3 * s);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF((10 + i * 4) * s, 18.5 * s), 1.3 * s, 1.3 * s);
    // The network link below.
    p.setPen(QPen(QColor(240, 150, 30), 2 * s));
    p.drawLine(QPointF(16 * s, 23 * s), QPointF(16 * s, 29 * s));
    p.drawLine(QPointF(9 * s, 29 * s), QPointF(23 * s, 29 * s));
}

namespace {
QPixmap drawIcon(int size)
{
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    QPainter p(&pixmap);
    p.setRenderHint(QPainter::Antialiasing);
    paintAppIcon(p, size);
    return pixmap;
}
}  // namespace

QIcon appIcon()
{
    QIcon icon;
    icon.addPixmap(drawIcon(16));
    icon.addPixmap(drawIcon(32));
    return icon;
}
