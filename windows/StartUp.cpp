#include "windows/StartUp.h"

#include "app/AppIcon.h"
#include "app/CommandLine.h"
#include "app/HandlerBoundary.h"
#include "app/ProgramFiles.h"
#include "app/Settings.h"
#include "app/SingleInstance.h"
#include "app/StartRequest.h"
#include "app/TerminationSignal.h"
#include "app/platform/QtPlatform.h"
#include "windows/ServiceExclusion.h"
#include "windows/SessionEnd.h"
#include "windows/frmMain.h"
#include "Version.h"
#include "vspdevices_limits.h"
#include "vspdevices_ports.h"

#include <QApplication>
#include <cstdio>
#include <cstdlib>

namespace {
bool hasEnvironment(const char* name)
{
    const char* value = std::getenv(name);
    return value && *value;
}
}  // namespace

const char* missingDisplayReason()
{
    if (hasEnvironment("DISPLAY") || hasEnvironment("WAYLAND_DISPLAY") || hasEnvironment("QT_QPA_PLATFORM"))
        return "";
    return "QuorlinVCP needs a graphical desktop: neither DISPLAY nor WAYLAND_DISPLAY is set.\n"
           "Start it from a desktop session, or set QT_QPA_PLATFORM=offscreen to run it without one.";
}

int Main(int argc, char** argv)
{
    SingleInstance instance(QString::fromUtf8(version::title));
    if (!instance.isFirst()) {
        // The running instance comes to the front and opens the file this start
        // names; this one ends, silently, whether or not it could be told.
        QStringList arguments;
        for (int i = 1; i < argc; ++i)
            arguments << QString::fromLocal8Bit(argv[i]);
        instance.handOver(startrequest::encode(scriptFileFromArguments(arguments)));
        return 0;
    }

    if (const char* reason = missingDisplayReason(); *reason) {
        std::fprintf(stderr, "%s\n", reason);
        return 1;
    }

    ProgramState state;
    state.settingsFile = programFilesDir() + QStringLiteral("/Settings.ini");

    vspdevices::raiseDescriptorLimit();  // 255 ports and their clients outgrow the default 1,024
    blockTerminationSignal();  // before Qt or the device library start threads
    QApplication application(argc, argv);
    // The program lives on in the notification area with no window shown; it ends
    // only when the main window accepts a close.
    QApplication::setQuitOnLastWindowClosed(false);
    application.setApplicationName(QString::fromUtf8(version::productName));
    application.setApplicationVersion(
        QStringLiteral("%1.%2.%3").arg(version::major).arg(version::minor).arg(version::revision));

    QStringList arguments = QApplication::arguments();
    arguments.removeFirst();

    QtPlatform platform(appIcon());
    if (refuseWhileServiceRuns(*platform.platform().messages, vspdevices::portDirectory()))
        return 1;
    platform.platform().state = &state;
    warnWhenSettingsUnusable(state, *platform.platform().messages);
    frmMain window(platform.platform());
    window.setScriptFile(scriptFileFromArguments(arguments));
    window.Form_Load();
    window.show();

    TerminationSignal termination;
    QObject::connect(&termination, &TerminationSignal::received, &window,
                     [&window] { window.requestClose(closeReason::terminate); });
    SessionEndWatcher session(application, window);
    StartRequestReceiver requests(instance.takeListener());
    QObject::connect(&requests, &StartRequestReceiver::received, &window,
                     handler(&window, Trap(QStringLiteral("startRequested")), &frmMain::startRequested));

    hideWhenAskedAtStart(window, state);
    return QApplication::exec();
}

void hideWhenAskedAtStart(frmMain& window, const ProgramState& state)
{
    runHandler(Trap(QStringLiteral("Main"), Trap::UnitKind::Module, QStringLiteral("modMain")), [&] {
        if (ReadSettingNumber(state, settingsKey::LoadInSysTray) == 1)
            window.DisplayStatus(false);
    });
}
