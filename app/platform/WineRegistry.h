// The port mapping in a Wine prefix's registry (HKLM\Software\Wine\Ports: value COM<N>
// = the Unix path of port N), which Wine reads when the prefix starts to make its
// dosdevices links and list the ports for Windows programs. The registry belongs to
// another program, so it is reached through this interface: the program runs Wine's
// own commands, tests script it. Every call answers once, later, on the caller's
// thread, and only while `context` lives; none blocks.
#pragma once

#include <QMap>
#include <QString>
#include <QStringList>
#include <functional>
#include <optional>

class QObject;

class WineRegistry {
public:
    // Value names upper-cased ("COM5") to their data: the text of a string value, or,
    // for any other kind of value, its data as a .reg file writes it ("hex(2):2f,00").
    using Values = QMap<QString, QString>;
    using ReadDone = std::function<void(std::optional<Values> values, const QString& error)>;
    using WriteDone = std::function<void(bool ok, const QString& error)>;

    virtual ~WineRegistry() = default;

    // False when no Wine is installed to run the commands.
    virtual bool isInstalled() = 0;
    // Every value of the key; none, with the reason, when it cannot be read.
    virtual void readPorts(const QString& prefix, QObject* context, ReadDone done) = 0;
    virtual void setPort(const QString& prefix, const QString& name, const QString& path, QObject* context,
                         WriteDone done) = 0;
    virtual void removePort(const QString& prefix, const QString& name, QObject* context, WriteDone done) = 0;
    // For the program's end: stops what is still running and removes the values by
    // commands that go on after the program has ended, then each link of
    // linksAfter (its path to its target) that still points there: Wine starting the
    // prefix for those commands makes the links of the values it still finds.
    // Nothing answers.
    virtual void removePortsDetached(const QString& prefix, const QStringList& names,
                                     const QMap<QString, QString>& linksAfter) = 0;
};
