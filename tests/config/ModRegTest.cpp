#include "config/StartUpEntry.h"
#include "config/modReg.h"
#include "support/TestFolder.h"

#include <QDir>
#include <QProcess>
#include <QStandardPaths>
#include <functional>
#include <grp.h>
#include <gtest/gtest.h>
#include <pwd.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

namespace {

// Runs body in a child process that cannot write where only root may: as the user
// "nobody" when the tests run as root, else as the user running them. The result is
// the child's exit code.
int asUnprivilegedUser(const std::function<int()>& body)
{
    const pid_t pid = ::fork();
    if (pid == 0) {
        if (::geteuid() == 0) {
            const passwd* nobody = ::getpwnam("nobody");
            if (!nobody || ::setgroups(0, nullptr) != 0 || ::setgid(nobody->pw_gid) != 0 || ::setuid(nobody->pw_uid) != 0)
                ::_exit(90);
        }
        ::_exit(body());
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

// Sets the two XDG folder variables for one test and restores them after it.
class XdgFolders {
public:
    XdgFolders(const QString& machine, const QString& home)
        : dirs_(qgetenv("XDG_CONFIG_DIRS")), home_(qgetenv("XDG_CONFIG_HOME"))
    {
        qputenv("XDG_CONFIG_DIRS", machine.toUtf8());
        qputenv("XDG_CONFIG_HOME", home.toUtf8());
    }
    ~XdgFolders()
    {
        restore("XDG_CONFIG_DIRS", dirs_);
        restore("XDG_CONFIG_HOME", home_);
    }

private:
    static void restore(const char* name, const QByteArray& value)
    {
        if (value.isEmpty())
            qunsetenv(name);
        else
            qputenv(name, value);
    }
    QByteArray dirs_;
    QByteArray home_;
};

TEST(StartUpEntry, ExecQuotingSurvivesSpacesAndSpecialCharacters)
{
    EXPECT_EQ(desktopExecValue("/opt/quorlinvcp/quorlinvcp"), "/opt/quorlinvcp/quorlinvcp");
    EXPECT_EQ(desktopExecValue("/home/u/my apps/quorlinvcp"), "\"/home/u/my apps/quorlinvcp\"");
    EXPECT_EQ(desktopExecValue("/a/$HOME`x`\"q\"/p"), "\"/a/\\\\$HOME\\\\`x\\\\`\\\\\"q\\\\\"/p\"");
    EXPECT_EQ(desktopExecValue("/a/100%/p"), "/a/100%%/p");
    for (const QString path : {"/opt/q/quorlinvcp", "/home/u/my apps/q", "/a/$HOME`x`\"q\"/p", "/x/back\\slash/p", "/a/100% b/p"}) {
        // What a reader of the file sees: the file's escapes undone, then the quoting.
        QString fileLevel = desktopExecValue(path);
        fileLevel.replace("\\\\", "\\");
        EXPECT_EQ(programFromExecValue(fileLevel), path) << path.toStdString();
    }
}

TEST(StartUpEntry, WriteReadAndDeleteInTheAutostartFolder)
{
    TestFolder folder;
    const QString dir = folder.path("autostart");
    QDir().mkpath(dir);
    WriteRegValue(dir, "QuorlinVCP", QString("/home/u/my apps/quorlinvcp"), regType::sz);
    const QByteArray entry = readFile(dir + "/QuorlinVCP.desktop");
    EXPECT_TRUE(entry.startsWith("[Desktop Entry]\nType=Application\nName=QuorlinVCP\n"));
    EXPECT_TRUE(entry.contains("\nExec=\"/home/u/my apps/quorlinvcp\"\n"));
    EXPECT_EQ(ReadRegValue(dir, "QuorlinVCP"), "/home/u/my apps/quorlinvcp");

    EXPECT_EQ(WriteRegValueOfKey(dir, "Other", regType::dword, std::uint32_t{5}), -1);  // nothing written
    EXPECT_FALSE(QFile::exists(dir + "/Other.desktop"));
    EXPECT_NE(WriteRegValueOfKey(dir, "Bad", regType::sz, QString("/a\nrm -rf /")), 0);
    EXPECT_FALSE(QFile::exists(dir + "/Bad.desktop"));

    writeFile(dir + "/Empty.desktop", "[Desktop Entry]\nType=Application\nExec=\n");
    EXPECT_EQ(ReadRegValue(dir, "Empty"), "");
    ASSERT_EQ(::mkfifo(QFile::encodeName(dir + "/Fifo.desktop").constData(), 0600), 0);
    EXPECT_EQ(ReadRegValue(dir, "Fifo"), "");  // at once: not a file to wait on
    DeleteRegValue(dir, "QuorlinVCP");
    EXPECT_EQ(ReadRegValue(dir, "QuorlinVCP"), "");
    WriteRegValue(folder.path("missing"), "QuorlinVCP", QString("/p"), regType::sz);  // silently not stored
    EXPECT_EQ(ReadRegValue(folder.path("missing"), "QuorlinVCP"), "");
}

TEST(StartUpEntry, TheRunKeyIsTheFirstConfigFolderOrEtcXdg)
{
    const QByteArray saved = qgetenv("XDG_CONFIG_DIRS");
    qputenv("XDG_CONFIG_DIRS", "/first:/second");
    EXPECT_EQ(runKeyPath(), "/first/autostart");
    qunsetenv("XDG_CONFIG_DIRS");
    EXPECT_EQ(runKeyPath(), "/etc/xdg/autostart");
    if (!saved.isEmpty())
        qputenv("XDG_CONFIG_DIRS", saved);
}

}  // namespace

namespace {

TEST(StartUpEntry, APathWithATabGivesAValidEntryAndOtherControlCharactersNone)
{
    TestFolder folder;
    const QString dir = folder.path("autostart");
    QDir().mkpath(dir);
    const QString tabbed = "/home/u/my\tapps/quorlinvcp";
    EXPECT_EQ(WriteRegValueOfKey(dir, "QuorlinVCP", regType::sz, tabbed), 0);
    const QByteArray entry = readFile(dir + "/QuorlinVCP.desktop");
    for (const char c : entry)
        EXPECT_TRUE(c == '\n' || static_cast<unsigned char>(c) >= 0x20) << "raw control character " << int(c);
    EXPECT_EQ(ReadRegValue(dir, "QuorlinVCP"), tabbed);
    const QString validator = QStandardPaths::findExecutable("desktop-file-validate");
    ASSERT_FALSE(validator.isEmpty()) << "desktop-file-validate (desktop-file-utils) is needed";
    QProcess check;
    check.start(validator, {dir + "/QuorlinVCP.desktop"});
    ASSERT_TRUE(check.waitForFinished(30000));
    EXPECT_EQ(check.exitCode(), 0) << check.readAllStandardOutput().toStdString();

    for (const QString bad : {"/a/\x01b", "/a/b\x7f", "/a\rb", "/a/\x1b[0m"}) {
        EXPECT_EQ(WriteRegValueOfKey(dir, "Bad", regType::sz, bad), EINVAL);
        EXPECT_FALSE(QFile::exists(dir + "/Bad.desktop"));
    }
}

TEST(StartUpEntry, AUserWhoCannotWriteTheMachineWideFolderGetsTheirOwnEntry)
{
    TestFolder folder;
    const QString machine = folder.path("xdg/autostart");
    const QString home = folder.path("home");
    const QString machineEntry = machine + "/QuorlinVCP.desktop";
    const QString userEntry = home + "/autostart/QuorlinVCP.desktop";
    QDir().mkpath(machine);
    QDir().mkpath(home);
    XdgFolders xdg(folder.path("xdg"), home);
    // The child's user must reach the folders; only the home folder is its own.
    QFile::setPermissions(folder.path(""), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner | QFile::ReadOther |
                                               QFile::ExeOther | QFile::ReadGroup | QFile::ExeGroup);
    if (::geteuid() == 0) {
        const passwd* nobody = ::getpwnam("nobody");
        ASSERT_NE(nobody, nullptr);
        ASSERT_EQ(::chown(QFile::encodeName(home).constData(), nobody->pw_uid, nobody->pw_gid), 0);
    }
    const auto readOnly = QFile::ReadOwner | QFile::ExeOwner | QFile::ReadOther | QFile::ExeOther | QFile::ReadGroup |
                          QFile::ExeGroup;
    QFile::setPermissions(machine, readOnly);

    EXPECT_EQ(asUnprivilegedUser([] { return writeStartUpEntry("QuorlinVCP", "/opt/q/quorlinvcp").error; }), 0);
    EXPECT_FALSE(QFile::exists(machineEntry));
    EXPECT_EQ(ReadRegValue(home + "/autostart", "QuorlinVCP"), "/opt/q/quorlinvcp");
    EXPECT_EQ(asUnprivilegedUser([] { return startUpEntryExists("QuorlinVCP") ? 1 : 0; }), 1);
    EXPECT_EQ(asUnprivilegedUser([] { return deleteStartUpEntry("QuorlinVCP").error; }), 0);
    EXPECT_FALSE(QFile::exists(userEntry));
    EXPECT_EQ(asUnprivilegedUser([] { return startUpEntryExists("QuorlinVCP") ? 1 : 0; }), 0);

    // An entry the administrator made shows ticked, and unticking reports that it stays.
    QFile::setPermissions(machine, readOnly | QFile::WriteOwner);
    ASSERT_EQ(WriteRegValueOfKey(machine, "QuorlinVCP", regType::sz, QString("/opt/q/quorlinvcp")), 0);
    QFile::setPermissions(machine, readOnly);
    EXPECT_EQ(asUnprivilegedUser([] { return startUpEntryExists("QuorlinVCP") ? 1 : 0; }), 1);
    EXPECT_EQ(asUnprivilegedUser([] { return writeStartUpEntry("QuorlinVCP", "/home/u/q").error; }), 0);
    EXPECT_EQ(ReadRegValue(home + "/autostart", "QuorlinVCP"), "/home/u/q");
    EXPECT_EQ(asUnprivilegedUser([] {
                  const StartUpEntryResult result = deleteStartUpEntry("QuorlinVCP");
                  return result.error == EACCES && result.file.endsWith("xdg/autostart/QuorlinVCP.desktop") ? 0 : 1;
              }),
              0);
    EXPECT_FALSE(QFile::exists(userEntry));
    EXPECT_TRUE(QFile::exists(machineEntry));
    QFile::setPermissions(machine, readOnly | QFile::WriteOwner);
}

}  // namespace
