// Helpers of the configuration-file commands.
#pragma once

#include "config/modDLG.h"

#include <QString>

// The file dialogs' filter for configuration files.
QString configFileFilter();

// The folder to start a file dialog in for the current path: the path up to and
// including its last "/", or the program's folder when the path is empty.
QString dialogFolderFor(const QString& path);

// The open dialog as the Load command shows it; the chosen path, or "" when the
// user cancelled or the dialog failed (its failed step goes to the sink).
QString chooseConfigurationToLoad(FileDialogs& dialogs, const QString& initialDir, const StepSink<DialogStep>& failed);
// The save dialog as the Save As command shows it, in the program's folder with the
// proposed path filled in, asking before it overwrites; the chosen path, or "" when
// the user cancelled or the dialog failed.
QString chooseConfigurationToSave(FileDialogs& dialogs, const QString& proposedPath, const StepSink<DialogStep>& failed);

// Creates an empty file where there is none; an existing one is left as it is.
// Path/File access error when it cannot, or when what exists is not a regular file
// the user may write.
void CreateFileIfMissing(const QString& path);
