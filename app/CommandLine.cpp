#include "app/CommandLine.h"

#include "app/ProgramFiles.h"

#include <QDir>
#include <QFileInfo>

QString scriptFileFromArguments(const QStringList& arguments)
{
    QString text = arguments.join(QLatin1Char(' '));
    if (text.isEmpty())
        return {};
    text.remove(QLatin1Char('"'));
    if (!FileExists(text))
        return {};
    // Stored later as the last file: it must still name the file when the program
    // starts from another folder.
    return QDir::cleanPath(QFileInfo(text).absoluteFilePath());
}
