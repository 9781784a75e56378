// The main window's initialization, run once before it takes any input.
#include "app/windows/frmMain.h"

#include "app/NumericText.h"
#include "app/ProgramFiles.h"
#include "app/Settings.h"
#include "app/Trap.h"
#include "config/modDLG.h"
#include "deviceapi/modVSP_APIs.h"

#include <QLabel>

using namespace modVSP_APIs;

void frmMain::Form_Load()
{
    Trap trap(QStringLiteral("Form_Load"));
    bool load = false;

    trap(10, [&] { showUpperFramePosition(); });
    trap(20, [&] { platform_.cursor->setBusy(); });
    trap(30, [&] {
        QString version;
        vsp_getVersionInformation(version);
        lblAPIVer->setText(TrimAtNul(version));
        lblAPIVer->adjustSize();
    });
    trap(40, [&] { editor_->fillChoices(); });
    trap(50, [&] {
        if (vsp_initialize() == 0)
            platform_.messages->show({QStringLiteral("Initialization error"), msgbox::Buttons::Ok, msgbox::Icon::None});
    });
    trap(60, [&] { ChangeEmuStatus(false); });
    trap(70, [&] { vsp_destroyAllDevices(); });
    trap(80, [&] { load = FileExists(g_ScriptFile); });
    if (!load) {
        trap(90, [&] { g_ScriptLoadOpt = toByte(leadingNumber(ReadSetting(settingsKey::ScriptLoadOPT))); });
        trap(100, [&] {
            if (g_ScriptLoadOpt == 0)
                return;
            if (g_ScriptLoadOpt == 1)
                g_ScriptFile = ReadSetting(settingsKey::ScriptLoadLASTFILE);
            else if (g_ScriptLoadOpt == 2)
                g_ScriptFile = ReadSetting(settingsKey::ScriptLoadCONSTFILE);
            load = FileExists(g_ScriptFile);
        });
    }
    trap(110, [&] {
        if (g_ScriptFile.isEmpty())
            g_ScriptFile = programFilesDir() + QStringLiteral("/Untitled.qlc");
    });
    trap(120, [&] {
        // A file the library refuses counts as not loaded, after its message.
        if (load && ProcessScriptLoad())
            return;
        m_ConfigChanged = false;
        UpdateTitle();
    });
    trap(130, [&] { platform_.cursor->restore(); });
}
