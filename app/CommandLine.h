// The configuration file named on the command line.
#pragma once

#include <QString>
#include <QStringList>

// The arguments (after Qt has taken its own) joined by single spaces, with every
// double quote removed; kept only when that names an existing file, else "".
// A relative path is made absolute against the current folder.
// The text is never split: two paths make one path that does not exist.
QString scriptFileFromArguments(const QStringList& arguments);
