// The port mapping of a Wine prefix as Wine's own `reg` command reads and writes it.
// Wine keeps a running prefix's registry in memory and writes system.reg over with
// it, so the file is never edited here: the command goes through Wine, which
// starts the prefix when it is not running.
#pragma once

#include "app/platform/WineRegistry.h"

#include <QObject>

class QProcess;

class QtWineRegistry : public WineRegistry {
public:
    // `wine`: the program that runs Windows programs; empty, the installed one.
    explicit QtWineRegistry(QString wine = {});

    // The first of wine and wine64 on the PATH, then Debian's /usr/lib/wine/wine64; "" when none is there.
    static QString installedWine();

    bool isInstalled() override;
    void readPorts(const QString& prefix, QObject* context, ReadDone done) override;
    void setPort(const QString& prefix, const QString& name, const QString& path, QObject* context,
                 WriteDone done) override;
    void removePort(const QString& prefix, const QString& name, QObject* context, WriteDone done) override;
    void removePortsDetached(const QString& prefix, const QStringList& names,
                             const QMap<QString, QString>& linksAfter) override;

    // A command that has not ended by then is stopped and counts as failed.
    static constexpr int commandTimeoutMs = 60000;

private:
    QString wineProgram();
    QProcess* command(const QString& prefix, const QStringList& regArguments);
    // Runs the command; done(true) when it ended with exit code 0, else with what it said.
    void run(QProcess* process, QObject* context, WriteDone done);

    QString wine_;
    bool searched_ = false;
    QObject running_;  // parent of the commands still running
};
