#include "app/TerminationSignal.h"
#include "support/TestFolder.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <pthread.h>

namespace {

// The line of /proc/<pid>/status that lists a process's blocked signals.
const QString reportMask = "grep SigBlk /proc/self/status";
const QByteArray nothingBlocked = "SigBlk:\t0000000000000000\n";

// The program's own blocked SIGTERM, for one test.
class TerminationBlocked {
public:
    TerminationBlocked()
    {
        pthread_sigmask(SIG_SETMASK, nullptr, &saved_);
        blockTerminationSignal();
    }
    ~TerminationBlocked() { pthread_sigmask(SIG_SETMASK, &saved_, nullptr); }

private:
    sigset_t saved_;
};

TEST(ChildProcesses, StartWithNoSignalBlockedWhileTheProgramBlocksTermination)
{
    TestFolder folder;
    TerminationBlocked blocked;
    sigset_t mine;
    pthread_sigmask(SIG_SETMASK, nullptr, &mine);
    ASSERT_TRUE(sigismember(&mine, SIGTERM));

    // A child the program waits for.
    QProcess child;
    child.start("/bin/sh", {"-c", reportMask});
    ASSERT_TRUE(child.waitForFinished(30000));
    EXPECT_EQ(child.readAllStandardOutput(), nothingBlocked);

    // A detached child, the way the desktop's document opener is started.
    QProcess opener;
    opener.setProgram("/bin/sh");
    opener.setArguments({"-c", reportMask + " > " + folder.path("mask.tmp") + " && mv " + folder.path("mask.tmp") + " " +
                                   folder.path("mask")});
    ASSERT_TRUE(opener.startDetached());
    const QDeadlineTimer deadline(30000);
    while (!QFile::exists(folder.path("mask")) && !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(readFile(folder.path("mask")), nothingBlocked);
}

}  // namespace
