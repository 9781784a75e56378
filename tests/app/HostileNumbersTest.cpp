// No failure reaches the event loop: numbers that overflow or make no sense, typed
// into the editor's numeric boxes or stored in the settings file, are logged under
// the nearest procedure and the program goes on. Driven through the real window's
// own events (Tab out of a box, a click on Hide), the way a user meets them.
#include "app/HandlerBoundary.h"
#include "windows/StartUp.h"
#include "windows/frmOptions.h"
#include "support/EditorFixture.h"

#include <QApplication>
#include <QCheckBox>
#include <QKeyEvent>
#include <QRadioButton>

namespace {

QByteArray logLine(const char* procedure, const char* unit = "Form frmMain", int line = 0)
{
    return QString("Error 6 (Overflow) in procedure %1 of %2 on line %3\r\n").arg(procedure, unit).arg(line).toUtf8();
}

TEST(HandlerBoundary, AFailureLeavingAConnectedHandlerIsLoggedUnderItsNameAndGoesNoFurther)
{
    TestFolder folder;
    int received = 0;
    auto throwing = handler<int>(Trap("cmdHide_Click"), [&](int value) {
        received = value;
        throw RuntimeError(ErrorCode::Overflow);
    });
    EXPECT_NO_THROW(throwing(42));
    EXPECT_EQ(received, 42);
    EXPECT_TRUE(folder.log().endsWith(logLine("cmdHide_Click")));

    EXPECT_FALSE(runHandler(Trap("Form_Load", Trap::UnitKind::Form, "frmOptions"), [] { throw 7; }));
    EXPECT_TRUE(folder.log().endsWith(
        "Error 51 (Internal error: unknown failure) in procedure Form_Load of Form frmOptions on line 0\r\n"));
    EXPECT_TRUE(runHandler(Trap("X"), [] {}));
    EXPECT_EQ(folder.log().count("\r\n"), 4);  // heading, rule, two failures
}

class HostileNumbers : public EditorFixture {
protected:
    // Types text into the box and leaves it with Tab, as a user does.
    void typeAndTab(QLineEdit* box, const QString& text)
    {
        window->activateWindow();
        box->setFocus(Qt::OtherFocusReason);
        box->setText(text);
        QKeyEvent tab(QEvent::KeyPress, Qt::Key_Tab, Qt::NoModifier);
        QApplication::sendEvent(box, &tab);
    }
};

TEST_F(HostileNumbers, EveryNumericBoxReplacesWhatNoNumberCanHoldAndLogsIt)
{
    trigger("mnuCreate");
    struct Case {
        const char* typed;
        const char* left;  // what the box holds afterwards
        bool overflows;
        bool message;
    };
    const QString huge(400, QLatin1Char('9'));
    const Case cases[] = {
        {"1e999x", "0", true, true},
        {"1e999", "0", true, true},
        {"-1e999", "0", true, true},
        {"  1E+999  ", "0", true, true},
        {"1e-999x", "0", false, true},  // too small is simply 0
        {"x1e999", "0", false, true},
        {"30a1", "30", false, true},
        {"", "0", false, true},
        {"1.5e308", "1.5e308", false, false},
        {"-5", "-5", false, false},
        {" 2.5e3 ", " 2.5e3 ", false, false},
        {".5", ".5", false, false},
    };
    for (const char* name : {"txtHostPort", "txtRIT"}) {
        QLineEdit* box = this->box(name);
        const QByteArray procedure = QByteArray(name) + "_Validate";
        for (const Case& c : cases) {
            const QByteArray logBefore = folder.log();
            const qsizetype messagesBefore = fake.messages.shown.size();
            typeAndTab(box, c.typed);
            EXPECT_EQ(box->text(), c.left) << procedure.constData() << " " << c.typed;
            EXPECT_FALSE(box->hasFocus()) << c.typed;  // the focus moved on
            EXPECT_EQ(fake.messages.shown.size() - messagesBefore, c.message ? 1 : 0) << c.typed;
            const QByteArray added = folder.log().mid(logBefore.size());
            EXPECT_EQ(added.endsWith(logLine(procedure.constData())), c.overflows) << procedure.constData() << " " << c.typed << ": " << added.constData();
        }
        typeAndTab(box, huge);  // digits only, beyond any number
        EXPECT_EQ(box->text(), "0");
    }
    EXPECT_TRUE(editorShown());
    EXPECT_EQ(fake.messages.shown.value(0).text, "Only number are allowed.");
    EXPECT_EQ(fake.messages.shown.value(0).icon, msgbox::Icon::None);
}

TEST_F(HostileNumbers, EveryNumericSettingThatCannotBeReadIsLoggedAndTheProgramGoesOn)
{
    for (const char* value : {"1e999", "1e999x", "-1e999", " 9e9999 "}) {
        SCOPED_TRACE(value);
        // Hidden at start-up: the window stays shown.
        WriteIni("QuorlinVCP", "LoadInSysTray", value, fake.state.settingsFile);
        QByteArray before = folder.log();
        hideWhenAskedAtStart(*window, fake.state);
        EXPECT_FALSE(window->isHidden());
        EXPECT_FALSE(fake.tray.shown);
        EXPECT_TRUE(folder.log().mid(before.size()).endsWith(logLine("Main", "Module modMain")));

        // The notification on hiding: the window still hides, without a balloon.
        WriteIni("QuorlinVCP", "WarnInSysTray", value, fake.state.settingsFile);
        before = folder.log();
        click("cmdHide");
        EXPECT_TRUE(window->isHidden());
        EXPECT_TRUE(fake.tray.shown);
        EXPECT_TRUE(fake.tray.shown);
        EXPECT_TRUE(fake.tray.balloons.isEmpty());
        EXPECT_TRUE(folder.log().mid(before.size()).endsWith(logLine("cmdHide_Click")));
        fake.tray.press(TrayIconPort::Activation::LeftPress);
        EXPECT_FALSE(window->isHidden());

        // The auto-load option at initialization: nothing is loaded.
        WriteIni("QuorlinVCP", "ScriptLoadOPT", value, fake.state.settingsFile);
        fake.state.scriptLoadOpt = 0;
        before = folder.log();
        window->Form_Load();
        EXPECT_EQ(fake.state.scriptLoadOpt, 0);
        EXPECT_TRUE(folder.log().mid(before.size()).contains(logLine("Form_Load", "Form frmMain", 90)));

        // The options dialog reads all three.
        before = folder.log();
        frmOptions options(fake.platform, window->titleText(), window.get());
        options.Form_Load();
        EXPECT_FALSE(options.chkLoadInSysTray->isChecked());
        EXPECT_FALSE(options.chkWarnInSysTray->isChecked());
        EXPECT_TRUE(options.optScriptOpt[0]->isChecked());
        const QByteArray added = folder.log().mid(before.size());
        for (int line : {30, 40, 50})
            EXPECT_TRUE(added.contains(logLine("Form_Load", "Form frmOptions", line))) << line;
    }
}

TEST_F(HostileNumbers, MalformedSettingsReadAsZeroWithoutALogLine)
{
    for (const char* value : {"x1", "yes", "", "-", "e5", "."}) {
        SCOPED_TRACE(value);
        for (const char* key : {"LoadInSysTray", "WarnInSysTray", "ScriptLoadOPT"})
            WriteIni("QuorlinVCP", key, value, fake.state.settingsFile);
        hideWhenAskedAtStart(*window, fake.state);
        EXPECT_FALSE(window->isHidden());
        click("cmdHide");
        EXPECT_TRUE(window->isHidden());
        EXPECT_TRUE(fake.tray.balloons.isEmpty());
        fake.tray.press(TrayIconPort::Activation::LeftPress);
        window->Form_Load();
        frmOptions options(fake.platform, window->titleText(), window.get());
        options.Form_Load();
        EXPECT_TRUE(options.optScriptOpt[0]->isChecked());
    }
    EXPECT_TRUE(folder.log().isEmpty());
}

}  // namespace
