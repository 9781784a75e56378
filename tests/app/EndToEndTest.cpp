// The real program, started the way a user starts it, with a configuration file on
// its command line: the redirect comes up live on its virtual port, carries data to
// a simulated adapter and back, and the title says so.
#include "AdapterServer.h"
#include "RawPort.h"
#include "support/PortableInstall.h"
#include "support/TestFolder.h"
#include "support/VirtualDisplay.h"
#include "support/WaitFor.h"

#include <QDir>
#include <QFileInfo>
#include <functional>
#include <iostream>
#include <QFile>
#include <QProcess>
#include <QThread>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <poll.h>
#include <termios.h>
#include <unistd.h>

namespace {

TEST(EndToEnd, AConfigurationOnTheCommandLineComesUpLive)
{
    TestFolder folder;
    // A portable install of its own: the program and its device library in one folder.
    const QString install = makePortableInstall(folder.path("install"));
    ASSERT_FALSE(install.isEmpty()) << "the program could not be copied";

    vsp::AdapterServer adapter({.echo = true});
    const QString config = folder.path("bench lab.qlc");  // a space in the name, quoted on the command line
    writeFile(config, QStringLiteral(R"({"format":"vspdevices-configuration","version":1,"devices":[
        {"type":"Connector","init":"5;0"},
        {"type":"TcpClient","init":"127.0.0.1;%1;5;19200,0,8,1,0,0;1;0;"}]})")
                          .arg(adapter.port())
                          .toUtf8());

    VirtualDisplay display;
    QProcessEnvironment env = display.name().isEmpty() ? QProcessEnvironment::systemEnvironment() : display.environment();
    env.insert("VSP_PORT_DIR", folder.path("ports"));
    if (display.name().isEmpty())
        env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(install + "/quorlinvcp", {"\"" + config + "\""});
    ASSERT_TRUE(program.waitForStarted(10000));

    const QString port = folder.path("ports/COM5");
    ASSERT_TRUE(waitFor([&] { return QFileInfo(port).isSymLink(); })) << "the virtual port did not appear";
    const int fd = openRawPort(QFile::encodeName(port).toStdString(), PortIo::Blocking);
    ASSERT_GE(fd, 0);
    ASSERT_TRUE(waitFor([&] { return adapter.connections() > 0; }));
    QThread::msleep(100);
    const char ping[] = "ping\xff";
    ASSERT_EQ(::write(fd, ping, 5), 5);
    char echo[5] = {};
    std::size_t got = 0;
    waitFor([&] {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 0) > 0) {
            const ssize_t n = ::read(fd, echo + got, sizeof echo - got);
            got += n > 0 ? static_cast<std::size_t>(n) : 0;
        }
        return got == sizeof echo;
    });
    ::close(fd);
    EXPECT_EQ(QByteArray(echo, static_cast<int>(got)), QByteArray(ping, 5));

    if (display.name().isEmpty()) {
        std::cout << "[  NOTE    ] no virtual display (" << display.errors().toStdString() << "): the window title was not checked\n";
    } else {
        EXPECT_TRUE(waitFor([&] { return display.windowNames().contains("QuorlinVCP v2.0.0 [bench lab.qlc] Emulation: Running"); }))
            << display.windowNames().toStdString();
    }
    // The system asks the program to end: it records the file, releases the ports and exits.
    program.terminate();
    ASSERT_TRUE(program.waitForFinished(10000));
    const std::string errors = program.readAllStandardError().toStdString();
    EXPECT_EQ(program.exitStatus(), QProcess::NormalExit) << errors;
    EXPECT_EQ(program.exitCode(), 0) << errors;
    EXPECT_TRUE(readFile(install + "/Settings.ini").contains(("ScriptLoadLASTFILE=" + config).toUtf8()));
    EXPECT_FALSE(QFileInfo(port).isSymLink());
    EXPECT_FALSE(QFile::exists(install + "/ErrorLog.txt")) << readFile(install + "/ErrorLog.txt").toStdString();
}

}  // namespace
