// The running ports in a real Wine prefix of this test's own (never the user's
// ~/.wine), made once for the suite: wineboot takes some seconds, so the cases are few.
// Wine runs headless, quiet, and without its Mono and Gecko installers.
#include "app/Settings.h"
#include "app/platform/QtWineRegistry.h"
#include "devices/WinePorts.h"
#include "support/SignalCounter.h"
#include "support/TestFolder.h"
#include "support/WaitFor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QTemporaryDir>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <stdlib.h>
#include <unistd.h>

namespace {

class WinePortsInWine : public ::testing::Test {
protected:
    static void SetUpTestSuite()
    {
        wine = QtWineRegistry::installedWine();
        if (wine.isEmpty())
            return;
        server = QFileInfo(QFileInfo(wine).absolutePath() + "/wineserver").isExecutable()
                     ? QFileInfo(wine).absolutePath() + "/wineserver"
                     : QStandardPaths::findExecutable("wineserver");
        home = std::make_unique<QTemporaryDir>();
        for (const char* name : {"WINEPREFIX", "WINEDEBUG", "WINEDLLOVERRIDES"})
            saved.append({name, qgetenv(name)});
        qputenv("WINEPREFIX", QFile::encodeName(prefix()));
        qputenv("WINEDEBUG", "-all");
        qputenv("WINEDLLOVERRIDES", "mscoree,mshtml,winemenubuilder.exe=");
        const auto [code, output] = runWine({"wineboot", "-i"}, 120000);
        run(server, {"-w"});  // the registry files are written when the prefix ends
        if (code != 0 || !QFileInfo(prefix() + "/system.reg").isFile())
            bootFailure = "wineboot failed: " + output;
    }
    static void TearDownTestSuite()
    {
        if (home) {
            run(server, {"-k"}, 30000);
            home.reset();
        }
        for (const auto& [name, value] : saved)
            value.isNull() ? qunsetenv(name) : qputenv(name, value);
        saved.clear();
    }

    void SetUp() override
    {
        if (wine.isEmpty())
            GTEST_SKIP() << "wine64 is not installed (scripts/setup installs it)";
        ASSERT_TRUE(bootFailure.isEmpty()) << bootFailure.toStdString();
        savedPorts = qgetenv("VSP_PORT_DIR");
        QDir().mkpath(folder.path("ports"));
        qputenv("VSP_PORT_DIR", QFile::encodeName(folder.path("ports")));
        state.settingsFile = folder.path("Settings.ini");
    }
    void TearDown() override
    {
        qputenv("VSP_PORT_DIR", savedPorts);
        if (terminal >= 0)
            ::close(terminal);
        if (terminalPeer >= 0)
            ::close(terminalPeer);
    }

    static QString prefix() { return home->path() + "/prefix"; }
    QString portPath(int com) const { return folder.path("ports") + "/COM" + QString::number(com); }

    // Exit code and output (both channels) of a program; -1 when it did not end in time.
    static std::pair<int, QString> run(const QString& program, const QStringList& arguments, int timeoutMs = 60000)
    {
        QProcess process;
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.remove("DISPLAY");
        environment.remove("WAYLAND_DISPLAY");
        process.setProcessEnvironment(environment);
        process.setProcessChannelMode(QProcess::MergedChannels);
        process.setStandardInputFile(QProcess::nullDevice());
        process.start(program, arguments);
        if (!process.waitForFinished(timeoutMs)) {
            process.kill();
            process.waitForFinished();
            return {-1, QString::fromLocal8Bit(process.readAll())};
        }
        return {process.exitCode(), QString::fromLocal8Bit(process.readAll())};
    }
    static std::pair<int, QString> runWine(const QStringList& arguments, int timeoutMs = 60000)
    {
        return run(wine, arguments, timeoutMs);
    }
    static QString portsKey() { return runWine({"reg", "query", "HKLM\\Software\\Wine\\Ports"}).second; }

    // A pseudo-terminal as the library makes one for a port: its link in the port folder.
    void runPortOnTerminal(int com)
    {
        terminal = ::posix_openpt(O_RDWR | O_NOCTTY);
        ASSERT_GE(terminal, 0);
        ASSERT_EQ(::grantpt(terminal), 0);
        ASSERT_EQ(::unlockpt(terminal), 0);
        const QString peer = QString::fromLocal8Bit(::ptsname(terminal));
        terminalPeer = ::open(peer.toLocal8Bit().constData(), O_RDWR | O_NOCTTY);  // no hang-up between programs
        ASSERT_TRUE(QFile::link(peer, portPath(com)));
    }
    // What reaches the terminal within the time.
    QByteArray readTerminal(const QByteArray& until, int timeoutMs = 10000) const
    {
        QByteArray data;
        pollfd ready{terminal, POLLIN, 0};
        while (!data.contains(until) && ::poll(&ready, 1, timeoutMs) > 0) {
            char buffer[256];
            const ssize_t got = ::read(terminal, buffer, sizeof buffer);
            if (got <= 0)
                break;
            data.append(buffer, got);
        }
        return data;
    }
    void switchEmulation(WinePorts& ports, bool running)
    {
        SignalCounter settled(&ports, &WinePorts::settled);
        ports.setRunning(running);
        ASSERT_TRUE(settled.count() > 0 || settled.wait(90000)) << "Wine did not answer";
    }

    static inline QString wine;
    static inline QString server;
    static inline QString bootFailure;
    static inline std::unique_ptr<QTemporaryDir> home;
    static inline QList<std::pair<const char*, QByteArray>> saved;
    TestFolder folder;
    ProgramState state;
    QByteArray savedPorts;
    int terminal = -1;
    int terminalPeer = -1;
};

TEST_F(WinePortsInWine, AWindowsProgramUsesThePortAsComNAndWineListsItTillEmulationStops)
{
    runPortOnTerminal(7);
    // A mapping of the user's under the name of another running port.
    ASSERT_EQ(runWine({"reg", "add", "HKLM\\Software\\Wine\\Ports", "/v", "COM8", "/d", "/dev/ttyUSB9", "/f"}).first, 0);
    ASSERT_TRUE(QFile::link("/dev/null", portPath(8)));

    QtWineRegistry registry;
    auto ports = std::make_unique<WinePorts>(registry, state);
    switchEmulation(*ports, true);
    EXPECT_EQ(QFile::symLinkTarget(prefix() + "/dosdevices/com7"), portPath(7));
    EXPECT_FALSE(QFileInfo::exists(prefix() + "/dosdevices/com8"));

    // At once, in the prefix that is running still.
    const auto [code, said] = runWine({"cmd", "/c", "echo hello from Windows> COM7"});
    EXPECT_TRUE(readTerminal("hello from Windows").contains("hello from Windows")) << code << " " << said.toStdString();

    // From its next start, Wine lists the port where Windows programs look for ports.
    run(server, {"-k"});
    const QString listed = runWine({"reg", "query", "HKLM\\HARDWARE\\DEVICEMAP\\SERIALCOMM"}).second;
    EXPECT_TRUE(listed.contains(QRegularExpression("REG_SZ\\s+COM7\\r?\\n"))) << listed.toStdString();
    QString mapping = portsKey();
    EXPECT_TRUE(mapping.contains(QRegularExpression("COM7\\s+REG_SZ\\s+" + QRegularExpression::escape(portPath(7))))) << mapping.toStdString();

    // Stopped with the prefix idle: the command that removes the mapping starts the
    // prefix, and Wine makes the links of the mapping it finds then.
    run(server, {"-k"});
    switchEmulation(*ports, false);
    run(server, {"-w"});
    EXPECT_FALSE(QFileInfo(prefix() + "/dosdevices/com7").isSymLink());
    mapping = portsKey();
    EXPECT_FALSE(mapping.contains("COM7")) << mapping.toStdString();
    EXPECT_TRUE(mapping.contains(QRegularExpression("COM8\\s+REG_SZ\\s+/dev/ttyUSB9"))) << mapping.toStdString();
    EXPECT_FALSE(QFileInfo(prefix() + "/dosdevices/com7").isSymLink());
    EXPECT_TRUE(folder.log().contains("COM8 of " + QFile::encodeName(prefix()) + " is mapped to /dev/ttyUSB9"));

    // The program ends while the port runs: the mapping goes after it.
    switchEmulation(*ports, true);
    ASSERT_TRUE(portsKey().contains("COM7"));
    run(server, {"-k"});  // idle: the removal starts the prefix
    ports.reset();
    EXPECT_FALSE(QFileInfo(prefix() + "/dosdevices/com7").isSymLink());
    EXPECT_TRUE(waitFor([] { return !portsKey().contains("COM7"); }, 30000)) << portsKey().toStdString();
    run(server, {"-w"});
    EXPECT_FALSE(QFileInfo(prefix() + "/dosdevices/com7").isSymLink());
}

}  // namespace
