#include "config/StartUpEntry.h"

#include "config/modReg.h"

#include <QDir>
#include <QFile>
#include <cerrno>

bool startUpEntryExists(const QString& entryName)
{
    return !ReadRegValue(userRunKeyPath(), entryName).isEmpty() || !ReadRegValue(runKeyPath(), entryName).isEmpty();
}

StartUpEntryResult writeStartUpEntry(const QString& entryName, const QString& programPath)
{
    const QString machine = runKeyPath();
    const QString user = userRunKeyPath();
    int error = WriteRegValueOfKey(machine, entryName, regType::sz, programPath);
    if (error == 0) {
        if (QFile::exists(regValueFile(user, entryName)) && !QFile::remove(regValueFile(user, entryName)))
            return {EACCES, regValueFile(user, entryName)};
        return {};
    }
    if (error == EINVAL)
        return {error, regValueFile(machine, entryName)};  // no folder can take it
    QDir().mkpath(user);
    error = WriteRegValueOfKey(user, entryName, regType::sz, programPath);
    return {error, error == 0 ? QString() : regValueFile(user, entryName)};
}

StartUpEntryResult deleteStartUpEntry(const QString& entryName)
{
    StartUpEntryResult result;
    for (const QString& file : {regValueFile(userRunKeyPath(), entryName), regValueFile(runKeyPath(), entryName)}) {
        QFile entry(file);
        if (entry.exists() && !entry.remove() && result.error == 0)
            result = {EACCES, file};
    }
    return result;
}
