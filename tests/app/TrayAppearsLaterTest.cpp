// The real program on a virtual desktop whose notification area comes up after it
// started: started hidden, it is minimized for want of a notification area; once
// the panel is there, Hide puts it into the notification area and a left click on
// the icon must bring the window back normal and active, every time.
#include "support/MainWindowFixture.h"
#include "support/PortableInstall.h"
#include "support/TestFolder.h"
#include "support/VirtualDisplay.h"
#include "support/WaitFor.h"

#include <QDir>
#include <QFile>
#include <QFileInfo>
#include <QProcess>
#include <QRect>
#include <QRegularExpression>
#include <QStandardPaths>
#include <QThread>
#include <functional>
#include <gtest/gtest.h>
#include <unistd.h>

namespace {

// An X server of the test's own with a window manager, and the X tools to look at
// and click on it the way a user would.
class Desktop {
public:
    static QStringList missingTools()
    {
        QStringList missing;
        for (const char* tool : {"Xvfb", "openbox", "trayer", "xdotool", "xprop", "xwininfo"})
            if (QStandardPaths::findExecutable(QString::fromLatin1(tool)).isEmpty())
                missing << QString::fromLatin1(tool);
        return missing;
    }

    Desktop()
    {
        if (display_.name().isEmpty())
            return;
        // The server takes connections once it has announced its number.
        start(windowManager_, "openbox", {});
        waitFor([this] { return windowManager_.state() != QProcess::Running || isManaged(); }, 30000);
        managed_ = isManaged();
    }
    ~Desktop()
    {
        for (QProcess* p : {&panel_, &windowManager_}) {
            p->terminate();
            p->waitForFinished(3000);
        }
    }
    bool ready() const { return managed_; }
    bool isManaged() const { return run("xprop", {"-root", "_NET_SUPPORTING_WM_CHECK"}).contains("window id"); }
    // Why the desktop did not come up: what the server and the window manager said.
    std::string failure()
    {
        return QStringLiteral("display \"%1\": %2; window manager: %3")
            .arg(display_.name(), display_.errors(), QString::fromLocal8Bit(windowManager_.readAllStandardError()))
            .toStdString();
    }
    QProcessEnvironment environment() const
    {
        QProcessEnvironment env = display_.environment();
        env.remove("DBUS_SESSION_BUS_ADDRESS");  // the notification area is the panel's, not a session bus's
        return env;
    }

    // The notification area comes up: a panel that embeds icons.
    bool startPanel()
    {
        start(panel_, "trayer", {"--edge", "top", "--align", "right", "--widthtype", "request", "--height", "24"});
        return waitFor([this] { return tree().contains(QRegularExpression(R"("panel": \("panel" "trayer"\))")); });
    }

    QString run(const char* tool, const QStringList& arguments) const
    {
        QProcess p;
        p.setProcessEnvironment(environment());
        p.start(QString::fromLatin1(tool), arguments);
        p.waitForFinished(5000);
        return QString::fromUtf8(p.readAllStandardOutput());
    }
    QString tree() const { return run("xwininfo", {"-root", "-tree"}); }

    // The id of the top-level window whose title begins with the text, or "".
    QString windowTitled(const QString& title) const
    {
        const QRegularExpression line(QStringLiteral(R"(^\s*(0x[0-9a-f]+) "%1)").arg(QRegularExpression::escape(title)),
                                      QRegularExpression::MultilineOption);
        return line.match(tree()).captured(1);
    }
    // "Normal", "Iconic" or "" (withdrawn: not shown at all).
    QString wmState(const QString& window) const
    {
        return QRegularExpression(R"(window state: (\w+))").match(run("xprop", {"-id", window, "WM_STATE"})).captured(1);
    }
    bool isViewable(const QString& window) const { return run("xwininfo", {"-id", window}).contains("IsViewable"); }
    bool isActive(const QString& window) const
    {
        const QString active = run("xprop", {"-root", "_NET_ACTIVE_WINDOW"});
        return active.contains(QStringLiteral("# 0x%1").arg(window.mid(2).toUInt(nullptr, 16), 0, 16));
    }
    // The geometry of a window: its size and its place on the screen.
    QRect geometry(const QString& window) const
    {
        const QString info = run("xwininfo", {"-id", window});
        auto value = [&](const char* name) {
            return QRegularExpression(QStringLiteral(R"(%1:\s+(-?\d+))").arg(QString::fromLatin1(name))).match(info).captured(1).toInt();
        };
        return QRect(value("Absolute upper-left X"), value("Absolute upper-left Y"), value("Width"), value("Height"));
    }
    // The program's icon as the panel embeds it: its place on the screen.
    QRect embeddedIcon() const
    {
        const QRegularExpression icon(R"((0x[0-9a-f]+) "QuorlinVCP": \("quorlinvcp" "QuorlinVCP"\)\s+\d+x\d+\+-?\d+\+-?\d+\s+\+(\d+)\+(\d+))");
        const auto match = icon.match(tree());
        if (!match.hasMatch())
            return {};
        const QRect g = geometry(match.captured(1));
        return QRect(match.captured(2).toInt(), match.captured(3).toInt(), g.width(), g.height());
    }
    void leftClickAt(const QPoint& screen) const
    {
        run("xdotool", {"mousemove", QString::number(screen.x()), QString::number(screen.y()), "click", "1"});
    }

private:
    void start(QProcess& process, const char* program, const QStringList& arguments)
    {
        process.setProcessEnvironment(environment());
        process.start(QString::fromLatin1(program), arguments);
        process.waitForStarted(5000);
    }

    VirtualDisplay display_;
    bool managed_ = false;
    QProcess windowManager_;
    QProcess panel_;
};

// The same story on the scripted notification area.
class TrayAppearsLaterScripted : public MainWindowFixture {};

TEST_F(TrayAppearsLaterScripted, ShowingBringsTheWindowBackNormalWhateverHappenedBefore)
{
    fake.tray.available = false;
    window->show();
    click("cmdHide");
    ASSERT_TRUE(window->isMinimized());
    for (bool restoredFromTaskBar : {false, true}) {
        SCOPED_TRACE(restoredFromTaskBar);
        if (restoredFromTaskBar)
            window->showNormal();
        fake.tray.available = true;
        click("cmdHide");
        EXPECT_TRUE(window->isHidden());
        EXPECT_TRUE(fake.tray.shown);
        fake.tray.press(TrayIconPort::Activation::LeftPress);
        EXPECT_FALSE(fake.tray.shown);
        EXPECT_FALSE(window->isHidden());
        EXPECT_FALSE(window->isMinimized());
        fake.tray.available = false;
        click("cmdHide");
    }
}

TEST(TrayAppearsLater, AfterTheMinimizedFallbackTheIconStillBringsTheWindowBackNormalAndActive)
{
    if (const QStringList missing = Desktop::missingTools(); !missing.isEmpty())
        GTEST_SKIP() << "not installed (scripts/setup installs them): " << missing.join(' ').toStdString();
    Desktop desktop;
    ASSERT_TRUE(desktop.ready()) << "no virtual display with a window manager: " << desktop.failure();

    // A portable install of its own, set to start hidden.
    TestFolder folder;
    const QString install = makePortableInstall(folder.path("install"));
    ASSERT_FALSE(install.isEmpty()) << "the program could not be copied";
    writeFile(install + "/Settings.ini", "[QuorlinVCP]\r\nLoadInSysTray=1\r\n");

    QProcessEnvironment env = desktop.environment();
    env.insert("VSP_PORT_DIR", folder.path("ports"));
    QProcess program;
    program.setProcessEnvironment(env);
    program.start(install + "/quorlinvcp", {});
    ASSERT_TRUE(program.waitForStarted(10000));

    // No notification area yet: the window is minimized, reachable from a task bar.
    QString window;
    ASSERT_TRUE(waitFor([&] { return !(window = desktop.windowTitled("QuorlinVCP v2.0.0")).isEmpty(); }));
    ASSERT_TRUE(waitFor([&] { return desktop.wmState(window) == "Iconic"; })) << desktop.wmState(window).toStdString();

    // The panel comes up; the user brings the window back from the task bar.
    ASSERT_TRUE(desktop.startPanel());
    desktop.run("xdotool", {"windowactivate", window});
    ASSERT_TRUE(waitFor([&] { return desktop.wmState(window) == "Normal" && desktop.isViewable(window); }));

    for (int round = 0; round < 2; ++round) {
        SCOPED_TRACE(round);
        // Hide: the button at the bottom right of the window, once the window stands still.
        ASSERT_TRUE(waitFor([&] { return desktop.isActive(window); }));
        QRect frame;
        ASSERT_TRUE(waitFor([&] {
            const QRect before = frame;
            frame = desktop.geometry(window);
            return frame == before;
        }));
        auto hidden = [&] { return !desktop.isViewable(window) && !desktop.embeddedIcon().isEmpty(); };
        for (int attempt = 0; attempt < 3 && !hidden(); ++attempt) {
            desktop.leftClickAt(frame.topLeft() + QPoint(516, frame.height() - 27));
            waitFor(hidden, 5000);
        }
        ASSERT_TRUE(hidden()) << "state " << desktop.wmState(window).toStdString();

        desktop.leftClickAt(desktop.embeddedIcon().center());
        EXPECT_TRUE(waitFor([&] {
            return desktop.wmState(window) == "Normal" && desktop.isViewable(window) && desktop.isActive(window);
        })) << "state " << desktop.wmState(window).toStdString();
        EXPECT_TRUE(waitFor([&] { return desktop.embeddedIcon().isEmpty(); }));
    }

    program.terminate();
    EXPECT_TRUE(program.waitForFinished(10000));
    EXPECT_FALSE(QFile::exists(install + "/ErrorLog.txt")) << readFile(install + "/ErrorLog.txt").toStdString();
}

}  // namespace
