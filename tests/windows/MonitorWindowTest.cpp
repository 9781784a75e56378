// A redirect's monitor window against the real device library and a simulated
// adapter, opened from the list's pop-up: it waits for emulation, then shows a
// program's data and the adapter's echo in two colours, the speed change as a
// command and in the settings, as hex on request, nothing while paused and all of
// it after; Save... writes a capture, or says why not; Find selects a match; the same
// redirect gets the same window; the end of the stream is said.
#include "AdapterServer.h"
#include "RawPort.h"
#include "deviceapi/VspBinding.h"
#include "deviceapi/modVSP_APIs.h"
#include "support/FakePlatform.h"
#include "support/RealLibrary.h"
#include "support/ListRows.h"
#include "support/TestFolder.h"
#include "support/WindowParts.h"
#include "windows/MonitorWindow.h"
#include "windows/frmMain.h"

#include <QCheckBox>
#include <QComboBox>
#include <QLabel>
#include <QLineEdit>
#include <QMouseEvent>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QTest>
#include <QTreeView>
#include <gtest/gtest.h>
#include <poll.h>
#include <unistd.h>

namespace {

void rightClickRow(frmMain& window, int row)
{
    auto* list = part<QTreeView>(window, "lstPairs");
    const QPoint at = listRows::rowRect(list, row).center();
    QMouseEvent press(QEvent::MouseButtonPress, QPointF(at), list->viewport()->mapToGlobal(QPointF(at)), Qt::RightButton,
                      Qt::RightButton, Qt::NoModifier);
    QCoreApplication::sendEvent(list->viewport(), &press);
}

std::string readSome(int fd, std::size_t size)
{
    std::string got;
    char buffer[256];
    while (got.size() < size) {
        pollfd p{fd, POLLIN, 0};
        if (::poll(&p, 1, 5000) <= 0)
            break;
        const ssize_t n = ::read(fd, buffer, sizeof buffer);
        if (n <= 0)
            break;
        got.append(buffer, static_cast<std::size_t>(n));
    }
    return got;
}

TEST(MonitorWindowEndToEnd, ShowsTheConversationTheSettingsAndTheStreamsEnd)
{
    RealLibrary world;
    auto& [folder, fake] = world;
    vsp::AdapterServer adapter({.echo = true});
    {
        frmMain window(fake.platform);
        window.Form_Load();
        trigger(window, "mnuCreate");
        part<QComboBox>(window, "cmbComPort")->setCurrentText("COM5");
        part<QLineEdit>(window, "txtHostAddress")->setText("127.0.0.1");
        part<QLineEdit>(window, "txtHostPort")->setText(QString::number(adapter.port()));
        click(window, "cmdNewRedirect(0)");
        ASSERT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 19200u; }));
        trigger(window, "mnuEmulation");  // stopped: nothing to watch yet
        ASSERT_EQ(part<QAction>(window, "mnuEmulation")->text(), "Start Emulation");

        rightClickRow(window, 0);
        ASSERT_TRUE(fake.popups.shown.back().contains("Monitor"));
        trigger(window, "mnuMonitor");
        ASSERT_EQ(window.findChildren<MonitorWindow*>().size(), 1);
        MonitorWindow& monitor = *window.findChildren<MonitorWindow*>().front();
        const auto status = [&] { return part<QLabel>(monitor, "lblStatus")->text(); };
        auto* traffic = part<QPlainTextEdit>(monitor, "txtTraffic");
        const auto shows = [&](const QString& text) {
            return QTest::qWaitFor([&] { return traffic->toPlainText().contains(text); }, 5000);
        };
        EXPECT_TRUE(status().contains("COM5 is not running")) << status().toStdString();
        trigger(window, "mnuEmulation");
        ASSERT_TRUE(QTest::qWaitFor([&] { return status().startsWith("Monitoring COM5"); }, 5000)) << status().toStdString();

        const int fd = openRawPort(QFile::encodeName(folder.path("ports/COM5")).toStdString(), PortIo::Blocking);
        ASSERT_GE(fd, 0);
        ASSERT_EQ(::write(fd, "hello\r\n", 7), 7);
        EXPECT_EQ(readSome(fd, 7), "hello\r\n");
        termios t{};
        ::tcgetattr(fd, &t);
        ::cfsetspeed(&t, B9600);
        ::tcsetattr(fd, TCSANOW, &t);
        ASSERT_TRUE(adapter.waitFor([&] { return adapter.settings().baud == 9600u; }));
        EXPECT_TRUE(shows("\u25B6 hello\\r\\n")) << traffic->toPlainText().toStdString();
        EXPECT_TRUE(shows("\u25C0 hello\\r\\n"));
        EXPECT_TRUE(shows("\u25B7 SET-BAUDRATE 9600"));
        EXPECT_TRUE(QTest::qWaitFor([&] { return part<QLabel>(monitor, "lblSettings")->text() == "9600 8N1, no flow control"; }));
        const auto colourOf = [&](const QString& text) {
            return traffic->document()->find(text).charFormat().foreground().color();
        };
        EXPECT_NE(colourOf("\u25B6 hello"), colourOf("\u25C0 hello"));

        part<QCheckBox>(monitor, "chkHex")->setChecked(true);
        EXPECT_TRUE(traffic->toPlainText().contains("\u25B6 68 65 6C 6C 6F 0D 0A"));
        click(monitor, "cmdPause");
        ASSERT_EQ(::write(fd, "more", 4), 4);
        EXPECT_EQ(readSome(fd, 4), "more");
        QTest::qWait(300);
        EXPECT_FALSE(traffic->toPlainText().contains("6D 6F 72 65"));
        click(monitor, "cmdPause");
        EXPECT_TRUE(shows("\u25C0 6D 6F 72 65"));
        ::close(fd);

        const QString capture = folder.path("COM5.pcapng");
        fake.dialogs.pick(capture);
        click(monitor, "cmdSave");
        QFile saved(capture);
        ASSERT_TRUE(saved.open(QIODevice::ReadOnly));
        const QByteArray bytes = saved.readAll();
        EXPECT_TRUE(bytes.startsWith("\x0A\x0D\x0D\x0A"));  // a pcapng section
        EXPECT_TRUE(bytes.contains("hello\r\n") && bytes.contains("more"));
        fake.dialogs.pick(folder.path("no-such-folder/COM5.pcapng"));
        click(monitor, "cmdSave");
        EXPECT_EQ(fake.messages.texts(), QStringList{"Error: can not write " + folder.path("no-such-folder/COM5.pcapng")});

        part<QLineEdit>(monitor, "txtFind")->setText("SET-BAUDRATE");
        click(monitor, "cmdFindNext");
        EXPECT_EQ(traffic->textCursor().selectedText(), "SET-BAUDRATE");

        trigger(window, "mnuMonitor");  // the same redirect: the same window
        EXPECT_EQ(window.findChildren<MonitorWindow*>().size(), 1);
        trigger(window, "mnuEmulation");
        EXPECT_TRUE(QTest::qWaitFor([&] { return status().startsWith("COM5 stopped"); }, 5000)) << status().toStdString();
        EXPECT_TRUE(folder.log().isEmpty()) << folder.log().toStdString();
    }
    modVSP_APIs::vsp_release();
    VspBinding::instance().unbind();
    qunsetenv("VSP_PORT_DIR");
}

}  // namespace
