// Where the program's companions lie, in the window's terms: the rule the runner and
// the launcher follow as well (vspdevices/include/vspdevices_install.h). A portable
// folder (and the build tree) keeps them all beside the program; the system layout
// keeps the commands in bin/, the libraries in lib/quorlinvcp/ and the manual in
// share/doc/quorlinvcp/. Which one a program is in shows by where its device
// library lies.
#pragma once

#include <QString>
#include <functional>

struct InstallLayout {
    bool portable = true;  // a portable folder keeps the user's files beside the program
    QString libraryDir;    // the device library's folder
    QString manualDir;     // the manual's folder
};

// The layout of a program in programDir: the system layout when the device library
// is not beside the program but in the system layout's library folder; otherwise a
// portable folder. fileExists answers for a path.
InstallLayout installLayoutOf(const QString& programDir, const std::function<bool(const QString&)>& fileExists);

// The running executable and its directory, from /proc/self/exe.
QString executablePath();
QString executableDir();

// The running program's layout, decided once.
const InstallLayout& installLayout();
