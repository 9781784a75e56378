#include "windows/frmOptions.h"
#include "config/modReg.h"
#include "support/MainWindowFixture.h"

#include <QCheckBox>
#include <QDir>
#include <QLineEdit>
#include <QPushButton>
#include <QRadioButton>

namespace {

class Options : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        savedDirs = qgetenv("XDG_CONFIG_DIRS");
        savedHome = qgetenv("XDG_CONFIG_HOME");
        qputenv("XDG_CONFIG_DIRS", folder.path("xdg").toUtf8());
        qputenv("XDG_CONFIG_HOME", folder.path("home").toUtf8());
        QDir().mkpath(folder.path("xdg/autostart"));
        fake.state.scriptLoadOpt = 0;
    }
    void TearDown() override
    {
        qputenv("XDG_CONFIG_DIRS", savedDirs);
        if (savedHome.isEmpty())
            qunsetenv("XDG_CONFIG_HOME");
        else
            qputenv("XDG_CONFIG_HOME", savedHome);
        MainWindowFixture::TearDown();
    }
    std::unique_ptr<frmOptions> open()
    {
        auto dialog = std::make_unique<frmOptions>(fake.platform, titleText);
        dialog->Form_Load();
        return dialog;
    }
    QString stored(const char* key) { return ReadIni("QuorlinVCP", key, fake.state.settingsFile); }
    QString entry() const { return folder.path("xdg/autostart/QuorlinVCP.desktop"); }
    QString userEntry() const { return folder.path("home/autostart/QuorlinVCP.desktop"); }
    const QString titleText = "QuorlinVCP v2.0.0 [Untitled.qlc] Emulation: Stopped";
    QByteArray savedDirs;
    QByteArray savedHome;
};

TEST_F(Options, OpeningAndClosingWithoutChangesRewritesEverySetting)
{
    auto dialog = open();
    EXPECT_EQ(dialog->chkWindowsStart->toolTip(),
              "Tick here to have QuorlinVCP v2.0.0 [Untitled.qlc] Emulation: Stopped load with Windows.");
    EXPECT_TRUE(dialog->optScriptOpt[0]->isChecked());
    EXPECT_FALSE(dialog->txtConstScript->isEnabled());
    EXPECT_FALSE(dialog->cmdBrowse->isEnabled());
    dialog->cmdClose_Click();
    EXPECT_EQ(stored("LoadInSysTray"), "0");
    EXPECT_EQ(stored("WarnInSysTray"), "0");
    EXPECT_EQ(stored("ScriptLoadOPT"), "0");
    EXPECT_EQ(stored("ScriptLoadCONSTFILE"), folder.path("Untitled.qlc"));  // the proposal is stored
    EXPECT_FALSE(QFile::exists(entry()));
    EXPECT_TRUE(folder.log().isEmpty());
}

TEST_F(Options, ChoicesRoundTripThroughTheSettingsAndTheStartUpEntry)
{
    writeFile(folder.path("fixed.qlc"), "x");
    auto dialog = open();
    dialog->chkWindowsStart->setChecked(true);
    dialog->chkLoadInSysTray->setChecked(true);
    dialog->chkWarnInSysTray->setChecked(true);
    dialog->optScriptOpt[2]->click();
    EXPECT_TRUE(dialog->txtConstScript->isEnabled());
    EXPECT_TRUE(dialog->cmdBrowse->isEnabled());
    fake.dialogs.pick(folder.path("fixed.qlc"));
    dialog->cmdBrowse_Click();
    EXPECT_EQ(fake.dialogs.requests.at(0).title, "Load Configuration File");
    EXPECT_EQ(fake.dialogs.requests.at(0).initialDir, folder.path(""));
    dialog->cmdClose_Click();

    EXPECT_EQ(stored("LoadInSysTray"), "1");
    EXPECT_EQ(stored("WarnInSysTray"), "1");
    EXPECT_EQ(stored("ScriptLoadOPT"), "2");
    EXPECT_EQ(stored("ScriptLoadCONSTFILE"), folder.path("fixed.qlc"));
    EXPECT_EQ(ReadRegValue(runKeyPath(), "QuorlinVCP"), frmOptions::programPath());

    auto again = open();
    EXPECT_TRUE(again->chkWindowsStart->isChecked());
    EXPECT_TRUE(again->chkLoadInSysTray->isChecked());
    EXPECT_TRUE(again->optScriptOpt[2]->isChecked());
    EXPECT_EQ(again->txtConstScript->text(), folder.path("fixed.qlc"));
    again->chkWindowsStart->setChecked(false);
    again->cmdClose_Click();
    EXPECT_FALSE(QFile::exists(entry()));
}

TEST_F(Options, WithoutRightsToTheMachineWideFolderTheUsersOwnEntryIsKept)
{
    // A machine-wide folder below a plain file cannot be written, not even by root.
    writeFile(folder.path("plain"), "");
    qputenv("XDG_CONFIG_DIRS", folder.path("plain").toUtf8());
    auto dialog = open();
    EXPECT_FALSE(dialog->chkWindowsStart->isChecked());
    dialog->chkWindowsStart->setChecked(true);
    dialog->cmdClose_Click();
    EXPECT_TRUE(readFile(userEntry()).contains("\nExec=" + desktopExecValue(frmOptions::programPath()).toUtf8() + "\n"));
    EXPECT_TRUE(folder.log().isEmpty());

    auto again = open();
    EXPECT_TRUE(again->chkWindowsStart->isChecked());
    again->chkWindowsStart->setChecked(false);
    again->cmdClose_Click();
    EXPECT_FALSE(QFile::exists(userEntry()));
    EXPECT_FALSE(open()->chkWindowsStart->isChecked());

    // Where neither folder takes the entry, the failure is logged, not passed over.
    qputenv("XDG_CONFIG_HOME", folder.path("plain/home").toUtf8());
    auto failing = open();
    failing->chkWindowsStart->setChecked(true);
    failing->cmdClose_Click();
    const QByteArray log = folder.log();
    EXPECT_TRUE(log.contains("Error 75 (Path/File access error: " + folder.path("plain/home/autostart/QuorlinVCP.desktop").toUtf8()));
    EXPECT_TRUE(log.contains(") in procedure Form_QueryUnload of Form frmOptions on line 10")) << log.toStdString();
}

TEST_F(Options, EitherEntryWithACommandTicksTheBoxAndUntickingRemovesBoth)
{
    QDir().mkpath(folder.path("home/autostart"));
    writeFile(userEntry(), "[Desktop Entry]\nType=Application\nExec=/opt/q/quorlinvcp\n");
    EXPECT_TRUE(open()->chkWindowsStart->isChecked());
    writeFile(userEntry(), "[Desktop Entry]\nType=Application\nExec=\n");
    EXPECT_FALSE(open()->chkWindowsStart->isChecked());
    writeFile(entry(), "[Desktop Entry]\nType=Application\nExec=/opt/q/quorlinvcp\n");
    auto dialog = open();
    EXPECT_TRUE(dialog->chkWindowsStart->isChecked());
    dialog->chkWindowsStart->setChecked(false);
    dialog->cmdClose_Click();
    EXPECT_FALSE(QFile::exists(entry()));
    EXPECT_FALSE(QFile::exists(userEntry()));

    // A writable machine-wide folder takes the entry, and a user entry that would hide it goes.
    writeFile(userEntry(), "[Desktop Entry]\nType=Application\nExec=/old/place/quorlinvcp\n");
    auto ticking = open();
    ticking->chkWindowsStart->setChecked(true);
    ticking->cmdClose_Click();
    EXPECT_EQ(ReadRegValue(runKeyPath(), "QuorlinVCP"), frmOptions::programPath());
    EXPECT_FALSE(QFile::exists(userEntry()));
}

TEST_F(Options, StoredValuesOutOfRangeAreLoggedAndLeaveTheirWidgetsAlone)
{
    WriteIni("QuorlinVCP", "ScriptLoadOPT", "7", fake.state.settingsFile);
    WriteIni("QuorlinVCP", "LoadInSysTray", "5", fake.state.settingsFile);
    auto dialog = open();
    EXPECT_TRUE(dialog->optScriptOpt[0]->isChecked());
    EXPECT_FALSE(dialog->txtConstScript->isEnabled());
    EXPECT_FALSE(dialog->chkLoadInSysTray->isChecked());
    EXPECT_EQ(fake.state.scriptLoadOpt, 7);
    EXPECT_TRUE(folder.log().contains("Error 380 (Invalid property value) in procedure Form_Load of Form frmOptions on line 30"));
    EXPECT_TRUE(folder.log().contains("Error 9 (Subscript out of range) in procedure Form_Load of Form frmOptions on line 70"));
    dialog->cmdClose_Click();
    EXPECT_EQ(stored("ScriptLoadOPT"), "7");  // written back as it was

    WriteIni("QuorlinVCP", "ScriptLoadOPT", "256", fake.state.settingsFile);
    fake.state.scriptLoadOpt = 1;
    open();
    EXPECT_EQ(fake.state.scriptLoadOpt, 1);
    EXPECT_TRUE(folder.log().contains("Error 6 (Overflow) in procedure Form_Load of Form frmOptions on line 50"));
}

}  // namespace
