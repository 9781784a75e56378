// The Qt implementations of the platform pieces, used by the program.
#pragma once

#include "app/platform/Platform.h"
#include "app/platform/QtWineRegistry.h"

#include <QSystemTrayIcon>
#include <memory>

class QtMessageBoxes : public MessageBoxes {
public:
    msgbox::Answer show(const msgbox::Request& request) override;
};

class QtTrayIcon : public TrayIconPort {
    Q_OBJECT
public:
    explicit QtTrayIcon(const QIcon& icon);
    bool isAvailable() const override;
    bool supportsMessages() const override;
    void showIcon(const QString& toolTip) override;
    void hideIcon() override;
    bool isShown() const override;
    void showMessage(const QString& title, const QString& text) override;

private:
    QSystemTrayIcon icon_;
};

class QtBusyCursor : public BusyCursor {
public:
    void setBusy() override;
    void restore() override;
};

// Owns one of each, for the program's lifetime; the notification icon shows trayIcon.
class QtPlatform {
public:
    explicit QtPlatform(const QIcon& trayIcon);
    Platform& platform() { return platform_; }

private:
    QtMessageBoxes messages_;
    QtTrayIcon tray_;
    QtBusyCursor cursor_;
    QtFileDialogs dialogs_;
    QtMenuPopup popups_;
    QtDocumentOpener opener_;
    QtWineRegistry wine_;
    Platform platform_;
};
