#include "config/ConfigurationDocument.h"
#include "deviceapi/VspBinding.h"
#include "deviceapi/modVSP_APIs.h"
#include "support/MainWindowFixture.h"

#include <QFile>
#include <QFileInfo>
#include <chrono>
#include <sys/stat.h>
#include <unistd.h>

namespace {

class ConfigurationFiles : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        window->Form_Load();  // the untitled start: nothing loaded
        createRedirect();     // COM5 to h, unsaved
    }
    QString configFile(const QString& name, const QByteArray& content = "Connector\t7;0\n")
    {
        writeFile(folder.path(name), content);
        return folder.path(name);
    }
};

TEST_F(ConfigurationFiles, SaveOfAnUntitledStartProposesUntitledInTheProgramsFolder)
{
    fake.dialogs.cancel();
    trigger("mnuSave");
    ASSERT_EQ(fake.dialogs.requests.size(), 1);
    const FileDialogRequest& r = fake.dialogs.requests[0];
    EXPECT_TRUE(r.save);
    EXPECT_EQ(r.proposedName, folder.path("Untitled.qlc"));
    EXPECT_EQ(r.initialDir, folder.path("").chopped(1));  // the program's folder
    EXPECT_EQ(r.title, "Save Configuration File");
    EXPECT_EQ(r.defaultExt, "qlc");
    EXPECT_TRUE(r.overwritePrompt);
    // Cancelled: nothing changes.
    EXPECT_EQ(window->scriptFile(), folder.path("Untitled.qlc"));
    EXPECT_TRUE(unsaved());
    EXPECT_FALSE(vsp.calls().contains("vsp_saveConfiguration"));
}

TEST_F(ConfigurationFiles, AnExistingCurrentFileIsWrittenWithoutADialog)
{
    configFile("Untitled.qlc", "");
    trigger("mnuSave");
    EXPECT_TRUE(fake.dialogs.requests.isEmpty());
    EXPECT_EQ(readFile(folder.path("Untitled.qlc")), "Connector\t5;0\nTcpClient\th;3001;5;19200,0,8,1,0,0;1;0;\n");
    EXPECT_FALSE(unsaved());
    EXPECT_EQ(window->windowTitle(), "QuorlinVCP v2.0.0 [Untitled.qlc] Emulation: Running");
}

TEST_F(ConfigurationFiles, SaveAsReplacesAnExistingFileOnlyWithTheNewContentAndAFailedSaveLeavesItWhole)
{
    const QString kept = configFile("kept.qlc", "old contents that a failed save keeps\n");
    vsp.setResult("vsp_saveConfiguration", 0);  // as on a full disk: the library's save fails, writing nothing
    fake.dialogs.pick(kept);
    trigger("mnuSaveAs");
    EXPECT_EQ(readFile(kept), "old contents that a failed save keeps\n");
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not save configuration file " + kept});
    const QString fresh = folder.path("fresh.qlc");  // a new name: no empty file stays behind
    fake.dialogs.pick(fresh);
    trigger("mnuSaveAs");
    EXPECT_FALSE(QFileInfo::exists(fresh));

    vsp.setResult("vsp_saveConfiguration", 1);
    const QString target = configFile("lab.qlc", "old contents that must go\n");
    fake.dialogs.pick(target);
    trigger("mnuSaveAs");
    EXPECT_EQ(window->scriptFile(), target);
    EXPECT_TRUE(readFile(target).startsWith("Connector\t5;0\n"));
    EXPECT_FALSE(readFile(target).contains("old"));
    EXPECT_TRUE(window->windowTitle().contains("[lab.qlc]"));  // saved: no "*"
}

TEST_F(ConfigurationFiles, APathThatCannotBeCreatedAsksAgainUntilCancelled)
{
    fake.dialogs.pick("/proc/no-such-dir/x.qlc");
    fake.dialogs.cancel();
    trigger("mnuSaveAs");
    EXPECT_EQ(fake.dialogs.requests.size(), 2);
    EXPECT_EQ(fake.dialogs.requests[1].proposedName, "/proc/no-such-dir/x.qlc");
    EXPECT_TRUE(folder.log().contains("Error 75 (Path/File access error) in procedure mnuSaveAs_Click of Form frmMain on line 40"));
    EXPECT_TRUE(unsaved());
}

TEST_F(ConfigurationFiles, LoadStartsEmulationListsTheRedirectsAndKeepsTheUnsavedMark)
{
    const QString file = configFile("other.qlc", "Connector\t9;0\nTcpClient\tx;1;9;9600,0,8,1,0,0;1;0;\n");
    fake.dialogs.pick(file);
    trigger("mnuLoad");
    const FileDialogRequest& r = fake.dialogs.requests.at(0);
    EXPECT_EQ(r.title, "Load Configuration File");
    EXPECT_TRUE(r.mustExist);
    EXPECT_EQ(r.initialDir, folder.path(""));  // the current file's folder, with its "/"
    EXPECT_EQ(window->scriptFile(), file);
    EXPECT_EQ(rows(), QStringList{"COM9|9600,0,8,1,0,0|x|1|Emulation is OFF"});
    EXPECT_EQ(window->windowTitle(), "QuorlinVCP v2.0.0 [other.qlc*] Emulation: Running");
    EXPECT_EQ(vsp.calls().count("vsp_startEmulation"), 2);  // asked again although running

    fake.dialogs.cancel();
    trigger("mnuLoad");
    EXPECT_EQ(window->scriptFile(), file);
}

TEST_F(ConfigurationFiles, AFileTheLibraryRefusesToLoadChangesNothing)
{
    const QString before = window->scriptFile();
    fake.dialogs.pick(configFile("broken.qlc"));
    vsp.setResult("vsp_loadConfiguration", 0);
    trigger("mnuLoad");
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not load configuration file " + folder.path("broken.qlc")});
    EXPECT_EQ(window->scriptFile(), before);
    EXPECT_EQ(vsp.calls().count("vsp_startEmulation"), 1);  // the created redirect's only
}

TEST_F(ConfigurationFiles, ASaveTheLibraryRefusesKeepsTheUnsavedMark)
{
    configFile("Untitled.qlc", "");
    vsp.setResult("vsp_saveConfiguration", 0);
    trigger("mnuSave");
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not save configuration file " + folder.path("Untitled.qlc")});
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::Critical);
    EXPECT_TRUE(unsaved());
    EXPECT_TRUE(window->windowTitle().contains("[Untitled.qlc*]"));
}

// The device library itself, bound as the program binds it: a file it cannot use is
// refused at once, and the window is told why.
TEST(ConfigurationLoad, TheLibrarysRefusalSaysWhyAndComesAtOnce)
{
    TestFolder folder;
    qputenv("VSP_PORT_DIR", QFile::encodeName(folder.path("ports")));
    VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);
    ASSERT_EQ(modVSP_APIs::vsp_initialize(), 1);
    const QByteArray fifo = QFile::encodeName(folder.path("fifo.qlc")), sparse = QFile::encodeName(folder.path("big.qlc"));
    ASSERT_EQ(::mkfifo(fifo.constData(), 0600), 0);
    writeFile(folder.path("big.qlc"), "{}");
    ASSERT_EQ(::truncate(sparse.constData(), off_t(1) << 30), 0);  // 1 GiB that takes no room
    writeFile(folder.path("deep.qlc"), QByteArray(100, '[') + QByteArray(100, ']'));
    const struct {
        QString name;
        QString refusal;
    } cases[] = {{"fifo.qlc", "not a regular file"},
                 {"", "not a regular file"},
                 {"big.qlc", "larger than 1 MiB"},
                 {"deep.qlc", "nested deeper than 16 levels"}};
    for (const auto& c : cases) {
        ConfigurationDocument document;
        document.setPath(folder.path(c.name));
        QString refusal;
        const auto before = std::chrono::steady_clock::now();
        EXPECT_FALSE(document.load(&refusal));
        EXPECT_EQ(refusal, c.refusal);
        EXPECT_LT(std::chrono::steady_clock::now() - before, std::chrono::seconds(1)) << c.name.toStdString();
    }
    modVSP_APIs::vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
}

}  // namespace
