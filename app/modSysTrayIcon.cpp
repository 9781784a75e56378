#include "app/modSysTrayIcon.h"

bool g_BalloonCapable = false;

void TrayIcon(TrayIconPort& picture, const QString& tip, int action, const StepSink<TrayStep>& failed)
{
    const Steps<TrayStep> step(failed);
    if (action == trayAction::add) {
        step(TrayStep::ProbeMessages, [&] { g_BalloonCapable = picture.supportsMessages(); });
        step(TrayStep::ShowIcon, [&] { picture.showIcon(tip.left(trayToolTipLength)); });
    } else if (action == trayAction::remove) {
        step(TrayStep::HideIcon, [&] { picture.hideIcon(); });
    }
}

void ShowBalloon(TrayIconPort& picture, const QString& title, const QString& text, int /*infoFlags: 1, information*/)
{
    if (g_BalloonCapable)
        picture.showMessage(title, text);
}
