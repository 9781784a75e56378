#include "app/SingleInstance.h"

#include <QFile>
#include <QProcess>
#include <QThread>
#include <QUuid>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// Looks for the name among the bound sockets without taking it.
bool nameHeld(const QString& name)
{
    QFile sockets("/proc/net/unix");
    if (!sockets.open(QIODevice::ReadOnly))
        return false;
    const QByteArray wanted = " @" + (name + "-" + QString::number(::getuid())).toUtf8() + "\n";
    return sockets.readAll().contains(wanted);
}

QString startProbe(QProcess& probe, const QString& name)
{
    probe.start(SINGLE_INSTANCE_PROBE, {name});
    if (!probe.waitForReadyRead(10000))
        return "no answer";
    return QString::fromUtf8(probe.readLine()).trimmed();
}

TEST(SingleInstance, SecondProcessIsRefusedWhileTheFirstLivesEvenAfterACrash)
{
    const QString name = "qvcp-test-" + QUuid::createUuid().toString(QUuid::WithoutBraces);
    QProcess first;
    QProcess second;
    ASSERT_EQ(startProbe(first, name), "first");
    EXPECT_EQ(startProbe(second, name), "second");
    second.closeWriteChannel();
    ASSERT_TRUE(second.waitForFinished(10000));

    first.kill();  // a crash: nothing is cleaned up by the process itself
    ASSERT_TRUE(first.waitForFinished(10000));
    QProcess third;
    EXPECT_EQ(startProbe(third, name), "first");
    third.closeWriteChannel();
    third.waitForFinished(10000);
}

TEST(SingleInstance, SecondStartOfTheProgramEndsAtOnceAndSilently)
{
    if (nameHeld("QuorlinVCP"))
        GTEST_SKIP() << "QuorlinVCP already runs for this user; the test needs the name free";
    QProcess first;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    first.setProcessEnvironment(env);
    first.start(QUORLINVCP_PROGRAM, {});
    ASSERT_TRUE(first.waitForStarted(10000));
    // Wait until the first instance holds the name.
    for (int i = 0; i < 400 && !nameHeld("QuorlinVCP"); ++i)
        QThread::msleep(25);

    ASSERT_TRUE(nameHeld("QuorlinVCP"));
    QProcess second;
    second.setProcessEnvironment(env);
    second.start(QUORLINVCP_PROGRAM, {});
    ASSERT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(second.readAllStandardOutput() + second.readAllStandardError(), QByteArray());
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(10000);
}

}  // namespace
