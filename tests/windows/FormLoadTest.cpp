#include "support/MainWindowFixture.h"

#include <QComboBox>
#include <QLabel>

namespace {

class FormLoad : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        window->setScriptFile({});  // what the command line left: nothing
        fake.state.scriptLoadOpt = 0;
        vsp.setVersion("fake 9.9");
    }
    QString untitled() const { return folder.path("Untitled.qlc"); }
    QString saved(const QString& name)
    {
        const QString path = folder.path(name);
        writeFile(path, "Connector\t5;0\nTcpClient\th;3001;5;19200,0,8,1,0,0;1;0;\n");
        return path;
    }
    static QStringList items(const QComboBox* box)
    {
        QStringList list;
        for (int i = 0; i < box->count(); ++i)
            list << box->itemText(i);
        return list;
    }
};

TEST_F(FormLoad, WithoutSettingsOrCommandLineNothingIsLoadedAndTheFileIsUntitled)
{
    window->Form_Load();
    EXPECT_EQ(window->scriptFile(), untitled());
    EXPECT_EQ(window->windowTitle(), "QuorlinVCP v2.0.0 [Untitled.qlc] Emulation: Stopped");
    EXPECT_EQ(listRows::rowCount(list()), 0);
    EXPECT_EQ(part<QLabel>("lblAPIVer")->text(), "fake 9.9");
    EXPECT_EQ(vsp.calls(), "vsp_getVersionInformation\nvsp_initialize\nvsp_stopEmulation\nvsp_destroyAllDevices\n");
    EXPECT_EQ(fake.cursor.depth, 0);
    EXPECT_TRUE(fake.messages.shown.isEmpty());

    EXPECT_EQ(items(choice("cmbBaud")), QString("110,300,1200,2400,4800,9600,19200,38400,57600,115200,230400,460800,921600").split(','));
    EXPECT_EQ(items(choice("cmbDTRRTS")), (QStringList{"no", "yes"}));
    EXPECT_EQ(items(choice("cmbParity")), (QStringList{"no", "odd", "even", "mark", "space"}));
    EXPECT_EQ(items(choice("cmbBits")), (QStringList{"7", "8"}));
    EXPECT_EQ(items(choice("cmbStopBits")), (QStringList{"1", "2"}));
    EXPECT_EQ(choice("cmbComPort")->count(), 0);
}

TEST_F(FormLoad, ACommandLineFileWinsAndTheOptionIsNotRead)
{
    WriteIni("QuorlinVCP", "ScriptLoadOPT", "2", fake.state.settingsFile);
    WriteIni("QuorlinVCP", "ScriptLoadCONSTFILE", saved("fixed.qlc"), fake.state.settingsFile);
    window->setScriptFile(saved("given.qlc"));
    window->Form_Load();
    EXPECT_EQ(window->scriptFile(), folder.path("given.qlc"));
    EXPECT_EQ(fake.state.scriptLoadOpt, 0);
    EXPECT_TRUE(vsp.calls().contains("vsp_loadConfiguration " + folder.path("given.qlc")));
    EXPECT_TRUE(vsp.emulationRunning());
    EXPECT_EQ(listRows::rowCount(list()), 1);
    EXPECT_EQ(window->windowTitle(), "QuorlinVCP v2.0.0 [given.qlc] Emulation: Running");
}

TEST_F(FormLoad, TheOptionPicksTheLastOrTheFixedFile)
{
    WriteIni("QuorlinVCP", "ScriptLoadOPT", "1", fake.state.settingsFile);
    WriteIni("QuorlinVCP", "ScriptLoadLASTFILE", saved("last.qlc"), fake.state.settingsFile);
    window->Form_Load();
    EXPECT_EQ(fake.state.scriptLoadOpt, 1);
    EXPECT_EQ(window->scriptFile(), folder.path("last.qlc"));
    EXPECT_TRUE(emulationRunning());
}

TEST_F(FormLoad, AMissingStoredFileIsNotLoadedButStaysCurrent)
{
    WriteIni("QuorlinVCP", "ScriptLoadOPT", "1", fake.state.settingsFile);  // and no ScriptLoadLASTFILE
    window->Form_Load();
    EXPECT_EQ(window->scriptFile(), untitled());

    window->setScriptFile({});
    WriteIni("QuorlinVCP", "ScriptLoadOPT", "2", fake.state.settingsFile);
    WriteIni("QuorlinVCP", "ScriptLoadCONSTFILE", folder.path("gone.qlc"), fake.state.settingsFile);
    window->Form_Load();
    EXPECT_EQ(window->scriptFile(), folder.path("gone.qlc"));
    EXPECT_FALSE(vsp.calls().contains("vsp_loadConfiguration"));
    EXPECT_TRUE(window->windowTitle().contains("[gone.qlc]"));
}

TEST_F(FormLoad, AnOptionOver255IsLoggedAndNothingIsLoaded)
{
    WriteIni("QuorlinVCP", "ScriptLoadOPT", "300", fake.state.settingsFile);
    WriteIni("QuorlinVCP", "ScriptLoadCONSTFILE", saved("fixed.qlc"), fake.state.settingsFile);
    window->Form_Load();
    EXPECT_EQ(fake.state.scriptLoadOpt, 0);
    EXPECT_TRUE(folder.log().contains("Error 6 (Overflow) in procedure Form_Load of Form frmMain on line 90"));
    EXPECT_FALSE(vsp.calls().contains("vsp_loadConfiguration"));
    EXPECT_EQ(window->scriptFile(), untitled());
}

TEST_F(FormLoad, InitializationErrorIsShownOnceAndStartUpGoesOn)
{
    vsp.setResult("vsp_initialize", 0);
    window->Form_Load();
    ASSERT_EQ(fake.messages.texts(), QStringList{"Initialization error"});
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::None);
    EXPECT_EQ(fake.messages.shown[0].caption, "QuorlinVCP");
    EXPECT_EQ(choice("cmbBaud")->count(), 13);
    EXPECT_TRUE(vsp.calls().contains("vsp_destroyAllDevices"));
}

TEST_F(FormLoad, AFileTheLibraryRefusesIsReportedAndTreatedAsNotLoaded)
{
    window->setScriptFile(saved("corrupt.qlc"));
    vsp.setResult("vsp_loadConfiguration", 0);
    window->Form_Load();
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not load configuration file " + folder.path("corrupt.qlc")});
    EXPECT_EQ(fake.messages.shown[0].icon, msgbox::Icon::Critical);
    EXPECT_EQ(window->scriptFile(), folder.path("corrupt.qlc"));
    EXPECT_FALSE(emulationRunning());
    EXPECT_EQ(window->windowTitle(), "QuorlinVCP v2.0.0 [corrupt.qlc] Emulation: Stopped");
}

}  // namespace
