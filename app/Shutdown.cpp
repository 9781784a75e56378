// Closing the main window: its own close control only hides it; Exit, the end of
// the desktop session and a termination request offer to save, record the current
// file, stop emulation and release the device library.
#include "app/windows/frmMain.h"

#include "app/ProgramFiles.h"
#include "app/Settings.h"
#include "app/Trap.h"
#include "app/modSysTrayIcon.h"
#include "deviceapi/modVSP_APIs.h"

#include <QApplication>
#include <QCloseEvent>
#include <QSessionManager>

using namespace modVSP_APIs;

void frmMain::Form_QueryUnload(std::int16_t& cancel, int reason)
{
    Trap trap(QStringLiteral("Form_QueryUnload"));
    if (reason == closeReason::windowClose) {
        cancel = 1;
        trap(10, [&] { cmdHide_Click(); });
        return;
    }
    if (m_ConfigChanged) {
        msgbox::Answer answer = msgbox::Answer::Cancel;
        trap(20, [&] {
            answer = platform_.messages->show(
                {QStringLiteral("Changes to ") + GetFileName(g_ScriptFile) +
                     QStringLiteral(" haven't been saved yet.  Would you like to save them now?"),
                 msgbox::Buttons::YesNoCancel, msgbox::Icon::Question, QStringLiteral("Save changes?"), msgbox::Answer::Yes});
        });
        if (answer == msgbox::Answer::Cancel) {
            cancel = 1;
            return;
        }
        if (answer == msgbox::Answer::Yes) {
            // A save that did not succeed keeps the program running: the changes are not safe.
            bool saved = false;
            trap(30, [&] { saved = mnuSave_Click(); });
            trap(40, [&] { saved = saved && FileExists(g_ScriptFile); });
            if (!saved) {
                cancel = 1;
                return;
            }
        }
    }
    trap(50, [&] {
        if (m_HiddenInTray) {
            TrayIcon(*TrayPic, g_TitleText, trayAction::remove);
            m_HiddenInTray = false;
        }
    });
    trap(60, [&] {
        WriteSetting(settingsKey::ScriptLoadLASTFILE, g_ScriptFile);
    });
    trap(70, [&] {
        if (vsp_stopEmulation() == 0)
            showMessage(QStringLiteral("Error: emulation can not be stopped: maybe one of the devices is still in use."));
    });
    trap(80, [&] { vsp_release(); });
    cancel = 0;
}

void frmMain::mnuExit_Click()
{
    requestClose(closeReason::exitCommand);
}

void frmMain::requestClose(int reason)
{
    m_PendingCloseReason = reason;
    close();
    m_PendingCloseReason = -1;
}

void frmMain::closeEvent(QCloseEvent* event)
{
    int reason = m_PendingCloseReason;
    if (reason < 0)
        reason = event->spontaneous() ? closeReason::windowClose : closeReason::other;
    std::int16_t cancel = 0;
    Form_QueryUnload(cancel, reason);
    if (cancel) {
        event->ignore();
        return;
    }
    event->accept();
    m_Closed = true;
    QCoreApplication::quit();
}

void frmMain::sessionEnding(QSessionManager& manager)
{
    std::int16_t cancel = 0;
    Form_QueryUnload(cancel, closeReason::sessionEnd);
    if (cancel) {
        manager.cancel();
        return;
    }
    m_Closed = true;
    QCoreApplication::quit();
}
