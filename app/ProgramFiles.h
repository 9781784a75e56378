// Where the program keeps its files (Settings.ini, ErrorLog.txt, Untitled.qlc),
// and the small path helpers other parts share.
#pragma once

#include <QString>

// The directory that holds the executable, without a trailing "/", when it is a
// portable folder the user may write to. Otherwise (the system layout, as the Debian
// package installs it, or a folder the user may not write) $XDG_CONFIG_HOME/QuorlinVCP,
// default ~/.config/QuorlinVCP, created on first use, so every user (root too) keeps
// settings of their own and the installation is never written. Decided once per process.
QString programFilesDir();

// The rule behind programFilesDir(), separated so it can be checked with any inputs.
QString chooseProgramFilesDir(const QString& executableDir, bool executableDirWritable, bool portableLayout,
                              const QString& xdgConfigHome, const QString& home);

// Tests point the program's files at a folder of their own.
void overrideProgramFilesDir(const QString& dir);

// True when the length of the file can be obtained; any failure gives false.
bool FileExists(const QString& path);

// The file name of a path with its extension: everything after the last "\" when the
// path holds one, else after the last "/", else the whole path.
QString GetFileName(const QString& path);
