// The title bar as the program's status line, and hiding into the notification area.
#include "windows/frmMain.h"

#include "Version.h"
#include "app/ProgramFiles.h"
#include "app/Settings.h"
#include "app/modSysTrayIcon.h"
#include "windows/LogSteps.h"

void frmMain::UpdateTitle()
{
    m_TitleText = QString::fromUtf8(version::title) + QStringLiteral(" v") + QString::number(version::major) +
                  QLatin1Char('.') + QString::number(version::minor) + QLatin1Char('.') +
                  QString::number(version::revision) + QStringLiteral(" [") + GetFileName(document_.path()) +
                  (document_.unsaved ? QStringLiteral("*") : QString()) + QStringLiteral("] Emulation: ") +
                  (emulation_.isRunning() ? QStringLiteral("Running") : QStringLiteral("Stopped"));
    setWindowTitle(m_TitleText);
}

void frmMain::DisplayStatus(bool doShow)
{
    if (doShow) {
        if (m_HiddenInTray) {
            TrayIcon(*TrayPic, *platform_.state, m_TitleText, trayAction::remove, logSteps<TrayStep>());
            m_HiddenInTray = false;
        }
        if (isHidden()) {
            // A window the desktop once minimized can keep "minimized" as the state it
            // asks for when shown, although it was restored since; passing through the
            // minimized state renews that request as normal.
            setWindowState(windowState() | Qt::WindowMinimized);
        }
        setWindowState(windowState() & ~Qt::WindowMinimized);
        show();
        raise();
        activateWindow();
        return;
    }
    // Without a notification area a hidden window could never come back: it is
    // minimized instead, and stays reachable from the task bar.
    if (!TrayPic->isAvailable()) {
        showMinimized();
        return;
    }
    if (m_HiddenInTray) {
        hide();
        return;
    }
    TrayIcon(*TrayPic, *platform_.state, m_TitleText, trayAction::add, logSteps<TrayStep>());
    m_HiddenInTray = true;
    // Hidden before the setting is read: a value that cannot be read (it fails at the
    // handler's boundary) costs the balloon, never the hiding.
    hide();
    if (ReadSettingNumber(*platform_.state, settingsKey::WarnInSysTray) == 1) {
        const QString title = QString::fromUtf8(version::title);
        ShowBalloon(*TrayPic, *platform_.state, title + QStringLiteral(" notification"),
                    title + QStringLiteral(" is hidden in the system tray. Left-click on the icon to display again.  "
                                           "You may disable this warning in the options."),
                    1);
        statusRefresh_->balloonShown();  // an outage's balloon must not replace it at once
    }
}

void frmMain::cmdHide_Click()
{
    DisplayStatus(false);
}

void frmMain::TrayPic_MouseMove(TrayIconPort::Activation activation)
{
    if (activation == TrayIconPort::Activation::LeftPress)
        DisplayStatus(true);
}
