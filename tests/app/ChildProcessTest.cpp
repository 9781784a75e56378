#include "app/TerminationSignal.h"
#include "support/TestFolder.h"

#include <QDeadlineTimer>
#include <QProcess>
#include <QThread>
#include <csignal>
#include <gtest/gtest.h>
#include <fcntl.h>
#include <pthread.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// The line of /proc/<pid>/status that lists a process's blocked signals, written
// by the child itself (not through a shell, which may clear the mask first).
const QStringList reportMask = {"SigBlk", "/proc/self/status"};
const QString nothingBlocked = "SigBlk:\t0000000000000000\n";

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

    // A child started with fork() and exec().
    const QByteArray forked = QFile::encodeName(folder.path("forked"));
    const pid_t pid = ::fork();
    if (pid == 0) {
        const int out = ::open(forked.constData(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
        ::dup2(out, STDOUT_FILENO);
        ::execlp("grep", "grep", "SigBlk", "/proc/self/status", static_cast<char*>(nullptr));
        ::_exit(127);
    }
    int status = 0;
    ASSERT_EQ(::waitpid(pid, &status, 0), pid);
    EXPECT_EQ(QString::fromLatin1(readFile(folder.path("forked"))), nothingBlocked);

    // A detached child, the way Qt starts the desktop's document opener.
    QProcess opener;
    opener.setProgram("grep");
    opener.setArguments(reportMask);
    opener.setStandardOutputFile(folder.path("mask"));
    ASSERT_TRUE(opener.startDetached());
    const QDeadlineTimer deadline(30000);
    while (!readFile(folder.path("mask")).endsWith('\n') && !deadline.hasExpired())
        QThread::msleep(20);
    EXPECT_EQ(QString::fromLatin1(readFile(folder.path("mask"))), nothingBlocked);
}

}  // namespace
