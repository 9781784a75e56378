// Closing the main window: its own close control only hides it; Exit, the end of
// the desktop session and a termination request offer to save, record the current
// file, stop emulation and release the device library.
#include "windows/frmMain.h"

#include "app/ProgramFiles.h"
#include "app/Settings.h"
#include "app/Trap.h"
#include "app/modSysTrayIcon.h"
#include "windows/LogSteps.h"
#include "app/platform/SessionRequest.h"
#include "deviceapi/modVSP_APIs.h"

#include <QApplication>
#include <QCloseEvent>

using namespace modVSP_APIs;

bool frmMain::Form_QueryUnload(int reason, bool interactive)
{
    Trap trap(QStringLiteral("Form_QueryUnload"));
    if (reason == closeReason::windowClose) {
        trap(10, [&] { cmdHide_Click(); });
        return true;
    }
    if (interactive && !offerToSave(trap))
        return true;
    trap(50, [&] {
        if (m_HiddenInTray) {
            TrayIcon(*TrayPic, *platform_.state, m_TitleText, trayAction::remove, logSteps<TrayStep>());
            m_HiddenInTray = false;
        }
    });
    trap(60, [&] {
        WriteSetting(*platform_.state, settingsKey::ScriptLoadLASTFILE, document_.path());
    });
    trap(70, [&] {
        if (vsp_stopEmulation() == 0 && interactive)
            showMessage(QStringLiteral("Error: emulation can not be stopped: maybe one of the devices is still in use."));
    });
    trap(80, [&] { vsp_release(); });
    return false;
}

bool frmMain::offerToSave(Trap& trap)
{
    if (!document_.unsaved)
        return true;
    msgbox::Answer answer = msgbox::Answer::Cancel;
    trap(20, [&] {
        answer = platform_.messages->show(
            {QStringLiteral("Changes to ") + GetFileName(document_.path()) +
                 QStringLiteral(" haven't been saved yet.  Would you like to save them now?"),
             msgbox::Buttons::YesNoCancel, msgbox::Icon::Question, QStringLiteral("Save changes?"), msgbox::Answer::Yes});
    });
    if (answer == msgbox::Answer::Cancel)
        return false;
    if (answer == msgbox::Answer::Yes) {
        // A save that did not succeed keeps the program running: the changes are not safe.
        bool saved = false;
        trap(30, [&] { saved = mnuSave_Click(); });
        trap(40, [&] { saved = saved && document_.exists(); });
        return saved;
    }
    return true;
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
    if (m_Closed) {  // already closed down (the session ended)
        event->accept();
        return;
    }
    int reason = m_PendingCloseReason;
    if (reason < 0)
        reason = event->spontaneous() ? closeReason::windowClose : closeReason::other;
    if (Form_QueryUnload(reason)) {
        event->ignore();
        return;
    }
    event->accept();
    m_Closed = true;
    closeMonitors();
    QCoreApplication::quit();
}

void frmMain::sessionSaveRequest(SessionRequest& request)
{
    // Asking for interaction makes the session manager wait for this program; only
    // unsaved changes are worth it.
    if (!document_.unsaved || !request.allowsInteraction())
        return;
    Trap trap(QStringLiteral("Form_QueryUnload"));
    if (!offerToSave(trap))
        request.cancel();
}

void frmMain::sessionEnded()
{
    if (m_Closed)
        return;
    // The session manager allows no question any more: it was put, when allowed,
    // before the session ended.
    Form_QueryUnload(closeReason::sessionEnd, false);
    m_Closed = true;
    closeMonitors();
    hide();
}
