// Widgets stand at fixed places in the program's windows (pixels at 96 dpi).
#pragma once

#include <QString>

template <class W>
W* place(W* widget, const char* name, int x, int y, int w, int h)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}
