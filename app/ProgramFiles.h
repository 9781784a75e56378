// Where the program keeps its files (Settings.ini, ErrorLog.txt, Untitled.qlc),
// and the small path helpers other parts share.
#pragma once

#include <QString>

// The directory that holds the executable, without a trailing "/", when the user
// may write there (a portable install). Otherwise (an install under /usr or /opt)
// $XDG_CONFIG_HOME/QuorlinVCP, default ~/.config/QuorlinVCP, created on first use,
// so the user's settings are still kept. Decided once per process.
QString programFilesDir();

// The rule behind programFilesDir(), separated so it can be checked with any inputs.
QString chooseProgramFilesDir(const QString& executableDir, bool executableDirWritable,
                              const QString& xdgConfigHome, const QString& home);

// Tests point the program's files at a folder of their own.
void overrideProgramFilesDir(const QString& dir);

// The directory of the running executable, from /proc/self/exe.
QString executableDir();

// True when the length of the file can be obtained; any failure gives false.
bool FileExists(const QString& path);

// The file name of a path with its extension: everything after the last "\" when the
// path holds one, else after the last "/", else the whole path.
QString GetFileName(const QString& path);
