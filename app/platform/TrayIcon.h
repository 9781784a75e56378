// The notification-area icon, behind an interface so tests can watch it.
#pragma once

#include <QObject>
#include <QString>

class TrayIconPort : public QObject {
    Q_OBJECT
public:
    enum class Activation { LeftPress, DoubleClick, MiddleClick, Context, Other };

    // Whether the desktop has a notification area at all, and shows messages there.
    virtual bool isAvailable() const = 0;
    virtual bool supportsMessages() const = 0;
    virtual void showIcon(const QString& toolTip) = 0;
    virtual void hideIcon() = 0;
    virtual bool isShown() const = 0;
    virtual void showMessage(const QString& title, const QString& text) = 0;

signals:
    void activated(TrayIconPort::Activation activation);
};
