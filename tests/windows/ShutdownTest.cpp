#include "windows/SessionEnd.h"
#include "app/platform/SessionRequest.h"
#include "support/EditorFixture.h"

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

class Shutdown : public EditorFixture {
protected:
    // Whether the window closed down for the reason.
    bool closes(int reason)
    {
        window->requestClose(reason);
        return window->hasClosed();
    }
    QString lastFile() { return ReadIni("QuorlinVCP", "ScriptLoadLASTFILE", fake.state.settingsFile); }
    const QString prompt = "Changes to Untitled.qlc haven't been saved yet.  Would you like to save them now?";
};

TEST_F(Shutdown, TheWindowsOwnCloseOnlyHidesItWithoutAQuestion)
{
    makeUnsavedChange();
    EXPECT_FALSE(closes(closeReason::windowClose));
    EXPECT_TRUE(window->isHidden());
    EXPECT_TRUE(fake.tray.shown);
    EXPECT_TRUE(fake.messages.shown.isEmpty());
    EXPECT_TRUE(vsp.calls().isEmpty());
}

TEST_F(Shutdown, EveryOtherReasonAsksAndCancelOrAFailedSaveKeepsTheProgramRunning)
{
    makeUnsavedChange();
    for (int reason : {closeReason::exitCommand, closeReason::sessionEnd, closeReason::terminate, closeReason::other}) {
        fake.messages.shown.clear();
        fake.messages.answers = {msgbox::Answer::Cancel};
        EXPECT_FALSE(closes(reason)) << reason;
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
    EXPECT_FALSE(closes(closeReason::exitCommand));
    // Yes, and the library refuses the save: refused as well.
    writeFile(window->scriptFile(), "");
    vsp.setResult("vsp_saveConfiguration", 0);
    fake.messages.answers = {msgbox::Answer::Yes};
    EXPECT_FALSE(closes(closeReason::exitCommand));
    EXPECT_FALSE(vsp.calls().contains("vsp_release"));
    EXPECT_EQ(lastFile(), "");
}

TEST_F(Shutdown, NoClosesAndRecordsTheCurrentFileAnyway)
{
    makeUnsavedChange();
    fake.messages.answers = {msgbox::Answer::No};
    EXPECT_TRUE(closes(closeReason::exitCommand));
    EXPECT_EQ(lastFile(), folder.path("Untitled.qlc"));
    EXPECT_FALSE(vsp.calls().contains("vsp_saveConfiguration"));
    EXPECT_EQ(vsp.calls(), "vsp_stopEmulation\nvsp_release\n");
}

TEST_F(Shutdown, YesSavesThenCloses)
{
    makeUnsavedChange();
    fake.messages.answers = {msgbox::Answer::Yes};
    fake.dialogs.pick(folder.path("kept.qlc"));
    EXPECT_TRUE(closes(closeReason::sessionEnd));
    EXPECT_TRUE(QFile::exists(folder.path("kept.qlc")));
    EXPECT_EQ(lastFile(), folder.path("kept.qlc"));
}

TEST_F(Shutdown, ClosingFromTheTrayRemovesTheIconAndARefusedStopStillReleases)
{
    click("cmdHide");
    ASSERT_TRUE(fake.tray.shown);
    vsp.setResult("vsp_stopEmulation", 0);
    EXPECT_TRUE(closes(closeReason::terminate));
    EXPECT_FALSE(fake.tray.shown);
    EXPECT_EQ(fake.messages.texts(), QStringList{"Error: emulation can not be stopped: maybe one of the devices is still in use."});
    EXPECT_TRUE(vsp.calls().endsWith("vsp_release\n"));
}

TEST_F(Shutdown, ExitClosesTheWindowThroughTheCloseHandler)
{
    trigger("mnuExit");
    EXPECT_TRUE(window->hasClosed());
    EXPECT_TRUE(vsp.calls().endsWith("vsp_release\n"));
    EXPECT_EQ(lastFile(), folder.path("Untitled.qlc"));
}

TEST_F(Shutdown, ASessionSaveRequestAsksOnlyWhenAllowedAndNeverEndsTheProgram)
{
    ScriptedSession session;
    window->sessionSaveRequest(session);  // nothing to save: no interaction asked for
    EXPECT_EQ(session.interactionRequests, 0);
    makeUnsavedChange();
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
    EXPECT_FALSE(unsaved());
    EXPECT_FALSE(window->hasClosed());
    EXPECT_FALSE(vsp.calls().contains("vsp_stopEmulation"));
    EXPECT_FALSE(vsp.calls().contains("vsp_release"));
    EXPECT_EQ(lastFile(), "");
}

TEST_F(Shutdown, TheSessionsQuitRequestClosesDownWithoutAQuestionOrABox)
{
    makeUnsavedChange();  // answered "No" while the session manager allowed it
    click("cmdHide");
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
    EXPECT_FALSE(vsp.calls().contains("vsp_stopEmulation")) << vsp.calls().toStdString();
    EXPECT_FALSE(vsp.calls().contains("vsp_release"));
}

}  // namespace
