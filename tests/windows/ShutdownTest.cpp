#include "windows/SessionEnd.h"
#include "app/platform/SessionRequest.h"
#include "support/MainWindowFixture.h"

#include <QApplication>

namespace {

// The session manager's side of a save request.
class ScriptedSession : public SessionRequest {
public:
    bool allowsInteraction() override
    {
        ++interactionRequests;
        return interaction;
    }
    void cancel() override { cancelled = true; }
    bool interaction = true;
    int interactionRequests = 0;
    bool cancelled = false;
};

class Shutdown : public MainWindowFixture {
protected:
    void SetUp() override
    {
        MainWindowFixture::SetUp();
        window->Form_Load();
        vsp.reset();
        window->show();
    }
    std::int16_t close(int reason)
    {
        return window->Form_QueryUnload(reason) ? 1 : 0;
    }
    QString lastFile() { return ReadIni("QuorlinVCP", "ScriptLoadLASTFILE", fake.state.settingsFile); }
    const QString prompt = "Changes to Untitled.qlc haven't been saved yet.  Would you like to save them now?";
};

TEST_F(Shutdown, TheWindowsOwnCloseOnlyHidesItWithoutAQuestion)
{
    window->m_ConfigChanged = true;
    EXPECT_EQ(close(closeReason::windowClose), 1);
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(window->m_HiddenInTray);
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    EXPECT_TRUE(vsp.calls().isEmpty());
}

TEST_F(Shutdown, EveryOtherReasonAsksAndCancelOrAFailedSaveKeepsTheProgramRunning)
{
    window->m_ConfigChanged = true;
    for (int reason : {closeReason::exitCommand, closeReason::sessionEnd, closeReason::terminate, closeReason::other}) {
        fake.messages.shown.clear();
        fake.messages.answers = {msgbox::Answer::Cancel};
        EXPECT_EQ(close(reason), 1) << reason;
        ASSERT_EQ(fake.messages.shown.size(), 1);
        const msgbox::Request& asked = fake.messages.shown[0];
        EXPECT_EQ(asked.text, prompt);
        EXPECT_EQ(asked.caption, "Save changes?");
        EXPECT_EQ(asked.buttons, msgbox::Buttons::YesNoCancel);
        EXPECT_EQ(asked.icon, msgbox::Icon::Question);
        EXPECT_EQ(asked.defaultAnswer, msgbox::Answer::Yes);
    }
    // Yes, then the save dialog is cancelled: the file does not exist, the close is refused.
    fake.messages.answers = {msgbox::Answer::Yes};
    fake.dialogs.cancel();
    EXPECT_EQ(close(closeReason::exitCommand), 1);
    // Yes, and the library refuses the save: refused as well.
    writeFile(window->scriptFile(), "");
    vsp.setResult("vsp_saveConfiguration", 0);
    fake.messages.answers = {msgbox::Answer::Yes};
    EXPECT_EQ(close(closeReason::exitCommand), 1);
    EXPECT_FALSE(vsp.calls().contains("vsp_release"));
    EXPECT_EQ(lastFile(), "");
}

TEST_F(Shutdown, NoClosesAndRecordsTheCurrentFileAnyway)
{
    window->m_ConfigChanged = true;
    fake.messages.answers = {msgbox::Answer::No};
    EXPECT_EQ(close(closeReason::exitCommand), 0);
    EXPECT_EQ(lastFile(), folder.path("Untitled.qlc"));
    EXPECT_FALSE(vsp.calls().contains("vsp_saveConfiguration"));
    EXPECT_EQ(vsp.calls(), "vsp_stopEmulation\nvsp_release\n");
}

TEST_F(Shutdown, YesSavesThenCloses)
{
    window->m_ConfigChanged = true;
    fake.messages.answers = {msgbox::Answer::Yes};
    fake.dialogs.pick(folder.path("kept.qlc"));
    EXPECT_EQ(close(closeReason::sessionEnd), 0);
    EXPECT_TRUE(QFile::exists(folder.path("kept.qlc")));
    EXPECT_EQ(lastFile(), folder.path("kept.qlc"));
}

TEST_F(Shutdown, ClosingFromTheTrayRemovesTheIconAndARefusedStopStillReleases)
{
    window->cmdHide_Click();
    ASSERT_TRUE(fake.tray.shown);
    vsp.setResult("vsp_stopEmulation", 0);
    EXPECT_EQ(close(closeReason::terminate), 0);
    EXPECT_FALSE(fake.tray.shown);
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: emulation can not be stopped: maybe one of the devices is still in use."});
    EXPECT_TRUE(vsp.calls().endsWith("vsp_release\n"));
}

TEST_F(Shutdown, ExitClosesTheWindowThroughTheCloseHandler)
{
    window->mnuExit_Click();
    EXPECT_TRUE(window->hasClosed());
    EXPECT_TRUE(vsp.calls().endsWith("vsp_release\n"));
    EXPECT_EQ(lastFile(), folder.path("Untitled.qlc"));
}

TEST_F(Shutdown, ASessionSaveRequestAsksOnlyWhenAllowedAndNeverEndsTheProgram)
{
    ScriptedSession session;
    window->sessionSaveRequest(session);  // nothing to save: no interaction asked for
    EXPECT_EQ(session.interactionRequests, 0);
    window->m_ConfigChanged = true;
    session.interaction = false;
    window->sessionSaveRequest(session);
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    EXPECT_FALSE(session.cancelled);

    session.interaction = true;
    fake.messages.answers = {msgbox::Answer::Cancel};
    window->sessionSaveRequest(session);
    EXPECT_EQ(fake.messages.texts(), QStringList{prompt});
    EXPECT_TRUE(session.cancelled);  // the session manager is asked to go on with the session

    // A checkpoint: Yes saves, and the program goes on running.
    ScriptedSession checkpoint;
    fake.messages.answers = {msgbox::Answer::Yes};
    fake.dialogs.pick(folder.path("kept.qlc"));
    window->sessionSaveRequest(checkpoint);
    EXPECT_FALSE(checkpoint.cancelled);
    EXPECT_TRUE(QFile::exists(folder.path("kept.qlc")));
    EXPECT_FALSE(window->m_ConfigChanged);
    EXPECT_FALSE(window->hasClosed());
    EXPECT_FALSE(vsp.calls().contains("vsp_stopEmulation"));
    EXPECT_FALSE(vsp.calls().contains("vsp_release"));
    EXPECT_EQ(lastFile(), "");
}

TEST_F(Shutdown, TheSessionsQuitRequestClosesDownWithoutAQuestionOrABox)
{
    window->m_ConfigChanged = true;  // answered "No" while the session manager allowed it
    window->cmdHide_Click();
    vsp.setResult("vsp_stopEmulation", 0);
    SessionEndWatcher watcher(*qApp, *window);
    QEvent other(QEvent::LanguageChange);
    watcher.eventFilter(qApp, &other);
    EXPECT_FALSE(window->hasClosed());

    QEvent quit(QEvent::Quit);
    watcher.eventFilter(qApp, &quit);
    EXPECT_TRUE(window->hasClosed());
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    EXPECT_FALSE(fake.tray.shown);
    EXPECT_EQ(lastFile(), folder.path("Untitled.qlc"));
    EXPECT_TRUE(vsp.calls().endsWith("vsp_stopEmulation\nvsp_release\n"));
    // Closing the windows, as Qt's quit goes on to do, does not close down twice.
    vsp.reset();
    window->show();
    EXPECT_TRUE(window->close());
    watcher.eventFilter(qApp, &quit);
    EXPECT_TRUE(vsp.calls().isEmpty());
}

}  // namespace
