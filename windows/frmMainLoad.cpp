// The main window's initialization, run once before it takes any input.
#include "windows/frmMain.h"

#include "app/NumericText.h"
#include "app/Settings.h"
#include "app/Trap.h"
#include "config/modDLG.h"
#include "deviceapi/modVSP_APIs.h"
#include "devices/DeviceCommands.h"

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
    trap(70, [&] { deviceCommands::destroyAll(); });
    trap(80, [&] { load = document_.exists(); });
    if (!load) {
        ProgramState& state = *platform_.state;
        trap(90, [&] { state.scriptLoadOpt = toByte(ReadSettingNumber(state, settingsKey::ScriptLoadOPT)); });
        trap(100, [&] {
            if (state.scriptLoadOpt == 0)
                return;
            if (state.scriptLoadOpt == 1)
                document_.setPath(ReadSetting(state, settingsKey::ScriptLoadLASTFILE));
            else if (state.scriptLoadOpt == 2)
                document_.setPath(ReadSetting(state, settingsKey::ScriptLoadCONSTFILE));
            load = document_.exists();
        });
    }
    trap(110, [&] {
        if (document_.path().isEmpty())
            document_.setPath(document_.pathOrUntitled());
    });
    trap(120, [&] {
        // A file the library refuses counts as not loaded, after its message.
        if (load && ProcessScriptLoad())
            return;
        document_.unsaved = false;
        UpdateTitle();
    });
    trap(130, [&] { platform_.cursor->restore(); });
}
