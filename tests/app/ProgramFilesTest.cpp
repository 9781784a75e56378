#include "app/CommandLine.h"
#include "app/InstallLayout.h"
#include "app/ProgramFiles.h"
#include "support/TestFolder.h"

#include <QDir>
#include <gtest/gtest.h>
#include <set>

namespace {

TEST(GetFileName, TakesTheLastBackslashWhenThereIsOneElseTheLastSlash)
{
    EXPECT_EQ(GetFileName("C:\\cfg\\my.setup.qlc"), "my.setup.qlc");
    EXPECT_EQ(GetFileName("a/b/c.qlc"), "c.qlc");
    EXPECT_EQ(GetFileName("bare.qlc"), "bare.qlc");
    EXPECT_EQ(GetFileName("/home/u/we\\ird/x.qlc"), "ird/x.qlc");
    EXPECT_EQ(GetFileName("dir/"), "");
}

TEST(FileExists, IsTrueOnlyForAFileWhoseLengthCanBeRead)
{
    TestFolder folder;
    writeFile(folder.path("a.qlc"), "x");
    EXPECT_TRUE(FileExists(folder.path("a.qlc")));
    EXPECT_FALSE(FileExists(""));
    EXPECT_FALSE(FileExists(folder.path("none.qlc")));
    EXPECT_FALSE(FileExists(folder.path("")));
}

TEST(ProgramFilesDir, UsesAWritablePortableFolderElseTheUsersConfigFolder)
{
    EXPECT_EQ(chooseProgramFilesDir("/home/u/q", true, true, "", "/home/u"), "/home/u/q");
    EXPECT_EQ(chooseProgramFilesDir("/srv/q", false, true, "", "/home/u"), "/home/u/.config/QuorlinVCP");
    EXPECT_EQ(chooseProgramFilesDir("/srv/q", false, true, "/xdg", "/home/u"), "/xdg/QuorlinVCP");
    EXPECT_EQ(chooseProgramFilesDir("/srv/q", false, true, "relative", "/home/u"), "/home/u/.config/QuorlinVCP");
    // The system layout's /usr/bin is writable for root, and still never written.
    EXPECT_EQ(chooseProgramFilesDir("/usr/bin", true, false, "", "/root"), "/root/.config/QuorlinVCP");
    EXPECT_EQ(chooseProgramFilesDir("/usr/bin", false, false, "/xdg", "/home/u"), "/xdg/QuorlinVCP");
}

TEST(InstallLayout, TheDeviceLibrarysPlaceTellsAPortableFolderFromTheSystemLayout)
{
    std::set<QString> files;
    const auto exists = [&files](const QString& path) { return files.count(path) > 0; };

    // Nothing installed yet (the build tree before its library is built): beside.
    InstallLayout layout = installLayoutOf("/home/u/q", exists);
    EXPECT_TRUE(layout.portable);
    EXPECT_EQ(layout.libraryDir, "/home/u/q");
    EXPECT_EQ(layout.manualDir, "/home/u/q");

    files = {"/usr/lib/quorlinvcp/libvspdevices.so"};
    layout = installLayoutOf("/usr/bin", exists);
    EXPECT_FALSE(layout.portable);
    EXPECT_EQ(layout.libraryDir, "/usr/lib/quorlinvcp");
    EXPECT_EQ(layout.manualDir, "/usr/share/doc/quorlinvcp");
    // The same layout under another prefix, wherever its root was moved.
    files = {"/home/u/root/lib/quorlinvcp/libvspdevices.so"};
    layout = installLayoutOf("/home/u/root/bin", exists);
    EXPECT_FALSE(layout.portable);
    EXPECT_EQ(layout.libraryDir, "/home/u/root/lib/quorlinvcp");

    // A portable folder inside a prefix that also has the system layout keeps to
    // its own library.
    files = {"/home/u/lib/quorlinvcp/libvspdevices.so", "/home/u/bin/libvspdevices.so"};
    layout = installLayoutOf("/home/u/bin", exists);
    EXPECT_TRUE(layout.portable);
    EXPECT_EQ(layout.libraryDir, "/home/u/bin");
}

TEST(CommandLine, RemovesEveryQuoteAndKeepsOnlyAnExistingFile)
{
    TestFolder folder;
    const QString file = folder.path("my cfg.qlc");
    writeFile(file, "x");
    EXPECT_EQ(scriptFileFromArguments({"\"" + file + "\""}), file);
    // The shell already split an unquoted path with a space; joining restores it.
    EXPECT_EQ(scriptFileFromArguments(file.split(' ')), file);
    const QString inner = file;
    EXPECT_EQ(scriptFileFromArguments({QString(inner).insert(3, "\"\"")}), file);
    writeFile(folder.path("b.qlc"), "x");
    EXPECT_EQ(scriptFileFromArguments({file, folder.path("b.qlc")}), "");
    EXPECT_EQ(scriptFileFromArguments({}), "");
    EXPECT_EQ(scriptFileFromArguments({folder.path("none.qlc")}), "");
}

TEST(CommandLine, ARelativePathIsKeptAbsolute)
{
    TestFolder folder;
    QDir().mkpath(folder.path("lab"));
    writeFile(folder.path("lab/lab.qlc"), "x");
    const QString saved = QDir::currentPath();
    ASSERT_TRUE(QDir::setCurrent(folder.path("lab")));
    const QString plain = scriptFileFromArguments({"lab.qlc"});
    const QString dotted = scriptFileFromArguments({"\"./../lab/lab.qlc\""});
    const QString missing = scriptFileFromArguments({"none.qlc"});
    QDir::setCurrent(saved);
    EXPECT_EQ(plain, folder.path("lab/lab.qlc"));
    EXPECT_EQ(dotted, folder.path("lab/lab.qlc"));
    EXPECT_EQ(missing, "");
}

}  // namespace
