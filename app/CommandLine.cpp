#include "app/CommandLine.h"

#include "app/ProgramFiles.h"

QString scriptFileFromArguments(const QStringList& arguments)
{
    QString text = arguments.join(QLatin1Char(' '));
    if (text.isEmpty())
        return {};
    text.remove(QLatin1Char('"'));
    return FileExists(text) ? text : QString();
}
