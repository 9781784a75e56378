#include "devices/WinePorts.h"

#include "app/ErrorLog.h"
#include "app/Settings.h"
#include "devices/WineDosDevices.h"

#include "vspdevices_ports.h"

#include <QFile>
#include <QFileInfo>

namespace {

QString portDirectory()
{
    return QFile::decodeName(QByteArray::fromStdString(vspdevices::portDirectory()));
}

QString portPath(int com)
{
    return QFile::decodeName(QByteArray::fromStdString(vspdevices::portLinkPath(com)));
}

QString portName(int com)
{
    return QString::fromStdString(vspdevices::portLinkName(com));
}

// The port number of a mapping's name ("COM7"), 0 for any other name.
int comOf(const QString& name)
{
    return vspdevices::portLinkNumber(name.toStdString(), winedos::maxCom).value_or(0);
}

bool enabled(const ProgramState& state)
{
    return ReadSetting(state, settingsKey::WineComPorts).trimmed() != QLatin1String("0");
}

}  // namespace

WinePorts::WinePorts(WineRegistry& registry, const ProgramState& state, QObject* parent)
    : QObject(parent), registry_(registry), state_(state)
{
    // The library adds and removes a port's link as the port comes and goes.
    connect(&watcher_, &QFileSystemWatcher::directoryChanged, this, [this] {
        if (running_ && wantedPorts() != lastWanted_)
            request();
    });
    connect(&prefixWatcher_, &QFileSystemWatcher::directoryChanged, this, &WinePorts::prefixFolderChanged);
}

WinePorts::~WinePorts()
{
    if (prefix_.isEmpty())
        return;
    for (int com = 1; com <= winedos::maxCom; ++com)
        winedos::removeLink(prefix_, com, portPath(com));
    if (mapped_.isEmpty())
        return;
    QMap<QString, QString> links;
    for (const QString& name : std::as_const(mapped_))
        if (const int com = comOf(name))
            links.insert(winedos::linkPath(prefix_, com), portPath(com));
    registry_.removePortsDetached(prefix_, mapped_.values(), links);
}

void WinePorts::setRunning(bool running)
{
    running_ = running;
    watchPortDirectory();
    prefixSeen_ = winedos::prefixExists(winedos::prefixLocation());
    watchForPrefix();
    request();
}

void WinePorts::watchForPrefix()
{
    QStringList paths;
    if (running_) {
        const QString prefix = winedos::prefixLocation();
        const QFileInfo folder(prefix);
        if (QFileInfo(folder.absolutePath()).isDir())
            paths << folder.absolutePath();
        if (folder.isDir() && !prefixSeen_)
            paths << prefix;
    }
    if (paths == prefixWatcher_.directories())
        return;
    if (!prefixWatcher_.directories().isEmpty())
        prefixWatcher_.removePaths(prefixWatcher_.directories());
    if (!paths.isEmpty())
        prefixWatcher_.addPaths(paths);
}

void WinePorts::prefixFolderChanged()
{
    const bool exists = winedos::prefixExists(winedos::prefixLocation());
    const bool made = exists && !prefixSeen_;
    prefixSeen_ = exists;
    watchForPrefix();
    if (!made || !running_)
        return;
    // A new prefix (perhaps in the place of one removed): nothing of it is known.
    mapped_.clear();
    known_.reset();
    request();
}

void WinePorts::watchPortDirectory()
{
    if (!watcher_.directories().isEmpty())
        watcher_.removePaths(watcher_.directories());
    if (running_)
        watcher_.addPath(portDirectory());
}

QList<int> WinePorts::wantedPorts() const
{
    return running_ ? winedos::portsIn(portDirectory()) : QList<int>();
}

void WinePorts::request()
{
    if (busy_) {
        again_ = true;
        return;
    }
    startRound();
}

void WinePorts::startRound()
{
    again_ = false;
    const QList<int> wanted = wantedPorts();
    lastWanted_ = wanted;
    const QString prefix = winedos::prefixLocation();
    if (!enabled(state_) || !winedos::prefixExists(prefix)) {
        finishRound();
        return;
    }
    if (!registry_.isInstalled()) {
        logOnce(QStringLiteral("no wine"), QStringLiteral("Wine: no wine program found, so Windows programs in ") +
                                               prefix + QStringLiteral(" do not see the COM ports"));
        finishRound();
        return;
    }
    if (prefix != prefix_) {
        mapped_.clear();
        known_.reset();
    }
    prefix_ = prefix;
    roundWanted_ = wanted;
    // With no port running and no mapping of ours known, the registry has nothing to
    // give back; one an earlier run left behind goes at the next start.
    if (wanted.isEmpty() && mapped_.isEmpty()) {
        removeUnwantedLinks();
        finishRound();
        return;
    }
    busy_ = true;
    if (known_) {
        apply(wanted, *known_);
        return;
    }
    registry_.readPorts(prefix_, this, [this, wanted](std::optional<WineRegistry::Values> values, const QString& error) {
        if (!values) {
            logOnce(QStringLiteral("read"), QStringLiteral("Wine: the port mapping of ") + prefix_ +
                                                QStringLiteral(" could not be read: ") + error);
            removeUnwantedLinks();
            finishRound();
            return;
        }
        known_ = *values;
        apply(wanted, *values);
    });
}

void WinePorts::removeUnwantedLinks()
{
    for (int com = 1; com <= winedos::maxCom; ++com)
        if (!roundWanted_.contains(com))
            winedos::removeLink(prefix_, com, portPath(com));
}

void WinePorts::apply(const QList<int>& wanted, const WineRegistry::Values& values)
{
    QList<Step> steps;
    for (int com : wanted) {
        const QString name = portName(com);
        const QString path = portPath(com);
        const auto mapping = values.constFind(name);
        if (mapping != values.constEnd() && *mapping != path) {
            logOnce(name + QStringLiteral(" mapping"), QStringLiteral("Wine: ") + name + QStringLiteral(" of ") + prefix_ +
                                                           QStringLiteral(" is mapped to ") + *mapping +
                                                           QStringLiteral(", not to this program's port; left as it is"));
            continue;
        }
        const winedos::Entry entry = winedos::entry(prefix_, com, path);
        if (entry == winedos::Entry::Foreign) {
            logOnce(name + QStringLiteral(" link"), QStringLiteral("Wine: ") + winedos::linkPath(prefix_, com) +
                                                        QStringLiteral(" is not a link to this program's port ") + path +
                                                        QStringLiteral("; left as it is"));
            continue;
        }
        if (entry == winedos::Entry::Absent && !winedos::makeLink(prefix_, com, path))
            logOnce(name + QStringLiteral(" link"),
                    QStringLiteral("Wine: the link ") + winedos::linkPath(prefix_, com) + QStringLiteral(" could not be made"));
        if (mapping == values.constEnd())
            steps.append({name, path});
        mapped_.insert(name);
    }
    for (auto value = values.constBegin(); value != values.constEnd(); ++value) {
        const int com = comOf(value.key());
        if (com && !wanted.contains(com) && value.value() == portPath(com))
            steps.append({value.key(), {}});
    }
    runSteps(steps);
}

void WinePorts::runSteps(QList<Step> steps)
{
    if (steps.isEmpty()) {
        removeUnwantedLinks();
        finishRound();
        return;
    }
    const Step step = steps.takeFirst();
    auto next = [this, step, steps](bool ok, const QString& error) {
        const bool adding = !step.path.isEmpty();
        if (ok != adding)  // an addition failed or a removal succeeded
            mapped_.remove(step.name);
        if (!ok)
            known_.reset();  // read again next time
        else if (known_ && adding)
            known_->insert(step.name, step.path);
        else if (known_)
            known_->remove(step.name);
        if (!ok)
            logOnce(step.name + (adding ? QStringLiteral(" add") : QStringLiteral(" remove")),
                    QStringLiteral("Wine: ") + step.name + QStringLiteral(" of ") + prefix_ +
                        (adding ? QStringLiteral(" could not be mapped: ") : QStringLiteral(" could not be unmapped: ")) +
                        error);
        runSteps(steps);
    };
    if (step.path.isEmpty())
        registry_.removePort(prefix_, step.name, this, next);
    else
        registry_.setPort(prefix_, step.name, step.path, this, next);
}

void WinePorts::finishRound()
{
    busy_ = false;
    if (again_)
        startRound();
    else
        emit settled();
}

void WinePorts::logOnce(const QString& key, const QString& message)
{
    if (logged_.contains(key))
        return;
    logged_.insert(key);
    LogError(message);
}
