#include "app/AboutArt.h"

#include <QLinearGradient>
#include <QPainter>
#include <QPainterPath>

QPixmap aboutPicture()
{
    QPixmap picture(115, 228);
    QPainter p(&picture);
    p.setRenderHint(QPainter::Antialiasing);
    QLinearGradient sky(0, 0, 0, 228);
    sky.setColorAt(0, QColor(28, 62, 120));
    sky.setColorAt(1, QColor(120, 170, 230));
    p.fillRect(picture.rect(), sky);

    // A network cable running down into a serial connector.
    QPainterPath cable;
    cable.moveTo(57, 0);
    cable.cubicTo(20, 50, 95, 90, 57, 140);
    p.setPen(QPen(QColor(240, 160, 40), 5, Qt::SolidLine, Qt::RoundCap));
    p.drawPath(cable);

    QPolygonF shell;
    shell << QPointF(17, 140) << QPointF(98, 140) << QPointF(86, 182) << QPointF(29, 182);
    p.setPen(QPen(QColor(15, 35, 80), 2));
    p.setBrush(QColor(200, 215, 235));
    p.drawPolygon(shell);
    p.setPen(Qt::NoPen);
    p.setBrush(QColor(30, 60, 120));
    for (int i = 0; i < 5; ++i)
        p.drawEllipse(QPointF(33 + i * 12.25, 154), 3, 3);
    for (int i = 0; i < 4; ++i)
        p.drawEllipse(QPointF(39 + i * 12.25, 168), 3, 3);

    // Data pulses along the cable.
    p.setBrush(QColor(255, 240, 200));
    for (const QPointF& dot : {QPointF(50, 20), QPointF(45, 55), QPointF(66, 95), QPointF(60, 125)})
        p.drawEllipse(dot, 3.5, 3.5);

    p.setPen(QColor(255, 255, 255));
    QFont font(QStringLiteral("DejaVu Sans"));
    font.setPixelSize(13);
    font.setBold(true);
    p.setFont(font);
    p.drawText(QRect(0, 192, 115, 30), Qt::AlignCenter, QStringLiteral("COM <-> TCP"));
    return picture;
}
