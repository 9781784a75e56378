// Widgets stand at fixed places in the program's windows (pixels at 96 dpi).
#pragma once

#include <QLabel>
#include <QString>

template <class W>
W* place(W* widget, const char* name, int x, int y, int w, int h)
{
    widget->setObjectName(QString::fromLatin1(name));
    widget->setGeometry(x, y, w, h);
    return widget;
}

// A label at (x, y), sized to its text.
inline QLabel* placeLabel(QWidget* parent, const QString& name, const QString& text, int x, int y)
{
    auto* l = new QLabel(text, parent);
    l->setObjectName(name);
    l->move(x, y);
    l->adjustSize();
    return l;
}
