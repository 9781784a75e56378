// A Wine prefix and a port folder of a test's own, named by the environment as the
// program reads it, and a scripted registry for the prefix.
#pragma once

#include "app/platform/WineRegistry.h"
#include "support/TestFolder.h"

#include <QDir>
#include <QFile>
#include <QRegularExpression>
#include <QTimer>

// Answers each call a turn of the event loop later, as Wine's commands do.
class ScriptedWineRegistry : public WineRegistry {
public:
    bool isInstalled() override { return installed; }
    void readPorts(const QString& prefix, QObject* context, ReadDone done) override
    {
        calls << "read " + prefix;
        later(context, [this, done] {
            if (readable)
                done(values, {});
            else
                done(std::nullopt, "wine crashed");
        });
    }
    void setPort(const QString&, const QString& name, const QString& path, QObject* context, WriteDone done) override
    {
        calls << "set " + name;
        later(context, [this, name, path, done] {
            values[name] = path;
            done(true, {});
        });
    }
    void removePort(const QString&, const QString& name, QObject* context, WriteDone done) override
    {
        calls << "remove " + name;
        later(context, [this, name, done] {
            values.remove(name);
            done(true, {});
        });
    }
    void removePortsDetached(const QString&, const QStringList& names) override
    {
        QStringList sorted = names;
        sorted.sort();
        calls << "detached " + sorted.join(',');
    }

    QStringList writes() const { return calls.filter(QRegularExpression("^(set|remove|detached) ")); }

    bool installed = true;
    bool readable = true;
    Values values;
    QStringList calls;

private:
    static void later(QObject* context, std::function<void()> answer) { QTimer::singleShot(0, context, answer); }
};

class WineScene {
public:
    explicit WineScene(const TestFolder& folder)
        : prefix_(folder.path("prefix")), portDir_(folder.path("ports")),
          savedPrefix_(qgetenv("WINEPREFIX")), savedPorts_(qgetenv("VSP_PORT_DIR"))
    {
        QDir().mkpath(prefix_ + "/dosdevices");
        QDir().mkpath(portDir_);
        writeFile(prefix_ + "/system.reg", "WINE REGISTRY Version 2\n");
        qputenv("WINEPREFIX", QFile::encodeName(prefix_));
        qputenv("VSP_PORT_DIR", QFile::encodeName(portDir_));
    }
    ~WineScene()
    {
        qputenv("WINEPREFIX", savedPrefix_);
        qputenv("VSP_PORT_DIR", savedPorts_);
    }

    QString prefix() const { return prefix_; }
    QString portPath(int com) const { return portDir_ + "/COM" + QString::number(com); }
    QString dosLink(int com) const { return prefix_ + "/dosdevices/com" + QString::number(com); }
    // A port as the library shows it running: its link in the port folder.
    void runPort(int com) const { QFile::link("/dev/null", portPath(com)); }
    void endPort(int com) const { QFile::remove(portPath(com)); }

private:
    QString prefix_;
    QString portDir_;
    QByteArray savedPrefix_;
    QByteArray savedPorts_;
};

// The lines about Wine in the test's error log.
inline QStringList wineLogLines(const TestFolder& folder)
{
    return QString::fromUtf8(folder.log()).split("\r\n").filter(" Wine: ");
}
