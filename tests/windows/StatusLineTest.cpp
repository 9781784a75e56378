#include "app/modSysTrayIcon.h"
#include "support/MainWindowFixture.h"

namespace {

class StatusLine : public MainWindowFixture {
protected:
    void hide() { window->DisplayStatus(false); }
};

const QString balloonTitle = "QuorlinVCP notification";
const QString balloonText = "QuorlinVCP is hidden in the system tray. Left-click on the icon to display again.  "
                            "You may disable this warning in the options.";

TEST_F(StatusLine, TitleNamesProgramVersionFileUnsavedMarkAndEmulation)
{
    window->setScriptFile(folder.path("office.qlc"));
    window->Form_Load();
    EXPECT_EQ(window->windowTitle(), "QuorlinVCP v2.0.0 [office.qlc] Emulation: Stopped");
    createRedirect();
    EXPECT_EQ(window->titleText(), "QuorlinVCP v2.0.0 [office.qlc*] Emulation: Running");
    EXPECT_EQ(window->windowTitle(), window->titleText());
}

TEST_F(StatusLine, HidingTwiceAddsOneIconAndOneBalloonAndALeftPressBringsTheWindowBack)
{
    WriteIni("QuorlinVCP", "WarnInSysTray", "1", fake.state.settingsFile);
    window->Form_Load();
    window->show();
    hide();
    hide();
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(fake.tray.shown);
    EXPECT_EQ(fake.tray.adds, 1);
    EXPECT_EQ(fake.tray.toolTip, window->titleText());
    ASSERT_EQ(fake.tray.balloons.size(), 1);
    EXPECT_EQ(fake.tray.balloons[0].first, balloonTitle);
    EXPECT_EQ(fake.tray.balloons[0].second, balloonText);

    for (auto other : {TrayIconPort::Activation::DoubleClick, TrayIconPort::Activation::Context,
                       TrayIconPort::Activation::MiddleClick, TrayIconPort::Activation::Other})
        fake.tray.press(other);
    EXPECT_TRUE(window->isHidden());
    fake.tray.press(TrayIconPort::Activation::LeftPress);
    EXPECT_FALSE(window->isHidden());
    EXPECT_FALSE(fake.tray.shown);
    EXPECT_EQ(fake.tray.removes, 1);

    window->DisplayStatus(true);  // showing a shown window deletes nothing
    EXPECT_EQ(fake.tray.removes, 1);
}

TEST_F(StatusLine, NoBalloonWithoutSupportOrWithoutTheSettingAndLongTooltipsAreCut)
{
    WriteIni("QuorlinVCP", "WarnInSysTray", "1", fake.state.settingsFile);
    fake.tray.messages = false;
    window->setScriptFile("/cfg/" + QString(150, 'x') + ".qlc");
    window->Form_Load();
    hide();
    EXPECT_TRUE(fake.tray.balloons.isEmpty());
    EXPECT_EQ(fake.tray.toolTip, window->titleText().left(127));
    EXPECT_EQ(window->windowTitle(), window->titleText());  // the caption shows it whole

    fake.tray.press(TrayIconPort::Activation::LeftPress);
    fake.tray.messages = true;
    WriteIni("QuorlinVCP", "WarnInSysTray", "2", fake.state.settingsFile);
    hide();
    EXPECT_TRUE(fake.tray.balloons.isEmpty());
}

TEST_F(StatusLine, WithoutANotificationAreaHidingMinimizesInstead)
{
    fake.tray.available = false;
    window->show();
    click("cmdHide");
    EXPECT_FALSE(window->isHidden());
    EXPECT_TRUE(window->isMinimized());
    EXPECT_FALSE(fake.tray.shown);
    EXPECT_EQ(fake.tray.adds, 0);
}

}  // namespace
