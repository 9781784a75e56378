// Helpers of the configuration-file commands.
#pragma once

#include <QString>

// Creates the file, or empties an existing one; Path/File access error when it cannot.
void CreateEmptyFile(const QString& path);
