#include "app/platform/QtPlatform.h"

#include <QApplication>
#include <QMessageBox>

msgbox::Answer QtMessageBoxes::show(const msgbox::Request& request)
{
    using SB = QMessageBox::StandardButton;
    QMessageBox box;
    box.setWindowTitle(request.caption);
    // Always plain: a text may carry what others wrote (a file name, an adapter's
    // certificate subject), which must show as it is, never as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(request.text);
    switch (request.icon) {
    case msgbox::Icon::Critical: box.setIcon(QMessageBox::Critical); break;
    case msgbox::Icon::Question: box.setIcon(QMessageBox::Question); break;
    case msgbox::Icon::Exclamation: box.setIcon(QMessageBox::Warning); break;
    case msgbox::Icon::Information: box.setIcon(QMessageBox::Information); break;
    case msgbox::Icon::None: break;
    }
    switch (request.buttons) {
    case msgbox::Buttons::Ok: box.setStandardButtons(SB::Ok); break;
    case msgbox::Buttons::YesNo: box.setStandardButtons(SB::Yes | SB::No); break;
    case msgbox::Buttons::YesNoCancel: box.setStandardButtons(SB::Yes | SB::No | SB::Cancel); break;
    }
    const SB preferred = request.defaultAnswer == msgbox::Answer::Yes ? SB::Yes
                         : request.defaultAnswer == msgbox::Answer::No ? SB::No
                         : request.defaultAnswer == msgbox::Answer::Cancel ? SB::Cancel
                                                                          : SB::Ok;
    if (box.button(preferred))
        box.setDefaultButton(preferred);
    switch (box.exec()) {
    case SB::Yes: return msgbox::Answer::Yes;
    case SB::No: return msgbox::Answer::No;
    case SB::Cancel: return msgbox::Answer::Cancel;
    default: return request.buttons == msgbox::Buttons::YesNoCancel ? msgbox::Answer::Cancel : msgbox::Answer::Ok;
    }
}

QtTrayIcon::QtTrayIcon(const QIcon& icon) : icon_(icon)
{
    connect(&icon_, &QSystemTrayIcon::activated, this, [this](QSystemTrayIcon::ActivationReason reason) {
        switch (reason) {
        case QSystemTrayIcon::Trigger: emit activated(Activation::LeftPress); break;
        case QSystemTrayIcon::DoubleClick: emit activated(Activation::DoubleClick); break;
        case QSystemTrayIcon::MiddleClick: emit activated(Activation::MiddleClick); break;
        case QSystemTrayIcon::Context: emit activated(Activation::Context); break;
        default: emit activated(Activation::Other); break;
        }
    });
}

bool QtTrayIcon::isAvailable() const { return QSystemTrayIcon::isSystemTrayAvailable(); }
bool QtTrayIcon::supportsMessages() const { return QSystemTrayIcon::supportsMessages(); }

void QtTrayIcon::showIcon(const QString& toolTip)
{
    icon_.setToolTip(toolTip);
    icon_.show();
}

void QtTrayIcon::hideIcon() { icon_.hide(); }
bool QtTrayIcon::isShown() const { return icon_.isVisible(); }

void QtTrayIcon::showMessage(const QString& title, const QString& text)
{
    icon_.showMessage(title, text, QSystemTrayIcon::Information);
}

void QtBusyCursor::setBusy() { QApplication::setOverrideCursor(Qt::WaitCursor); }

void QtBusyCursor::restore()
{
    if (QApplication::overrideCursor())
        QApplication::restoreOverrideCursor();
}

QtPlatform::QtPlatform(const QIcon& trayIcon) : tray_(trayIcon)
{
    platform_.messages = &messages_;
    platform_.tray = &tray_;
    platform_.cursor = &cursor_;
    platform_.dialogs = &dialogs_;
    platform_.popups = &popups_;
    platform_.opener = &opener_;
    platform_.wine = &wine_;
}
