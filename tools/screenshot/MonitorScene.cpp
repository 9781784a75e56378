#include "MonitorScene.h"

#include "RawPort.h"
#include "deviceapi/modVSP_APIs.h"
#include "windows/frmMain.h"
#include "vspdevices_ports.h"

#include <QAction>
#include <QTimer>
#include <QTreeView>
#include <string>
#include <unistd.h>
#include <vector>

namespace {
std::vector<std::uint8_t> bytes(const std::string& text)
{
    return {text.begin(), text.end()};
}
}  // namespace

MonitorScene::MonitorScene() : adapter_({}) {}

MonitorScene::~MonitorScene()
{
    if (port_ >= 0)
        ::close(port_);
}

QWidget* MonitorScene::start(frmMain& window)
{
    using namespace modVSP_APIs;
    vsp_createDevice(QStringLiteral("Connector"), QStringLiteral("5;0"));
    vsp_createDevice(QStringLiteral("TcpClient"),
                     QStringLiteral("127.0.0.1;%1;5;19200,1,8,1,0,0;1;0;").arg(adapter_.port()));
    window.ScanAvailPairs();
    window.findChild<QAction*>(QStringLiteral("mnuEmulation"))->trigger();
    auto* list = window.findChild<QTreeView*>(QStringLiteral("lstPairs"));
    list->setCurrentIndex(list->model()->index(0, 0));
    window.findChild<QAction*>(QStringLiteral("mnuMonitor"))->trigger();
    QWidget* monitor = window.findChild<QWidget*>(QStringLiteral("frmMonitor(COM5)"));

    const auto write = [this](const std::string& text) {
        if (port_ >= 0 && ::write(port_, text.data(), text.size()) < 0)
            return;
    };
    const std::vector<std::function<void()>> steps = {
        [this] {
            port_ = openRawPort(vspdevices::portLinkPath(5));
            termios t{};
            ::tcgetattr(port_, &t);
            ::cfsetspeed(&t, B9600);
            ::tcsetattr(port_, TCSANOW, &t);
        },
        [=] { write("*IDN?\r\n"); },
        [this] { adapter_.send(bytes("QUORLIN,TH-200,SN04417,1.3\r\n")); },
        [=] { write("MEAS:TEMP?\r\n"); },
        [this] { adapter_.send(bytes("+23.47\r\n")); },
        [=] { write(std::string("\x01\x03\x00\x10\x00\x02\xC5\xCE", 8)); },
        [this] { adapter_.send(bytes(std::string("\x01\x03\x04\x00\xEB\x01\x9A\x3B\x5C", 9))); },
        [=] { write("MEAS:HUM?\r\n"); },
        [this] { adapter_.send(bytes("41.2\r\n")); },
    };
    for (std::size_t i = 0; i < steps.size(); ++i)
        QTimer::singleShot(static_cast<int>(100 * (i + 1)), monitor, steps[i]);
    return monitor;
}
