// The window and quorlinvcp-service on one port directory: whichever comes second
// is refused and says who has the ports; the status command reads the window's
// ports as it reads the service's.
#include "windows/ServiceExclusion.h"
#include "support/FakePlatform.h"
#include "support/PortableInstall.h"
#include "support/TestFolder.h"
#include "support/WaitFor.h"

#include <QFileInfo>
#include <QProcess>
#include <fcntl.h>
#include <gtest/gtest.h>
#include <sys/file.h>
#include <unistd.h>

namespace {

const QByteArray connectorOnly =
    R"({"format":"vspdevices-configuration","version":1,"devices":[{"type":"Connector","init":"5;0"}]})";

QProcessEnvironment withPortDirectory(const QString& dir)
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("VSP_PORT_DIR", dir);
    env.insert("QT_QPA_PLATFORM", "offscreen");
    return env;
}

TEST(ServiceExclusion, TheWindowIsRefusedWhileTheServiceRunsThePortsAndStartsOnceItEnds)
{
    TestFolder folder;
    const QString ports = folder.path("ports");
    const QString config = folder.path("lab.qlc");
    writeFile(config, connectorOnly);
    QProcess service;
    service.setProcessEnvironment(withPortDirectory(ports));
    service.start(QUORLINVCP_SERVICE, {config});
    ASSERT_TRUE(service.waitForStarted(10000));
    ASSERT_TRUE(waitFor([&] { return QFileInfo(ports + "/COM5").isSymLink(); })) << service.readAllStandardError().toStdString();

    FakePlatform platform;
    EXPECT_TRUE(refuseWhileServiceRuns(platform.messages, ports.toStdString()));
    ASSERT_EQ(platform.messages.shown.size(), 1);
    const msgbox::Request shown = platform.messages.shown.front();
    EXPECT_TRUE(shown.text.contains(QStringLiteral("quorlinvcp-service, pid %1").arg(service.processId()))) << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains(ports)) << shown.text.toStdString();
    EXPECT_TRUE(shown.text.contains("systemctl --user stop")) << shown.text.toStdString();
    EXPECT_EQ(shown.buttons, msgbox::Buttons::Ok);
    EXPECT_EQ(shown.icon, msgbox::Icon::Exclamation);

    service.terminate();
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 0);
    EXPECT_FALSE(refuseWhileServiceRuns(platform.messages, ports.toStdString()));
    EXPECT_EQ(platform.messages.shown.size(), 1);
}

TEST(ServiceExclusion, AnyOtherHolderLeavesTheWindowsStartUpAsItWas)
{
    TestFolder folder;
    const QString ports = folder.path("ports");
    QDir().mkpath(ports);
    const int lock = ::open(QFile::encodeName(ports + "/.vspdevices.lock").constData(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
    ASSERT_EQ(::flock(lock, LOCK_EX | LOCK_NB), 0);
    const QByteArray text = QByteArray::number(::getpid()) + " quorlinvcp\n";  // the window itself
    ASSERT_EQ(::write(lock, text.constData(), static_cast<std::size_t>(text.size())), text.size());
    FakePlatform platform;
    EXPECT_FALSE(refuseWhileServiceRuns(platform.messages, ports.toStdString()));
    EXPECT_TRUE(platform.messages.shown.isEmpty());
    ::close(lock);
}

TEST(ServiceExclusion, TheServiceIsRefusedWhileTheWindowRunsAndStatusReadsTheWindowsPorts)
{
    TestFolder folder;
    const QString install = makePortableInstall(folder.path("install"));
    ASSERT_FALSE(install.isEmpty());
    const QString ports = folder.path("ports");
    const QString config = folder.path("window.qlc");
    writeFile(config, connectorOnly);
    QProcess window;
    window.setProcessEnvironment(withPortDirectory(ports));
    window.start(install + "/quorlinvcp", {config});
    ASSERT_TRUE(window.waitForStarted(10000));
    ASSERT_TRUE(waitFor([&] { return QFileInfo(ports + "/COM5").isSymLink(); }));

    QProcess service;
    service.setProcessEnvironment(withPortDirectory(ports));
    service.start(QUORLINVCP_SERVICE, {config});
    ASSERT_TRUE(service.waitForFinished(10000));
    EXPECT_EQ(service.exitCode(), 69);
    const QString refusal = QString::fromUtf8(service.readAllStandardError());
    EXPECT_TRUE(refusal.contains(QStringLiteral("the QuorlinVCP window (pid %1) is using the port directory %2")
                                     .arg(window.processId())
                                     .arg(ports)))
        << refusal.toStdString();

    QProcess status;
    status.setProcessEnvironment(withPortDirectory(ports));
    status.start(QUORLINVCP_SERVICE, {"status"});
    ASSERT_TRUE(status.waitForFinished(10000));
    EXPECT_EQ(status.exitCode(), 0);
    EXPECT_EQ(QString::fromUtf8(status.readAllStandardOutput()), "COM5\tno-connection\t" + ports + "/COM5\t0\t0\t\t\t\t\n");

    window.terminate();
    ASSERT_TRUE(window.waitForFinished(10000));
    EXPECT_TRUE(QFileInfo(ports + "/COM5").isSymLink() == false);
}

}  // namespace
