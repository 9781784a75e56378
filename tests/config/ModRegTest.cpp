#include "config/modReg.h"
#include "support/TestFolder.h"

#include <QDir>
#include <gtest/gtest.h>

namespace {

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
