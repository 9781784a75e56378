// A fresh folder per test, with the error log pointed into it and a fixed clock.
#pragma once

#include "support/QtPrinters.h"

#include <QDateTime>
#include <QString>
#include <QTemporaryDir>

class TestFolder {
public:
    TestFolder();
    ~TestFolder();

    QString path(const QString& name) const { return dir_.path() + QLatin1Char('/') + name; }
    QString logFile() const { return path(QStringLiteral("ErrorLog.txt")); }
    // The log's contents, "" when it does not exist.
    QByteArray log() const;
    // The clock that dates log lines: 6 December 2026, 19:15.
    static QDateTime fixedTime();

private:
    QTemporaryDir dir_;
};

QByteArray readFile(const QString& path);
void writeFile(const QString& path, const QByteArray& bytes);
