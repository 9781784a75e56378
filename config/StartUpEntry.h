// The program's start-up entry as the options dialog keeps it, in the desktop's
// autostart folders (modReg holds the entry files' reading and writing).
#pragma once

#include <QString>

// Kept in the machine-wide folder when that can be written (only root can, as a
// rule), otherwise in the user's own.
struct StartUpEntryResult {
    int error = 0;  // 0, or the error code of the step that failed
    QString file;   // the entry file that step concerned
};
// True when either entry exists with a non-empty Exec.
bool startUpEntryExists(const QString& entryName);
// Writes the entry: machine-wide when possible (and then drops a user entry of the
// same name, which would hide it), else the user's own (its folder created).
StartUpEntryResult writeStartUpEntry(const QString& entryName, const QString& programPath);
// Removes every entry the user may remove; an error when an entry is left behind.
StartUpEntryResult deleteStartUpEntry(const QString& entryName);
