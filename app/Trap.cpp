#include "app/Trap.h"

#include "app/ErrorLog.h"

QString Trap::message(int line, int number, const QString& description) const
{
    const QString kind = kind_ == UnitKind::Form ? QStringLiteral("Form") : QStringLiteral("Module");
    // Built by concatenation: a description may itself hold "%1"-like text.
    return QStringLiteral("Error ") + QString::number(number) + QStringLiteral(" (") + description +
           QStringLiteral(") in procedure ") + procedure_ + QStringLiteral(" of ") + kind + QLatin1Char(' ') +
           unit_ + QStringLiteral(" on line ") + QString::number(line);
}

void Trap::report(int line, int number, const QString& description) const
{
    LogError(message(line, number, description));
}
