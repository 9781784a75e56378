// Loading and saving configuration files through the File menu.
#include "app/windows/frmMain.h"

#include "app/ProgramFiles.h"
#include "app/Trap.h"
#include "config/ConfigurationFiles.h"

void frmMain::mnuLoad_Click()
{
    Trap trap(QStringLiteral("mnuLoad_Click"));
    QString initialDir;
    QString fileName;
    trap(10, [&] { initialDir = dialogFolderFor(document_.path()); });
    trap(20, [&] { fileName = chooseConfigurationToLoad(*platform_.dialogs, initialDir); });
    bool chosen = false;
    trap(30, [&] { chosen = !fileName.isEmpty() && FileExists(fileName); });
    if (!chosen)
        return;
    trap(40, [&] {
        // A file the library refuses leaves the current file, emulation and the list as they were.
        const QString previous = document_.path();
        document_.setPath(fileName);
        if (!ProcessScriptLoad())
            document_.setPath(previous);
    });
}

bool frmMain::ProcessScriptLoad()
{
    Trap trap(QStringLiteral("ProcessScriptLoad"));
    bool loaded = true;
    QString refusal;
    trap(10, [&] { loaded = document_.load(&refusal); });
    if (!loaded) {
        trap(20, [&] {
            platform_.messages->show({QStringLiteral("Error: can not load configuration file ") + document_.path() +
                                          (refusal.isEmpty() ? QString() : QStringLiteral(": ") + refusal),
                                      msgbox::Buttons::Ok, msgbox::Icon::Critical});
        });
        return false;
    }
    trap(30, [&] { ChangeEmuStatus(true); });
    trap(40, [&] { ScanAvailPairs(); });
    return true;
}

bool frmMain::mnuSave_Click()
{
    Trap trap(QStringLiteral("mnuSave_Click"));
    bool exists = false;
    bool saved = false;
    trap(10, [&] { exists = document_.exists(); });
    if (!exists) {
        trap(20, [&] { saved = mnuSaveAs_Click(); });
        return saved;
    }
    bool written = true;
    trap(30, [&] { written = document_.save(); });
    if (!written) {
        // The changes are not safe: the "*" stays and the user is told.
        trap(40, [&] {
            platform_.messages->show({QStringLiteral("Error: can not save configuration file ") + document_.path(),
                                      msgbox::Buttons::Ok, msgbox::Icon::Critical});
        });
        return false;
    }
    trap(50, [&] { document_.unsaved = false; });
    trap(60, [&] { UpdateTitle(); });
    return true;
}

bool frmMain::mnuSaveAs_Click()
{
    Trap trap(QStringLiteral("mnuSaveAs_Click"));
    QString proposed;
    trap(10, [&] { proposed = document_.pathOrUntitled(); });
    QString fileName;
    trap(20, [&] { fileName = chooseConfigurationToSave(*platform_.dialogs, proposed); });
    if (fileName.isEmpty())
        return false;
    bool saved = false;
    trap(30, [&] { document_.setPath(fileName); });
    trap(40, [&] { document_.createIfMissing(); });
    trap(50, [&] { saved = mnuSave_Click(); });
    return saved;
}
