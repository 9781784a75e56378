// The one emulation switch for all devices, and its menu entry.
#include "app/windows/frmMain.h"

#include "app/Trap.h"
#include "deviceapi/modVSP_APIs.h"

#include <QAction>

using namespace modVSP_APIs;

void frmMain::ChangeEmuStatus(bool wanted)
{
    Trap trap(QStringLiteral("ChangeEmuStatus"));
    // The library is asked every time, whatever the flag says; a call that fails
    // counts as refused, so the user hears of it.
    std::int16_t accepted = 0;
    trap(10, [&] { accepted = wanted ? vsp_startEmulation() : vsp_stopEmulation(); });
    trap(20, [&] {
        if (accepted == 0) {
            showMessage(wanted ? QStringLiteral("Error: can not start emulation")
                               : QStringLiteral("Error: emulation can not be stopped: maybe one of devices is still in use."));
        } else {
            mnuEmulation->setText(wanted ? QStringLiteral("Stop Emulation") : QStringLiteral("Start Emulation"));
            g_EmulationRunning = wanted;
        }
    });
    trap(30, [&] { UpdateTitle(); });
}

void frmMain::mnuEmulation_Click()
{
    Trap trap(QStringLiteral("mnuEmulation_Click"));
    trap(10, [&] { ChangeEmuStatus(!g_EmulationRunning); });
    trap(20, [&] { ScanAvailPairs(); });
}
