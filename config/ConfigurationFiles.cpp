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

QString chooseConfigurationToSave(FileDialogs& dialogs, const QString& proposedPath)
{
    QString fileName = proposedPath;
    QString fileTitle;
    QString filter = configFileFilter();
    std::int32_t filterIndex = 1;
    std::int32_t flags = dlgFlag::explorer | dlgFlag::overwritePrompt | dlgFlag::hideReadOnly;
    // Only a path the user chose counts: a dialog that failed leaves the proposed
    // name behind, and taking that would open the dialog again and again.
    const bool picked = SaveDialog(dialogs, fileName, fileTitle, true, filter, filterIndex, programFilesDir(),
                                   QStringLiteral("Save Configuration File"), QStringLiteral("qlc"), -1, flags);
    return picked ? fileName : QString();
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
