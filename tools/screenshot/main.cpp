// screenshot: shows the main window on the display (run it under Xvfb, see
// tools/screenshot/screenshot) and writes a PNG of it, to check by eye that every
// caption fits and the fonts read well.
//   screenshot OUTPUT.png [--rows] [--editor [--tls]] [--options] [--about] [--monitor]
//   --rows    list two redirects from the device library (emulation stays off)
//   --editor  open the editor as the Create command does, over the list
//   --tls     with --editor: its TLS box checked, as the user checks it
//   --options / --about  draw the options dialog or the about box instead
//   --monitor draw a redirect's monitor window with a conversation (MonitorScene)
#include "app/AppIcon.h"
#include "app/ProgramState.h"
#include "app/Settings.h"
#include "app/platform/QtPlatform.h"
#include "windows/frmAbout.h"
#include "windows/frmMain.h"
#include "windows/frmOptions.h"
#include "deviceapi/modVSP_APIs.h"
#include "MonitorScene.h"

#include <QAction>
#include <QApplication>
#include <QCheckBox>
#include <QGroupBox>
#include <QTimer>
#include <cstdio>
#include <optional>

int main(int argc, char** argv)
{
    QApplication application(argc, argv);
    const QStringList args = QApplication::arguments();
    if (args.size() < 2) {
        std::fprintf(stderr, "usage: screenshot OUTPUT.png [--rows] [--editor [--tls]] [--options] [--about] [--monitor]\n");
        return 2;
    }
    qputenv("VSP_PORT_DIR", QByteArray("/tmp/screenshot-ports"));
    QtPlatform platform(appIcon());
    ProgramState state;  // no settings file: every setting at its default
    platform.platform().state = &state;
    std::optional<MonitorScene> scene;  // outlives the window, whose library talks to it
    if (args.contains(QStringLiteral("--monitor")))
        scene.emplace();
    frmMain window(platform.platform());
    window.setScriptFile(QStringLiteral("/home/user/Untitled.qlc"));
    window.Form_Load();  // the editor's choices, the library's version
    if (args.contains(QStringLiteral("--rows"))) {
        using namespace modVSP_APIs;
        vsp_createDevice(QStringLiteral("Connector"), QStringLiteral("5;0"));
        vsp_createDevice(QStringLiteral("TcpClient"), QStringLiteral("192.168.0.100;3001;5;19200,0,8,1,0,0;1;0;"));
        vsp_createDevice(QStringLiteral("Connector"), QStringLiteral("12;0"));
        vsp_createDevice(QStringLiteral("TcpClient"), QStringLiteral("adapter.lab.example;3002;12;115200,1,8,1,0,50;1;0;"));
        window.ScanAvailPairs();
    }
    if (args.contains(QStringLiteral("--editor"))) {
        // Opened the way the Create command opens it: over the list, which it covers.
        window.findChild<QAction*>(QStringLiteral("mnuCreate"))->trigger();
        if (args.contains(QStringLiteral("--tls")))
            window.findChild<QCheckBox*>(QStringLiteral("chkTls"))->click();
    }
    frmOptions options(platform.platform(), window.titleText());
    frmAbout about;
    QWidget* shown = &window;
    int settleMs = 500;
    if (scene) {
        shown = scene->start(window);
        settleMs += MonitorScene::durationMs;
    } else if (args.contains(QStringLiteral("--options"))) {
        options.Form_Load();
        shown = &options;
    } else if (args.contains(QStringLiteral("--about"))) {
        about.Form_Load();
        shown = &about;
    }
    shown->show();
    QTimer::singleShot(settleMs, [&] {
        const bool saved = shown->grab().save(args[1]);
        std::printf("%s %s\n", saved ? "wrote" : "could not write", qPrintable(args[1]));
        modVSP_APIs::vsp_release();
        QApplication::exit(saved ? 0 : 1);
    });
    return QApplication::exec();
}
