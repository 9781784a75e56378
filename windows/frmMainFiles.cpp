// Loading and saving configuration files through the File menu.
#include "windows/frmMain.h"

#include "app/ProgramFiles.h"
#include "app/HandlerBoundary.h"
#include "app/Trap.h"
#include "config/ConfigurationFiles.h"
#include "windows/LogSteps.h"

#include <QApplication>
#include <QTimer>
#include <utility>

void frmMain::mnuLoad_Click()
{
    Trap trap(QStringLiteral("mnuLoad_Click"));
    QString initialDir;
    QString fileName;
    trap(10, [&] { initialDir = dialogFolderFor(document_.path()); });
    trap(20, [&] { fileName = chooseConfigurationToLoad(*platform_.dialogs, initialDir, logSteps<DialogStep>()); });
    bool chosen = false;
    trap(30, [&] { chosen = !fileName.isEmpty() && FileExists(fileName); });
    if (!chosen)
        return;
    trap(40, [&] { openConfiguration(fileName); });
}

void frmMain::openConfiguration(const QString& fileName)
{
    const QString previous = document_.path();
    document_.setPath(fileName);
    if (!ProcessScriptLoad())
        document_.setPath(previous);
}

void frmMain::startRequested(const QString& file)
{
    if (m_Closed)
        return;
    if (QWidget* dialog = QApplication::activeModalWidget(); dialog || m_PreparingEditor) {
        if (!m_PendingStart || !file.isEmpty())  // a file asked for is not lost to a later bare start
            m_PendingStart = file;
        if (dialog)
            dialog->installEventFilter(this);  // its hiding resumes the request
        return;
    }
    Trap trap(QStringLiteral("startRequested"));
    trap(10, [&] { DisplayStatus(true); });
    if (file.isEmpty())
        return;
    if (!offerToSave(trap))  // statements 20 to 40
        return;
    trap(50, [&] { openConfiguration(file); });
}

void frmMain::resumeStartRequest()
{
    QTimer::singleShot(0, this, [this] {
        if (!m_PendingStart)
            return;
        const QString file = *std::exchange(m_PendingStart, std::nullopt);
        runHandler(Trap(QStringLiteral("startRequested")), [&] { startRequested(file); });
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
    trap(20, [&] { fileName = chooseConfigurationToSave(*platform_.dialogs, proposed, logSteps<DialogStep>()); });
    if (fileName.isEmpty())
        return false;
    bool saved = false;
    trap(30, [&] { document_.setPath(fileName); });
    trap(40, [&] { document_.createIfMissing(); });
    trap(50, [&] { saved = mnuSave_Click(); });
    return saved;
}
