// icon-png: writes the application icon in the desktop's icon theme layout, from the
// program's own drawing: FOLDER/hicolor/NxN/apps/quorlinvcp.png for each size the
// theme asks for, and FOLDER/hicolor/scalable/apps/quorlinvcp.svg.
//   icon-png FOLDER
#include "app/AppIcon.h"

#include <QDir>
#include <QGuiApplication>
#include <QPainter>
#include <QPixmap>
#include <QSvgGenerator>
#include <cstdio>

namespace {
constexpr int sizes[] = {16, 32, 48, 64, 128, 256};

bool writePng(const QString& folder, int size)
{
    const QString dir = QStringLiteral("%1/hicolor/%2x%2/apps").arg(folder).arg(size);
    QPixmap pixmap(size, size);
    pixmap.fill(Qt::transparent);
    {
        QPainter p(&pixmap);
        p.setRenderHint(QPainter::Antialiasing);
        paintAppIcon(p, size);
    }
    return QDir().mkpath(dir) && pixmap.save(dir + QStringLiteral("/quorlinvcp.png"));
}

bool writeSvg(const QString& folder)
{
    const QString dir = folder + QStringLiteral("/hicolor/scalable/apps");
    if (!QDir().mkpath(dir))
        return false;
    QSvgGenerator svg;
    svg.setFileName(dir + QStringLiteral("/quorlinvcp.svg"));
    svg.setSize(QSize(32, 32));
    svg.setViewBox(QRect(0, 0, 32, 32));
    svg.setTitle(QStringLiteral("QuorlinVCP"));
    QPainter p;
    if (!p.begin(&svg))
        return false;
    paintAppIcon(p, 32);
    return p.end();
}
}  // namespace

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: icon-png FOLDER\n");
        return 2;
    }
    const QString folder = QString::fromLocal8Bit(argv[1]);
    for (const int size : sizes) {
        if (!writePng(folder, size))
            return 1;
    }
    return writeSvg(folder) ? 0 : 1;
}
