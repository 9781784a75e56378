// icon-png: writes the application icon as a PNG for the desktop menu entry.
//   icon-png OUTPUT.png
#include "app/AppIcon.h"

#include <QGuiApplication>
#include <cstdio>

int main(int argc, char** argv)
{
    QGuiApplication application(argc, argv);
    if (argc != 2) {
        std::fprintf(stderr, "usage: icon-png OUTPUT.png\n");
        return 2;
    }
    return appIcon().pixmap(32, 32).save(QString::fromLocal8Bit(argv[1])) ? 0 : 1;
}
