// Helpers of the configuration-file commands.
#pragma once

#include <QString>

// The file dialogs' filter for configuration files.
QString configFileFilter();

// Creates the file, or empties an existing one; Path/File access error when it cannot.
void CreateEmptyFile(const QString& path);
