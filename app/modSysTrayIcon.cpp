#include "app/modSysTrayIcon.h"

#include "app/Trap.h"

bool g_BalloonCapable = false;

void TrayIcon(TrayIconPort& picture, const QString& tip, int action)
{
    Trap trap(QStringLiteral("TrayIcon"), Trap::UnitKind::Module, QStringLiteral("modSysTrayIcon"));
    if (action == trayAction::add) {
        trap(10, [&] { g_BalloonCapable = picture.supportsMessages(); });
        trap(20, [&] { picture.showIcon(tip.left(trayToolTipLength)); });
    } else if (action == trayAction::remove) {
        trap(30, [&] { picture.hideIcon(); });
    }
}

void ShowBalloon(TrayIconPort& picture, const QString& title, const QString& text, int /*infoFlags: 1, information*/)
{
    if (g_BalloonCapable)
        picture.showMessage(title, text);
}
