// The error log ErrorLog.txt: a heading when the file is empty, then one dated line
// per trapped failure, each line ending with CR LF. The file is opened and closed
// for every line and never truncated or read back for anything but its length.
#pragma once

#include <QDateTime>
#include <QString>
#include <functional>

namespace errorlog {

using Clock = std::function<QDateTime()>;

// Where lines go: the log file's path (default: programFilesDir() + "/ErrorLog.txt")
// and the clock that dates them (default: the local time). Tests set both.
void setLogFile(const QString& path);
void setClock(Clock clock);
void resetToDefaults();
QString logFile();

// "QuorlinVCP v2.0.0 Error Log"
QString heading();
// "M/DD/YYYY HH:NN"
QString formatTimestamp(const QDateTime& when);

}  // namespace errorlog

// Appends one line: date and time, a space and the message. When the log cannot be
// written the line goes to standard error instead, so the caller's trap goes on.
void LogError(const QString& message);
