// The list's live status against the real device library and real peers: the Status
// column and the tooltips follow the connections while the window is shown, nothing
// is refreshed while it is hidden, and an adapter out of reach for a minute is worth
// one balloon per outage.
#include "AdapterServer.h"
#include "app/Settings.h"
#include "app/modSysTrayIcon.h"
#include "windows/frmMain.h"
#include "deviceapi/DiagnosticsText.h"
#include "deviceapi/VspBinding.h"
#include "deviceapi/modVSP_APIs.h"
#include "support/FakePlatform.h"
#include "support/FakeVsp.h"
#include "support/ListRows.h"
#include "support/LoopbackPeer.h"
#include "support/TestFolder.h"
#include "support/WindowParts.h"

#include <QApplication>
#include <QRegularExpression>
#include <QThread>
#include <QTreeView>
#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

namespace {

// The tooltip a row shows over one of its cells.
QString toolTipOf(const frmMain& window, int row, int column)
{
    return part<QTreeView>(window, "lstPairs")->model()->index(row, column).data(Qt::ToolTipRole).toString();
}

using namespace std::chrono_literals;

// Lets the window's events run until the condition holds.
bool runUntil(const std::function<bool()>& condition, int milliseconds = 10000)
{
    for (int waited = 0; !condition(); waited += 10) {
        if (waited > milliseconds)
            return false;
        QApplication::processEvents();
        QThread::msleep(10);
    }
    return true;
}

void runFor(int milliseconds)
{
    runUntil([] { return false; }, milliseconds);
}

QString clientInit(const QString& host, std::uint16_t port, int com)
{
    return host + QLatin1Char(';') + QString::number(port) + QLatin1Char(';') + QString::number(com) +
           QStringLiteral(";19200,0,8,1,0,0;1;0;");
}

class StatusRefreshTest : public ::testing::Test {
protected:
    void SetUp() override
    {
        qputenv("VSP_PORT_DIR", folder.path("ports").toUtf8());
        fake.state.settingsFile = folder.path("Settings.ini");
        WriteSetting(fake.state, settingsKey::WarnInSysTray, QStringLiteral("1"));
        VspBinding::instance().setLibraryFile(VspBinding::defaultLibraryFile);
        ASSERT_EQ(modVSP_APIs::vsp_initialize(), 1);
        window.emplace(fake.platform);
    }

    void TearDown() override
    {
        window.reset();
        modVSP_APIs::vsp_release();
        VspBinding::instance().unbind();
        qunsetenv("VSP_PORT_DIR");
    }

    // A redirect on COM<com> to host:port, listed by the scan that starting emulation runs.
    void addRedirect(int com, const QString& host, std::uint16_t port)
    {
        ASSERT_GE(modVSP_APIs::vsp_createDevice("Connector", QString::number(com) + QStringLiteral(";0")), 0);
        ASSERT_GE(modVSP_APIs::vsp_createDevice("TcpClient", clientInit(host, port, com)), 0);
    }

    void switchEmulation() { trigger(*window, "mnuEmulation"); }
    bool emulationRunning() const { return part<QAction>(*window, "mnuEmulation")->text() == "Stop Emulation"; }
    void startEmulation()
    {
        switchEmulation();
        ASSERT_TRUE(emulationRunning());
    }
    QTreeView* list() const { return part<QTreeView>(*window, "lstPairs"); }

    // A redirect's TcpClient (the first's by default), as the library tells it.
    static int clientState(int id = 1)
    {
        vsp_diagnostics d;
        return modVSP_APIs::vsp_getDeviceDiagnostics(id, d) ? d.state : -1;
    }
    static bool bothClientsIn(int state) { return clientState(1) == state && clientState(3) == state; }

    QString status(int index = 0) const { return listRows::rowText(list(), index, frmMain::ColStatus); }
    QString tip(int index = 0) const { return toolTipOf(*window, index, frmMain::ColComPort); }

    TestFolder folder;
    FakePlatform fake;
    std::optional<frmMain> window;
};

TEST_F(StatusRefreshTest, StatusFollowsConnectDropAndReconnectWithoutACommand)
{
    vsp::AdapterServer adapter({});
    adapter.stop();  // not reachable yet
    addRedirect(5, QStringLiteral("127.0.0.1"), adapter.port());
    startEmulation();
    window->show();
    list()->setCurrentIndex(list()->model()->index(0, 0));
    const QString record = listRows::recordText(list(), 0);
    ASSERT_EQ(status(), "Ready");

    // Every change the window shows from now on, in order, without a scan.
    QStringList seen{status()};
    auto waitForStatus = [&](const QString& wanted) {
        return runUntil([&] {
            if (seen.last() != status())
                seen << status();
            return status() == wanted;
        });
    };
    adapter.start();
    ASSERT_TRUE(waitForStatus("OK"));
    adapter.stop();  // the adapter leaves the network: the connection drops
    ASSERT_TRUE(waitForStatus("Ready"));
    adapter.start();
    ASSERT_TRUE(waitForStatus("OK"));
    EXPECT_EQ(seen, QStringList({"Ready", "OK", "Ready", "OK"}));

    // The tooltip says the same, with the reconnect counted.
    ASSERT_TRUE(runUntil([&] { return tip().contains("Reconnects: 1"); })) << tip().toStdString();
    EXPECT_TRUE(tip().contains("Connection: connected to 127.0.0.1:" + QString::number(adapter.port()))) << tip().toStdString();
    // The drop, or a refused attempt after it.
    const QRegularExpression lastError("Last error: connection (closed|reset|refused) by 127\\.0\\.0\\.1:" +
                                       QString::number(adapter.port()) + ", ");
    EXPECT_TRUE(lastError.match(tip()).hasMatch()) << tip().toStdString();
    EXPECT_TRUE(tip().contains("Serial settings the adapter acknowledged: 19200 baud, 8 data bits, no parity, 1 stop bit"))
        << tip().toStdString();
    EXPECT_TRUE(tip().contains("No application holds the port"));
    EXPECT_TRUE(tip().startsWith("COM5: " + folder.path("ports/COM5") + "\n")) << tip().toStdString();

    // Only the texts changed: the row, its record and the selection are the scan's.
    ASSERT_EQ(listRows::rowCount(list()), 1);
    EXPECT_EQ(listRows::recordText(list(), 0), record);
    EXPECT_EQ(list()->currentIndex().row(), 0);
    EXPECT_TRUE(listRows::isRowSelected(list(), 0));
    EXPECT_TRUE(emulationRunning());
    EXPECT_TRUE(folder.log().isEmpty());
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

TEST_F(StatusRefreshTest, AHiddenWindowIsNotRefreshedAndCatchesUpWhenShown)
{
    vsp::AdapterServer adapter({});
    addRedirect(5, QStringLiteral("127.0.0.1"), adapter.port());
    startEmulation();
    window->show();
    ASSERT_TRUE(runUntil([&] { return status() == "OK"; }));
    ASSERT_EQ(window->statusRefresh().timerInterval(), StatusRefresh::shownInterval);

    click(*window, "cmdHide");  // into the notification area
    ASSERT_TRUE(window->isHidden());
    // Hidden with every redirect connected, nothing runs at all. The drop the
    // library announces arms one wake-up, for when the outage would reach its limit.
    EXPECT_FALSE(window->statusRefresh().isTimerRunning());
    adapter.stop();
    ASSERT_TRUE(runUntil([&] { return window->statusRefresh().isTimerRunning(); }));
    EXPECT_LE(window->statusRefresh().timerInterval(), diagnostics::unreachableAfter);
    EXPECT_GT(window->statusRefresh().timerInterval(), diagnostics::unreachableAfter - 10s);
    runFor(1500);
    EXPECT_EQ(status(), "OK");

    fake.tray.press(TrayIconPort::Activation::LeftPress);
    ASSERT_TRUE(window->isVisible());
    EXPECT_EQ(window->statusRefresh().timerInterval(), StatusRefresh::shownInterval);
    EXPECT_EQ(status(), "Ready");  // at once on showing

    // With emulation off nothing at all runs while hidden, and a minimized window
    // counts as hidden.
    switchEmulation();
    ASSERT_FALSE(emulationRunning());
    click(*window, "cmdHide");
    EXPECT_FALSE(window->statusRefresh().isTimerRunning());
    fake.tray.press(TrayIconPort::Activation::LeftPress);
    EXPECT_TRUE(window->statusRefresh().isTimerRunning());
    window->setWindowState(Qt::WindowMinimized);
    EXPECT_FALSE(window->statusRefresh().isTimerRunning());

    // Nor with emulation on when no balloon could be shown: notification messages off.
    window->setWindowState(Qt::WindowNoState);
    switchEmulation();
    EXPECT_TRUE(window->statusRefresh().isTimerRunning());
    WriteSetting(fake.state, settingsKey::WarnInSysTray, QStringLiteral("0"));
    click(*window, "cmdHide");
    EXPECT_FALSE(window->statusRefresh().isTimerRunning());
}

// A peer that resets each connection it accepts.
void resetEach(LoopbackPeer& peer, std::atomic<bool>& done)
{
    while (!done) {
        const int fd = peer.accept(50ms);
        if (fd < 0)
            continue;
        linger abort{1, 0};
        ::setsockopt(fd, SOL_SOCKET, SO_LINGER, &abort, sizeof abort);
        ::close(fd);
    }
}

TEST_F(StatusRefreshTest, TooltipsSayWhyEachConnectionFails)
{
    vsp::AdapterServer refusing({});
    refusing.stop();
    LoopbackPeer silent;  // accepts, never answers the port-control offer
    LoopbackPeer full(0);  // its one waiting connection fills it: connections go unanswered
    ASSERT_TRUE(full.connectSelf());
    LoopbackPeer resetting;
    std::atomic<bool> done = false;
    std::thread resetter(resetEach, std::ref(resetting), std::ref(done));

    addRedirect(5, QStringLiteral("127.0.0.1"), refusing.port());
    addRedirect(6, QStringLiteral("adapter7.invalid"), 3001);
    addRedirect(7, QStringLiteral("127.0.0.1"), full.port());
    addRedirect(8, QStringLiteral("127.0.0.1"), resetting.port());
    addRedirect(9, QStringLiteral("127.0.0.1"), silent.port());
    startEmulation();
    window->show();
    ASSERT_EQ(listRows::rowCount(list()), 5);
    const QString silentAt = "127.0.0.1:" + QString::number(silent.port());

    const int held = silent.accept(5000ms);
    ASSERT_GE(held, 0);
    EXPECT_TRUE(runUntil([&] { return tip(4).contains("Connection: connected to " + silentAt + ", waiting for the adapter"); }))
        << tip(4).toStdString();
    EXPECT_TRUE(runUntil([&] { return tip(4).contains("Connection: connected to " + silentAt + "\n"); }))
        << tip(4).toStdString();
    EXPECT_TRUE(tip(4).contains("Serial settings: not acknowledged by the adapter"));
    EXPECT_FALSE(tip(4).contains("Last error"));
    EXPECT_EQ(status(4), "OK");

    const QRegularExpression refusedAt("Last error: connection refused by 127\\.0\\.0\\.1:" +
                                       QString::number(refusing.port()) + ", \\d\\d:\\d\\d:\\d\\d\n");
    EXPECT_TRUE(runUntil([&] { return refusedAt.match(tip(0)).hasMatch(); })) << tip(0).toStdString();
    EXPECT_TRUE(runUntil([&] { return tip(1).contains("Last error: name adapter7.invalid not found, "); }))
        << tip(1).toStdString();
    EXPECT_TRUE(runUntil([&] { return tip(3).contains("Last error: connection reset by 127.0.0.1:" + QString::number(resetting.port())); }))
        << tip(3).toStdString();
    EXPECT_TRUE(runUntil([&] { return tip(2).contains("Last error: no answer from 127.0.0.1:" + QString::number(full.port()) + " for 5 s, "); }))
        << tip(2).toStdString();
    for (int i = 0; i < 4; ++i) {
        EXPECT_EQ(status(i), "Ready") << i;
        EXPECT_TRUE(tip(i).contains("Serial settings: none acknowledged while not connected")) << i;
        EXPECT_TRUE(tip(i).startsWith(QStringLiteral("COM%1: ").arg(5 + i) + folder.path(QStringLiteral("ports/COM%1").arg(5 + i))))
            << tip(i).toStdString();
    }
    done = true;
    resetter.join();
    ::close(held);
}

TEST_F(StatusRefreshTest, AnAdapterOutOfReachForAMinuteIsToldOncePerOutageWhileHidden)
{
    auto now = std::chrono::steady_clock::now();
    window->statusRefresh().setClock([&] { return now; });
    vsp::AdapterServer adapter({});  // one for each redirect: an adapter port serves one client
    vsp::AdapterServer other({});
    const auto switchAdapters = [&](bool on) {
        for (vsp::AdapterServer* server : {&adapter, &other})
            on ? server->start() : server->stop();
    };
    switchAdapters(false);
    addRedirect(5, QStringLiteral("127.0.0.1"), adapter.port());
    addRedirect(6, QStringLiteral("127.0.0.1"), other.port());
    startEmulation();
    window->show();
    ASSERT_TRUE(runUntil([&] { return tip(0).contains("connection refused") && tip(1).contains("connection refused"); }));

    // Shown: the tooltip tells, no balloon does.
    now += diagnostics::unreachableAfter;
    window->statusRefresh().refresh();
    EXPECT_TRUE(tip().contains("The adapter cannot be reached: down for 1 min 00 s")) << tip().toStdString();

    click(*window, "cmdHide");
    ASSERT_EQ(fake.tray.balloons.size(), 1);  // "hidden in the system tray"
    // Both outages are past their minute: they wait until that balloon has been
    // shown its time, then one balloon tells both (a second would replace the first).
    runFor(300);
    EXPECT_EQ(fake.tray.balloons.size(), 1);
    EXPECT_TRUE(window->statusRefresh().isTimerRunning());
    EXPECT_EQ(window->statusRefresh().timerInterval(), StatusRefresh::balloonShowsFor);
    now += StatusRefresh::balloonShowsFor;
    window->statusRefresh().refresh();
    ASSERT_EQ(fake.tray.balloons.size(), 2);
    EXPECT_EQ(fake.tray.balloons[1].first, "QuorlinVCP: COM5, COM6 are down");
    const QStringList lines = fake.tray.balloons[1].second.split('\n');
    ASSERT_EQ(lines.size(), 2) << fake.tray.balloons[1].second.toStdString();
    for (int i = 0; i < 2; ++i) {
        EXPECT_TRUE(lines[i].startsWith(QStringLiteral("COM%1 has not reached its adapter 127.0.0.1:").arg(5 + i) +
                                        QString::number((i == 0 ? adapter : other).port()) + " for 1 min 10 s."))
            << lines[i].toStdString();
        EXPECT_TRUE(lines[i].contains("connection refused by 127.0.0.1:"));
    }
    now += 10min;
    window->statusRefresh().refresh();
    EXPECT_EQ(fake.tray.balloons.size(), 2);  // once per outage

    // Connected again: the outage ends; the next one is told again after its minute.
    switchAdapters(true);
    ASSERT_TRUE(runUntil([&] { return bothClientsIn(VSP_STATE_UP); }));
    window->statusRefresh().refresh();
    switchAdapters(false);
    ASSERT_TRUE(runUntil([&] { return bothClientsIn(VSP_STATE_RETRY_WAIT); }));
    window->statusRefresh().refresh();
    now += 59s;
    window->statusRefresh().refresh();
    EXPECT_EQ(fake.tray.balloons.size(), 2);
    now += 1s;
    window->statusRefresh().refresh();
    EXPECT_EQ(fake.tray.balloons.size(), 3);

    // Nothing when the user turned notification messages off.
    WriteSetting(fake.state, settingsKey::WarnInSysTray, QStringLiteral("0"));
    switchAdapters(true);
    ASSERT_TRUE(runUntil([&] { return bothClientsIn(VSP_STATE_UP); }));
    window->statusRefresh().refresh();
    switchAdapters(false);
    ASSERT_TRUE(runUntil([&] { return bothClientsIn(VSP_STATE_RETRY_WAIT); }));
    window->statusRefresh().refresh();
    now += 2min;
    window->statusRefresh().refresh();
    EXPECT_EQ(fake.tray.balloons.size(), 3);
    EXPECT_TRUE(fake.messages.shown.isEmpty());
}

TEST(StatusRefreshWithoutDiagnostics, FollowsTheFlagsByTheScansRuleAndStillTellsWhereThePortIs)
{
    TestFolder folder;
    qputenv("VSP_PORT_DIR", folder.path("ports").toUtf8());
    FakeVsp vsp;  // a library without the diagnostics call
    vsp.addDevice("Connector", "5;0");
    const int client = vsp.addDevice("TcpClient", "h;3001;5;19200,0,8,1,0,0;1;0;");
    vsp.addDevice("Connector", "6;0");  // a port without a client
    FakePlatform fake;
    frmMain window(fake.platform);
    window.ScanAvailPairs();
    ASSERT_EQ(listRows::rowCount(part<QTreeView>(window, "lstPairs")), 2);
    window.show();
    const auto status = [&](int row) { return listRows::rowText(part<QTreeView>(window, "lstPairs"), row, frmMain::ColStatus); };

    EXPECT_EQ(status(0), "Emulation is OFF");
    vsp.setFlags(client, 1, 0);
    EXPECT_TRUE(runUntil([&] { return status(0) == "Ready"; }, 2000));
    vsp.setFlags(client, 1, 1);
    EXPECT_TRUE(runUntil([&] { return status(0) == "OK"; }, 2000));
    vsp.setFlags(client, 0, 1);
    runFor(700);
    EXPECT_EQ(status(0), "OK");  // the OK flag wins, as in the scan
    vsp.setFlags(client, 0, 2);  // only 1 counts as set
    EXPECT_TRUE(runUntil([&] { return status(0) == "Emulation is OFF"; }, 2000));
    EXPECT_EQ(status(1), "Initializing");

    EXPECT_EQ(toolTipOf(window, 0, frmMain::ColStatus),
              "COM5: " + folder.path("ports/COM5") + "\nConnection: the device library gives no diagnostics");
    EXPECT_EQ(toolTipOf(window, 1, frmMain::ColHost),
              "COM6: " + folder.path("ports/COM6") + "\nConnection: no TcpClient");
    EXPECT_FALSE(vsp.calls().contains("vsp_startEmulation"));
    EXPECT_FALSE(vsp.calls().contains("vsp_stopEmulation"));
    EXPECT_FALSE(vsp.calls().contains("vsp_destroy"));
    EXPECT_TRUE(folder.log().isEmpty());
    qunsetenv("VSP_PORT_DIR");
}

}  // namespace
