#include "app/platform/QtWineRegistry.h"

#include "app/platform/RegExport.h"

#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <QStandardPaths>
#include <QTemporaryFile>
#include <QTimer>
#include <memory>

namespace {

const QString portsKey = QStringLiteral("HKLM\\Software\\Wine\\Ports");
constexpr qsizetype maxMessage = 2048;

// A Unix path as a Windows program under Wine opens it, whatever drives the prefix maps.
QString windowsPathOf(const QString& unixPath)
{
    return QStringLiteral("\\\\?\\unix") + QString(unixPath).replace(u'/', u'\\');
}

}  // namespace

QtWineRegistry::QtWineRegistry(QString wine) : wine_(std::move(wine)), searched_(!wine_.isEmpty()) {}

QString QtWineRegistry::installedWine()
{
    for (const char* name : {"wine", "wine64"})
        if (QString found = QStandardPaths::findExecutable(QString::fromLatin1(name)); !found.isEmpty())
            return found;
    const QFileInfo debian(QStringLiteral("/usr/lib/wine/wine64"));  // not on the PATH without the wine package
    return debian.isExecutable() ? debian.filePath() : QString();
}

QString QtWineRegistry::wineProgram()
{
    if (!searched_) {
        searched_ = true;
        wine_ = installedWine();
    }
    return wine_;
}

bool QtWineRegistry::isInstalled()
{
    return QFileInfo(wineProgram()).isExecutable();
}

QProcess* QtWineRegistry::command(const QString& prefix, const QStringList& regArguments)
{
    auto* process = new QProcess(&running_);
    QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
    environment.insert(QStringLiteral("WINEPREFIX"), prefix);
    process->setProcessEnvironment(environment);
    process->setProgram(wineProgram());
    process->setArguments(QStringList{QStringLiteral("reg")} + regArguments);
    process->setStandardInputFile(QProcess::nullDevice());
    process->setStandardOutputFile(QProcess::nullDevice());
    return process;
}

void QtWineRegistry::run(QProcess* process, QObject* context, WriteDone done)
{
    // What the command says on its error output, its last part only: Wine can be chatty.
    auto said = std::make_shared<QString>();
    QObject::connect(process, &QProcess::readyReadStandardError, process, [process, said] {
        *said += QString::fromLocal8Bit(process->readAllStandardError());
        if (said->size() > maxMessage)
            *said = said->right(maxMessage);
    });
    QObject::connect(process, &QProcess::finished, context, [process, said, done](int code, QProcess::ExitStatus status) {
        if (status == QProcess::NormalExit && code == 0)
            done(true, {});
        else
            done(false, status == QProcess::NormalExit ? said->trimmed() : QStringLiteral("wine did not finish"));
    });
    QObject::connect(process, &QProcess::errorOccurred, context, [process, done](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            done(false, process->program() + QStringLiteral(" could not be started"));
    });
    QObject::connect(process, &QProcess::finished, process, &QObject::deleteLater);
    QObject::connect(process, &QProcess::errorOccurred, process, [process](QProcess::ProcessError error) {
        if (error == QProcess::FailedToStart)
            process->deleteLater();
    });
    QTimer::singleShot(commandTimeoutMs, process, [process] { process->kill(); });
    process->start();
}

void QtWineRegistry::readPorts(const QString& prefix, QObject* context, ReadDone done)
{
    auto file = std::make_shared<QTemporaryFile>(QDir::tempPath() + QStringLiteral("/quorlinvcp-wine-XXXXXX.reg"));
    if (!file->open()) {
        QTimer::singleShot(0, context, [done] { done(std::nullopt, QStringLiteral("no temporary file")); });
        return;
    }
    file->close();
    QProcess* process = command(prefix, {QStringLiteral("export"), portsKey, windowsPathOf(file->fileName()),
                                         QStringLiteral("/y")});
    run(process, context, [file, done](bool ok, const QString& error) {
        if (!ok) {
            done(std::nullopt, error);
            return;
        }
        if (!file->open() || file->size() > regexport::maxFileSize) {
            done(std::nullopt, QStringLiteral("the exported key could not be read"));
            return;
        }
        done(regexport::valuesOfFirstKey(file->readAll()), {});
    });
}

void QtWineRegistry::setPort(const QString& prefix, const QString& name, const QString& path, QObject* context,
                             WriteDone done)
{
    run(command(prefix, {QStringLiteral("add"), portsKey, QStringLiteral("/v"), name, QStringLiteral("/t"),
                         QStringLiteral("REG_SZ"), QStringLiteral("/d"), path, QStringLiteral("/f")}),
        context, std::move(done));
}

void QtWineRegistry::removePort(const QString& prefix, const QString& name, QObject* context, WriteDone done)
{
    run(command(prefix, {QStringLiteral("delete"), portsKey, QStringLiteral("/v"), name, QStringLiteral("/f")}),
        context, std::move(done));
}

void QtWineRegistry::removePortsDetached(const QString& prefix, const QStringList& names,
                                         const QMap<QString, QString>& linksAfter)
{
    // A command still running (a mapping being added) ends first, so it cannot land
    // after the removal.
    for (QProcess* process : running_.findChildren<QProcess*>()) {
        process->disconnect();
        process->kill();
        process->waitForFinished(3000);
        delete process;
    }
    if (names.isEmpty())
        return;
    // One shell runs the commands one after the other (Wine starts the prefix once),
    // then removes the links; everything reaches it as arguments, never as script.
    static const QString script = QStringLiteral(
        "wine=$1; key=$2; count=$3; shift 3\n"
        "while [ \"$count\" -gt 0 ]; do \"$wine\" reg delete \"$key\" /v \"$1\" /f; shift; count=$((count - 1)); done\n"
        "while [ $# -ge 2 ]; do [ \"$(readlink -- \"$1\")\" = \"$2\" ] && rm -f -- \"$1\"; shift 2; done\n");
    QStringList arguments{QStringLiteral("-c"), script, QStringLiteral("sh"), wineProgram(), portsKey,
                          QString::number(names.size())};
    arguments += names;
    for (auto link = linksAfter.cbegin(); link != linksAfter.cend(); ++link)
        arguments << link.key() << link.value();
    std::unique_ptr<QProcess> process(command(prefix, {}));
    process->setProgram(QStringLiteral("/bin/sh"));
    process->setArguments(arguments);
    process->startDetached();
}
