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
        later(context, [this, prefix, done] {
            startPrefix(prefix);
            if (readable)
                done(values, {});
            else
                done(std::nullopt, "wine crashed");
        });
    }
    void setPort(const QString& prefix, const QString& name, const QString& path, QObject* context, WriteDone done) override
    {
        calls << "set " + name;
        later(context, [this, prefix, name, path, done] {
            startPrefix(prefix);
            values[name] = path;
            done(true, {});
        });
    }
    void removePort(const QString& prefix, const QString& name, QObject* context, WriteDone done) override
    {
        calls << "remove " + name;
        later(context, [this, prefix, name, done] {
            startPrefix(prefix);
            values.remove(name);
            done(true, {});
        });
    }
    void removePortsDetached(const QString&, const QStringList& names, const QMap<QString, QString>& links) override
    {
        QStringList sorted = names;
        sorted.sort();
        calls << "detached " + sorted.join(',');
        linksAfter = links;
    }

    QStringList writes() const { return calls.filter(QRegularExpression("^(set|remove|detached) ")); }

    bool installed = true;
    bool readable = true;
    // Like Wine starting an idle prefix for each command: it makes the dosdevices
    // link com<N> of every mapping COM<N> first.
    bool startsPrefix = false;
    Values values;
    QStringList calls;
    QMap<QString, QString> linksAfter;  // what the last detached removal takes after the values

private:
    void startPrefix(const QString& prefix) const
    {
        static const QRegularExpression portName("^COM([0-9]+)$");
        for (auto value = values.constBegin(); startsPrefix && value != values.constEnd(); ++value)
            if (const auto match = portName.match(value.key()); match.hasMatch())
                QFile::link(value.value(), prefix + "/dosdevices/com" + match.captured(1));
    }
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
