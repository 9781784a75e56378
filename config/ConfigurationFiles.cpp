#include "config/ConfigurationFiles.h"

#include "app/ProgramFiles.h"
#include "app/RuntimeError.h"
#include "config/modDLG.h"

#include <QFile>

#include <cerrno>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

QString configFileFilter()
{
    return QStringLiteral("QuorlinVCP Config File (*.qlc)|*.qlc|All files (*.*)|*.*");
}

QString dialogFolderFor(const QString& path)
{
    return path.isEmpty() ? programFilesDir() : path.left(path.lastIndexOf(QLatin1Char('/')) + 1);
}

QString chooseConfigurationToLoad(FileDialogs& dialogs, const QString& initialDir, const StepSink<DialogStep>& failed)
{
    OpenDialogRequest request;
    request.filter = configFileFilter();
    request.initialDir = initialDir;
    request.title = QStringLiteral("Load Configuration File");
    request.fileMustExist = true;
    // Only a path the user chose counts: a failed dialog yields none.
    return OpenDialog(dialogs, request, failed).fileName;
}

QString chooseConfigurationToSave(FileDialogs& dialogs, const QString& proposedPath, const StepSink<DialogStep>& failed)
{
    SaveDialogRequest request;
    request.fileName = proposedPath;
    request.filter = configFileFilter();
    request.initialDir = programFilesDir();
    request.title = QStringLiteral("Save Configuration File");
    request.defaultExt = QStringLiteral("qlc");
    request.overwritePrompt = true;
    // Only a path the user chose counts: taking the proposed name back from a dialog
    // that failed would open the dialog again and again.
    return SaveDialog(dialogs, request, failed).fileName;
}

void CreateFileIfMissing(const QString& path)
{
    // Never truncated: a save that fails later (a full disk) must find the old content.
    const QByteArray name = QFile::encodeName(path);
    const int fd = ::open(name.constData(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC | O_NONBLOCK, 0666);
    if (fd >= 0) {
        ::close(fd);
        return;
    }
    // An existing file must be one the user may write, as opening it for writing required.
    struct stat st {};
    if (errno != EEXIST || ::stat(name.constData(), &st) != 0 || !S_ISREG(st.st_mode) || ::access(name.constData(), W_OK) != 0)
        throw RuntimeError(ErrorCode::PathFileAccess);
}
