// Each running port COM<N> also appears to Windows programs under Wine as COM<N>.
// While emulation runs, every port in the port directory gets, in the Wine prefix
// ($WINEPREFIX, else ~/.wine, once Wine has made it):
//  - the mapping HKLM\Software\Wine\Ports COM<N> = the port's path, from which Wine,
//    each time the prefix starts, makes the dosdevices link and lists the port in
//    HKLM\HARDWARE\DEVICEMAP\SERIALCOMM;
//  - the link dosdevices/com<N> at once, for programs of a prefix already running,
//    which reads the mapping only at its next start.
// When emulation stops or the port goes, both go: the mapping first, then the link,
// since Wine starting the prefix for the command that removes the mapping would
// make the link again from it. Each command starts an idle prefix (seconds of
// work), so the mapping is read once per prefix and a command runs only for a
// change. A prefix made while emulation runs (Wine used for the first time) is
// noticed by watching for it, and mapped. A mapping or a dosdevices entry
// under the port's name that is not the port's (another path, a file) is never
// touched: the port is left out and this is logged once. WineComPorts=0 in the
// settings file turns all of it off; a missing Wine turns it off too (logged once).
#pragma once

#include "app/ProgramState.h"
#include "app/platform/WineRegistry.h"

#include <QFileSystemWatcher>
#include <QList>
#include <QObject>
#include <QSet>
#include <QString>
#include <QStringList>
#include <optional>

class WinePorts : public QObject {
    Q_OBJECT
public:
    // The state gives the settings file that may keep the ports out of Wine.
    WinePorts(WineRegistry& registry, const ProgramState& state, QObject* parent = nullptr);
    // The program ends: the links go now, the mappings through commands that outlive it.
    ~WinePorts() override;

    // Emulation started or stopped (the emulation switch's announcement).
    void setRunning(bool running);

signals:
    // A round of changes ended with none waiting (for tests).
    void settled();

private:
    struct Step {
        QString name;  // COM<N>
        QString path;  // empty for a removal
    };

    void request();
    void startRound();
    // The prefix is watched for while emulation runs: its folder appearing in its
    // parent, then its registry in it.
    void watchForPrefix();
    void prefixFolderChanged();
    // The links of the ports the round does not want go after the mappings did.
    void removeUnwantedLinks();
    void apply(const QList<int>& wanted, const WineRegistry::Values& values);
    void runSteps(QList<Step> steps);
    void finishRound();
    void watchPortDirectory();
    // Logs the message the first time something goes wrong in the way `key` names.
    void logOnce(const QString& key, const QString& message);
    QList<int> wantedPorts() const;

    WineRegistry& registry_;
    const ProgramState& state_;
    QFileSystemWatcher watcher_;
    QFileSystemWatcher prefixWatcher_;
    bool prefixSeen_ = false;  // the prefix existed at the last look
    bool running_ = false;
    bool busy_ = false;
    bool again_ = false;
    QList<int> lastWanted_;
    QList<int> roundWanted_;  // the ports the running round maps
    QString prefix_;        // the prefix of the last round that touched one
    QSet<QString> mapped_;  // mappings of ours in it, as far as known (added or being added)
    // Its mapping as last read, with this program's changes since; none until read,
    // and again after a command failed.
    std::optional<WineRegistry::Values> known_;
    QSet<QString> logged_;
};
