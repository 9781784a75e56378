// Loading and saving configuration files through the File menu. The device library
// writes and reads the files; the program picks the path and keeps it current.
#include "app/windows/frmMain.h"

#include "app/ProgramFiles.h"
#include "app/RuntimeError.h"
#include "app/Settings.h"
#include "app/Trap.h"
#include "config/ConfigurationFiles.h"
#include "config/modDLG.h"
#include "deviceapi/modVSP_APIs.h"

#include <QFile>

using namespace modVSP_APIs;

namespace {

QString untitledFile()
{
    return programFilesDir() + QStringLiteral("/Untitled.qlc");
}
}  // namespace

QString configFileFilter()
{
    return QStringLiteral("QuorlinVCP Config File (*.qlc)|*.qlc|All files (*.*)|*.*");
}

QString dialogFolderFor(const QString& path)
{
    return path.isEmpty() ? programFilesDir() : path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString chooseConfigurationToLoad(FileDialogs& dialogs, const QString& initialDir)
{
    QString fileName;
    QString fileTitle;
    QString filter = configFileFilter();
    std::int32_t filterIndex = 1;
    std::int32_t flags = dlgFlag::explorer | dlgFlag::hideReadOnly;
    bool readOnly = false;
    // Only a path the user chose counts: a failed dialog leaves its input behind.
    const bool picked = OpenDialog(dialogs, fileName, fileTitle, true, false, readOnly, false, filter, filterIndex, initialDir,
                                   QStringLiteral("Load Configuration File"), QString(), -1, flags);
    return picked ? fileName : QString();
}

void CreateEmptyFile(const QString& path)
{
    QFile file(path);
    if (!file.open(QIODevice::WriteOnly | QIODevice::Truncate))
        throw RuntimeError(ErrorCode::PathFileAccess);
    file.close();
}

void frmMain::mnuLoad_Click()
{
    Trap trap(QStringLiteral("mnuLoad_Click"));
    QString initialDir;
    QString fileName;
    trap(10, [&] { initialDir = dialogFolderFor(g_ScriptFile); });
    trap(20, [&] { fileName = chooseConfigurationToLoad(*platform_.dialogs, initialDir); });
    bool chosen = false;
    trap(30, [&] { chosen = !fileName.isEmpty() && FileExists(fileName); });
    if (!chosen)
        return;
    trap(40, [&] {
        // A file the library refuses leaves the current file, emulation and the list as they were.
        const QString previous = g_ScriptFile;
        g_ScriptFile = fileName;
        if (!ProcessScriptLoad())
            g_ScriptFile = previous;
    });
}

bool frmMain::ProcessScriptLoad()
{
    Trap trap(QStringLiteral("ProcessScriptLoad"));
    std::int16_t loaded = 1;
    trap(10, [&] { loaded = vsp_loadConfiguration(g_ScriptFile); });
    if (loaded == 0) {
        trap(20, [&] {
            platform_.messages->show({QStringLiteral("Error: can not load configuration file ") + g_ScriptFile,
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
    trap(10, [&] { exists = FileExists(g_ScriptFile); });
    if (!exists) {
        trap(20, [&] { saved = mnuSaveAs_Click(); });
        return saved;
    }
    std::int16_t written = 1;
    trap(30, [&] { written = vsp_saveConfiguration(g_ScriptFile); });
    if (written == 0) {
        // The changes are not safe: the "*" stays and the user is told.
        trap(40, [&] {
            platform_.messages->show({QStringLiteral("Error: can not save configuration file ") + g_ScriptFile,
                                      msgbox::Buttons::Ok, msgbox::Icon::Critical});
        });
        return false;
    }
    trap(50, [&] { m_ConfigChanged = false; });
    trap(60, [&] { UpdateTitle(); });
    return true;
}

bool frmMain::mnuSaveAs_Click()
{
    Trap trap(QStringLiteral("mnuSaveAs_Click"));
    QString fileName;
    QString fileTitle;
    QString filter = configFileFilter();
    std::int32_t filterIndex = 1;
    std::int32_t flags = dlgFlag::explorer | dlgFlag::overwritePrompt | dlgFlag::hideReadOnly;
    trap(10, [&] { fileName = g_ScriptFile.isEmpty() ? untitledFile() : g_ScriptFile; });
    // Only a path the user chose counts: a dialog that failed leaves the proposed
    // name behind, and taking that would open the dialog again and again.
    bool picked = false;
    trap(20, [&] {
        picked = SaveDialog(*platform_.dialogs, fileName, fileTitle, true, filter, filterIndex, programFilesDir(),
                   QStringLiteral("Save Configuration File"), QStringLiteral("qlc"), -1, flags);
    });
    if (!picked || fileName.isEmpty())
        return false;
    bool saved = false;
    trap(30, [&] { g_ScriptFile = fileName; });
    trap(40, [&] { CreateEmptyFile(g_ScriptFile); });
    trap(50, [&] { saved = mnuSave_Click(); });
    return saved;
}
