#include "support/MainWindowFixture.h"

namespace {

class ConfigurationFiles : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        window->Form_Load();  // the untitled start: nothing loaded
        vsp.addDevice("Connector", "5;0");
        vsp.addDevice("TcpClient", "h;3001;5;19200,0,8,1,0,0;1;0;");
        window->m_ConfigChanged = true;
        window->UpdateTitle();
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
    EXPECT_FALSE(window->mnuSave_Click());
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
    EXPECT_TRUE(window->m_ConfigChanged);
    EXPECT_FALSE(vsp.calls().contains("vsp_saveConfiguration"));
}

TEST_F(ConfigurationFiles, AnExistingCurrentFileIsWrittenWithoutADialog)
{
    configFile("Untitled.qlc", "");
    EXPECT_TRUE(window->mnuSave_Click());
    EXPECT_TRUE(fake.dialogs.requests.isEmpty());
    EXPECT_EQ(readFile(folder.path("Untitled.qlc")), "Connector\t5;0\nTcpClient\th;3001;5;19200,0,8,1,0,0;1;0;\n");
    EXPECT_FALSE(window->m_ConfigChanged);
    EXPECT_EQ(window->windowTitle(), "QuorlinVCP v2.0.0 [Untitled.qlc] Emulation: Stopped");
}

TEST_F(ConfigurationFiles, SaveAsOntoAnExistingFileEmptiesAndWritesIt)
{
    const QString target = configFile("lab.qlc", "old contents that must go\n");
    fake.dialogs.pick(target);
    EXPECT_TRUE(window->mnuSaveAs_Click());
    EXPECT_EQ(window->scriptFile(), target);
    EXPECT_TRUE(readFile(target).startsWith("Connector\t5;0\n"));
    EXPECT_FALSE(readFile(target).contains("old"));
    EXPECT_TRUE(window->windowTitle().contains("[lab.qlc]"));
}

TEST_F(ConfigurationFiles, APathThatCannotBeCreatedAsksAgainUntilCancelled)
{
    fake.dialogs.pick("/proc/no-such-dir/x.qlc");
    fake.dialogs.cancel();
    EXPECT_FALSE(window->mnuSaveAs_Click());
    EXPECT_EQ(fake.dialogs.requests.size(), 2);
    EXPECT_EQ(fake.dialogs.requests[1].proposedName, "/proc/no-such-dir/x.qlc");
    EXPECT_TRUE(folder.log().contains("Error 75 (Path/File access error) in procedure mnuSaveAs_Click of Form frmMain on line 40"));
    EXPECT_TRUE(window->m_ConfigChanged);
}

TEST_F(ConfigurationFiles, LoadStartsEmulationListsTheRedirectsAndKeepsTheUnsavedMark)
{
    const QString file = configFile("other.qlc", "Connector\t9;0\nTcpClient\tx;1;9;9600,0,8,1,0,0;1;0;\n");
    fake.dialogs.pick(file);
    window->mnuLoad_Click();
    const FileDialogRequest& r = fake.dialogs.requests.at(0);
    EXPECT_EQ(r.title, "Load Configuration File");
    EXPECT_TRUE(r.mustExist);
    EXPECT_EQ(r.initialDir, folder.path(""));  // the current file's folder, with its "/"
    EXPECT_EQ(window->scriptFile(), file);
    EXPECT_EQ(rows(), QStringList{"COM9|9600,0,8,1,0,0|x|1|Emulation is OFF"});
    EXPECT_EQ(window->windowTitle(), "QuorlinVCP v2.0.0 [other.qlc*] Emulation: Running");

    fake.dialogs.cancel();
    window->mnuLoad_Click();
    EXPECT_EQ(window->scriptFile(), file);
}

TEST_F(ConfigurationFiles, AFileTheLibraryRefusesToLoadChangesNothing)
{
    const QString before = window->scriptFile();
    fake.dialogs.pick(configFile("broken.qlc"));
    vsp.setResult("vsp_loadConfiguration", 0);
    window->mnuLoad_Click();
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not load configuration file " + folder.path("broken.qlc")});
    EXPECT_EQ(window->scriptFile(), before);
    EXPECT_FALSE(vsp.calls().contains("vsp_startEmulation"));
    EXPECT_FALSE(window->emulationRunning());
}

TEST_F(ConfigurationFiles, ASaveTheLibraryRefusesKeepsTheUnsavedMark)
{
    configFile("Untitled.qlc", "");
    vsp.setResult("vsp_saveConfiguration", 0);
    EXPECT_FALSE(window->mnuSave_Click());
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not save configuration file " + folder.path("Untitled.qlc")});
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::Critical);
    EXPECT_TRUE(window->m_ConfigChanged);
    EXPECT_TRUE(window->windowTitle().contains("[Untitled.qlc*]"));
}

}  // namespace
