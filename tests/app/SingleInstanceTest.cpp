#include "app/SingleInstance.h"
#include "app/StartRequest.h"
#include "support/MainWindowFixture.h"
#include "support/TestFolder.h"

#include <QApplication>
#include <QDialog>
#include <QDir>
#include <QElapsedTimer>
#include <QFile>
#include <QLocalSocket>
#include <QProcess>
#include <QThread>
#include <gtest/gtest.h>
#include <sys/stat.h>
#include <unistd.h>

namespace {

// True when some process holds a lock on the file (read from /proc/locks).
bool fileLocked(const QString& path)
{
    struct stat st {};
    if (::stat(QFile::encodeName(path).constData(), &st) != 0)
        return false;
    QFile locks("/proc/locks");
    if (!locks.open(QIODevice::ReadOnly))
        return false;
    const QByteArray inode = ":" + QByteArray::number(static_cast<qulonglong>(st.st_ino)) + " ";
    for (const QByteArray& line : locks.readAll().split('\n'))
        if (line.contains("FLOCK") && line.contains(inode))
            return true;
    return false;
}

// Starts the probe with its own runtime folder; returns what it says ("first"/"second").
QString startProbe(QProcess& probe, const QString& runtime, const QString& name = "QuorlinVCP")
{
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("XDG_RUNTIME_DIR", runtime);
    probe.setProcessEnvironment(env);
    probe.start(SINGLE_INSTANCE_PROBE, {name});
    if (!probe.waitForReadyRead(10000))
        return "no answer";
    return QString::fromUtf8(probe.readLine()).trimmed();
}

void endProbe(QProcess& probe)
{
    probe.closeWriteChannel();
    probe.waitForFinished(10000);
}

QString makeFolder(const TestFolder& folder, const QString& name, mode_t mode)
{
    const QString path = folder.path(name);
    QDir().mkpath(path);
    ::chmod(QFile::encodeName(path).constData(), mode);
    return path;
}

mode_t modeOf(const QString& path)
{
    struct stat st {};
    ::lstat(QFile::encodeName(path).constData(), &st);
    return st.st_mode & 07777;
}

TEST(SingleInstance, SecondProcessOfTheUserIsRefusedWhileTheFirstLivesEvenAfterACrash)
{
    TestFolder folder;
    const QString runtime = makeFolder(folder, "runtime", 0700);
    QProcess first;
    QProcess second;
    ASSERT_EQ(startProbe(first, runtime), "first");
    EXPECT_EQ(startProbe(second, runtime), "second");
    endProbe(second);

    first.kill();  // a crash: nothing is cleaned up by the process itself, the file stays
    ASSERT_TRUE(first.waitForFinished(10000));
    ASSERT_TRUE(QFile::exists(runtime + "/QuorlinVCP.lock"));
    QProcess third;
    EXPECT_EQ(startProbe(third, runtime), "first");
    endProbe(third);
}

TEST(SingleInstance, EachRuntimeFolderIsItsOwnNamespace)
{
    // Two sessions (or two test runs) with runtime folders of their own never meet.
    TestFolder folder;
    QProcess a;
    QProcess b;
    EXPECT_EQ(startProbe(a, makeFolder(folder, "a", 0700)), "first");
    EXPECT_EQ(startProbe(b, makeFolder(folder, "b", 0700)), "first");
    endProbe(a);
    endProbe(b);
}

TEST(SingleInstance, LockFolderIsTheRuntimeFolderOnlyWhenItIsPrivate)
{
    TestFolder folder;
    const QString base = makeFolder(folder, "tmp", 01777);
    const QString own = base + "/QuorlinVCP-" + QString::number(::geteuid());

    const QString runtime = makeFolder(folder, "runtime", 0700);
    EXPECT_EQ(privateInstanceFolder(runtime, base, "QuorlinVCP"), runtime);
    EXPECT_FALSE(QFile::exists(own));

    // Unset, relative, missing or open to others: the program's own folder, made private.
    EXPECT_EQ(privateInstanceFolder("", base, "QuorlinVCP"), own);
    EXPECT_EQ(modeOf(own), 0700u);
    EXPECT_EQ(privateInstanceFolder("runtime", base, "QuorlinVCP"), own);
    EXPECT_EQ(privateInstanceFolder(folder.path("none"), base, "QuorlinVCP"), own);
    EXPECT_EQ(privateInstanceFolder(makeFolder(folder, "shared", 0777), base, "QuorlinVCP"), own);
    EXPECT_EQ(privateInstanceFolder(makeFolder(folder, "group", 0750), base, "QuorlinVCP"), own);
    const QString link = folder.path("link");
    ASSERT_TRUE(QFile::link(runtime, link));
    EXPECT_EQ(privateInstanceFolder(link, base, "QuorlinVCP"), own);
}

TEST(SingleInstance, AFallbackFolderSomeoneElseMadeIsNotUsedAndBlocksNothing)
{
    const QString name = "QuorlinVCP-" + QString::number(::geteuid());
    const QString runtime = "";  // no runtime folder: the fallback decides
    {
        TestFolder folder;  // opened to everyone, e.g. made by another user for us
        makeFolder(folder, name, 0777);
        EXPECT_EQ(privateInstanceFolder(runtime, folder.path(""), "QuorlinVCP"), "");
        EXPECT_EQ(modeOf(folder.path(name)), 0777u);  // left alone, not "repaired"
    }
    {
        TestFolder folder;  // a link to a folder that would pass
        makeFolder(folder, "elsewhere", 0700);
        ASSERT_TRUE(QFile::link(folder.path("elsewhere"), folder.path(name)));
        EXPECT_EQ(privateInstanceFolder(runtime, folder.path(""), "QuorlinVCP"), "");
    }
    {
        TestFolder folder;  // a plain file in the way
        writeFile(folder.path(name), "");
        EXPECT_EQ(privateInstanceFolder(runtime, folder.path(""), "QuorlinVCP"), "");
    }
    if (::geteuid() == 0) {
        TestFolder folder;  // private, but owned by another user
        const QString other = makeFolder(folder, name, 0700);
        ASSERT_EQ(::chown(QFile::encodeName(other).constData(), 65534, 65534), 0);
        EXPECT_EQ(privateInstanceFolder(runtime, folder.path(""), "QuorlinVCP"), "");
    }
    // Without a private folder the program starts, every time.
    SingleInstance unguarded("QuorlinVCP", "");
    SingleInstance alsoUnguarded("QuorlinVCP", "");
    EXPECT_TRUE(unguarded.isFirst());
    EXPECT_TRUE(alsoUnguarded.isFirst());
}

TEST(SingleInstance, AnotherUserHoldingAnyNameCannotStopTheStart)
{
    if (::geteuid() != 0)
        GTEST_SKIP() << "needs root to act as another user";
    // Another local user binds the abstract socket name an instance used to hold (or
    // finds it held already, by an older QuorlinVCP: just as good for the test).
    QProcess other;
    other.start("setpriv", {"--reuid=65534", "--regid=65534", "--clear-groups", "/usr/bin/python3", "-c",
                            "import errno, socket, sys\n"
                            "s = socket.socket(socket.AF_UNIX)\n"
                            "try:\n"
                            "    s.bind(b'\\0QuorlinVCP-' + sys.argv[1].encode())\n"
                            "except OSError as e:\n"
                            "    if e.errno != errno.EADDRINUSE: raise\n"
                            "print('held', flush=True)\n"
                            "sys.stdin.read()\n",
                            QString::number(::geteuid())});
    ASSERT_TRUE(other.waitForReadyRead(10000)) << other.readAllStandardError().toStdString();
    ASSERT_EQ(other.readLine().trimmed(), "held");

    TestFolder folder;
    QProcess probe;
    EXPECT_EQ(startProbe(probe, makeFolder(folder, "runtime", 0700)), "first");
    endProbe(probe);
    endProbe(other);
}

TEST(SingleInstance, ALockFileThatIsALinkIsNotFollowed)
{
    TestFolder folder;
    const QString runtime = makeFolder(folder, "runtime", 0700);
    writeFile(folder.path("target"), "keep");
    ASSERT_TRUE(QFile::link(folder.path("target"), runtime + "/QuorlinVCP.lock"));
    SingleInstance instance("QuorlinVCP", runtime);
    EXPECT_TRUE(instance.isFirst());
    EXPECT_FALSE(fileLocked(folder.path("target")));
    EXPECT_EQ(readFile(folder.path("target")), "keep");
}

TEST(SingleInstance, SecondStartOfTheProgramEndsAtOnceAndSilently)
{
    TestFolder folder;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("QT_QPA_PLATFORM", "offscreen");
    env.insert("XDG_RUNTIME_DIR", makeFolder(folder, "runtime", 0700));
    env.insert("HOME", folder.path("home"));
    env.insert("XDG_CONFIG_HOME", folder.path("home/.config"));
    env.insert("VSP_PORT_DIR", folder.path("ports"));
    const QString lock = folder.path("runtime/QuorlinVCP.lock");
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(QUORLINVCP_PROGRAM, {});
    ASSERT_TRUE(first.waitForStarted(10000));
    for (int i = 0; i < 400 && !fileLocked(lock); ++i)
        QThread::msleep(25);

    ASSERT_TRUE(fileLocked(lock));
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

// Lets the window's events run until the condition holds.
bool runUntil(const std::function<bool()>& condition, int milliseconds = 10000)
{
    QElapsedTimer clock;
    clock.start();
    while (!condition() && clock.elapsed() < milliseconds) {
        QApplication::processEvents();
        QThread::msleep(5);
    }
    return condition();
}

// The running program's window taking later starts' requests, as start-up joins them;
// the later starts are the real program.
class LaterStart : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        runtime = makeFolder(folder, "runtime", 0700);
        instance.emplace("QuorlinVCP", runtime);
        ASSERT_TRUE(instance->isFirst());
        receiver.emplace(instance->takeListener());
        QObject::connect(&*receiver, &StartRequestReceiver::received, window.get(),
                         [this](const QString& file) { window->startRequested(file); });
        writeFile(folder.path("lab.qlc"), "Connector\t7;0\nTcpClient\t10.0.0.7;4001;7;19200,0,8,1,0,0;1;0;\n");
        window->Form_Load();
        window->show();
        click("cmdHide");  // in the notification area
        ASSERT_TRUE(fake.tray.shown);
    }
    void TearDown() override
    {
        receiver.reset();
        instance.reset();
        MainWindowFixture::TearDown();
    }
    // Starts the program again with the arguments; it must end at once and silently.
    void startAgain(const QStringList& arguments)
    {
        QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
        env.insert("XDG_RUNTIME_DIR", runtime);
        env.insert("HOME", folder.path("home"));
        env.insert("XDG_CONFIG_HOME", folder.path("home/.config"));
        QProcess later;
        later.setProcessEnvironment(env);
        later.setWorkingDirectory(folder.path(""));
        later.start(QUORLINVCP_PROGRAM, arguments);
        ASSERT_TRUE(later.waitForFinished(10000));
        EXPECT_EQ(later.exitCode(), 0);
        EXPECT_EQ(later.readAllStandardOutput() + later.readAllStandardError(), QByteArray());
    }
    // An unsaved change, with the library's record of it forgotten.
    bool shown() const { return window->isVisible() && !fake.tray.shown; }
    QStringList questions() const { return fake.messages.texts().filter("haven't been saved"); }

    QString runtime;
    std::optional<SingleInstance> instance;
    std::optional<StartRequestReceiver> receiver;
};

TEST_F(LaterStart, WithAFileTheRunningWindowComesForwardAndLoadsItAfterTheSaveQuestion)
{
    makeUnsavedChange();
    fake.messages.answers = {msgbox::Answer::No};
    startAgain({"lab.qlc"});  // relative to the later start's folder
    ASSERT_TRUE(runUntil([&] { return window->scriptFile() == folder.path("lab.qlc"); }));
    EXPECT_TRUE(shown());
    EXPECT_EQ(questions().size(), 1);
    EXPECT_TRUE(vsp.calls().contains("vsp_loadConfiguration " + folder.path("lab.qlc")));
    EXPECT_EQ(rows().value(0).section('|', 0, 0), "COM7");
    EXPECT_TRUE(emulationRunning());

    // Cancel keeps the current file; the window comes forward all the same.
    click("cmdHide");
    ASSERT_TRUE(unsaved());  // a load keeps the mark
    fake.messages.answers = {msgbox::Answer::Cancel};
    writeFile(folder.path("other.qlc"), "");
    startAgain({folder.path("other.qlc")});
    ASSERT_TRUE(runUntil([&] { return shown(); }));
    ASSERT_TRUE(runUntil([&] { return questions().size() == 2; }));
    EXPECT_EQ(window->scriptFile(), folder.path("lab.qlc"));
    EXPECT_FALSE(vsp.calls().contains("other.qlc"));
    EXPECT_TRUE(folder.log().isEmpty());
}

TEST_F(LaterStart, WithoutAFileOnlyBringsTheWindowForward)
{
    makeUnsavedChange();
    startAgain({});
    ASSERT_TRUE(runUntil([&] { return shown(); }));
    startAgain({"missing.qlc"});  // a name that is no file counts as none, as at a first start
    runUntil([] { return false; }, 300);
    EXPECT_TRUE(shown());
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    EXPECT_EQ(window->scriptFile(), folder.path("Untitled.qlc"));
    EXPECT_FALSE(vsp.calls().contains("vsp_loadConfiguration"));

    // With a dialog in front of the window (its own question, say), the request
    // waits until the dialog has closed.
    click("cmdHide");
    auto dialog = std::make_unique<QDialog>();
    dialog->setModal(true);
    dialog->show();
    ASSERT_EQ(QApplication::activeModalWidget(), dialog.get());
    fake.messages.answers = {msgbox::Answer::No};  // the changes made above
    startAgain({"lab.qlc"});
    runUntil([] { return false; }, 300);
    EXPECT_FALSE(shown());
    dialog.reset();
    ASSERT_TRUE(runUntil([&] { return window->scriptFile() == folder.path("lab.qlc"); }));
    EXPECT_TRUE(shown());
}

TEST_F(LaterStart, AnythingButAShortRequestIsDroppedAndTheChannelGoesOn)
{
    const QByteArray header = "QuorlinVCP start 1\n";
    const QByteArray lab = folder.path("lab.qlc").toUtf8();
    const QByteArray bad[] = {
        QByteArray("garbage") + '\0',
        header + "lab.qlc" + '\0',  // not an absolute path
        header + lab + '\0' + "more",  // something after the request
        header + lab,  // never finished
        header + "/tmp/\xff\xfe.qlc" + '\0',  // not UTF-8
        header + QByteArray(64 * 1024, '/') + '\0',  // far too long
        QByteArray(1 << 20, 'x'),  // endless
    };
    for (const QByteArray& message : bad) {
        QLocalSocket sender;
        sender.connectToServer(runtime + "/QuorlinVCP.socket");
        ASSERT_TRUE(sender.waitForConnected(3000));
        sender.write(message);
        // The receiver closes the connection itself, or sees it end here.
        ASSERT_TRUE(runUntil([&] {
            sender.flush();
            return sender.state() == QLocalSocket::UnconnectedState || sender.bytesToWrite() == 0;
        }));
        if (!message.contains('\0') && message.size() < startrequest::maxSize)
            sender.disconnectFromServer();
        runUntil([&] { return sender.state() == QLocalSocket::UnconnectedState; }, 2000);
        EXPECT_EQ(sender.state(), QLocalSocket::UnconnectedState) << message.left(40).toStdString();
        runUntil([] { return false; }, 50);
        EXPECT_FALSE(shown()) << message.left(40).toStdString();
    }
    EXPECT_FALSE(vsp.calls().contains("vsp_loadConfiguration"));
    EXPECT_TRUE(fake.messages.shown.isEmpty());

    startAgain({"lab.qlc"});
    ASSERT_TRUE(runUntil([&] { return window->scriptFile() == folder.path("lab.qlc"); }));
    EXPECT_TRUE(shown());
    EXPECT_EQ(startrequest::decode(startrequest::encode(folder.path("lab.qlc"))), folder.path("lab.qlc"));
}

}  // namespace
