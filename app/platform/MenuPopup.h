// Showing a pop-up menu, behind an interface so tests see which entries were
// offered instead of waiting on a real menu.
#pragma once

#include <QMenu>
#include <QPoint>

class MenuPopup {
public:
    virtual ~MenuPopup() = default;
    virtual void popup(QMenu* menu, const QPoint& globalPosition) = 0;
};

class QtMenuPopup : public MenuPopup {
public:
    void popup(QMenu* menu, const QPoint& globalPosition) override { menu->exec(globalPosition); }
};
