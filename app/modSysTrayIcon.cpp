#include "app/modSysTrayIcon.h"

void TrayIcon(TrayIconPort& picture, ProgramState& state, const QString& tip, int action,
              const StepSink<TrayStep>& failed)
{
    const Steps<TrayStep> step(failed);
    if (action == trayAction::add) {
        step(TrayStep::ProbeMessages, [&] { state.balloonCapable = picture.supportsMessages(); });
        step(TrayStep::ShowIcon, [&] { picture.showIcon(tip.left(trayToolTipLength)); });
    } else if (action == trayAction::remove) {
        step(TrayStep::HideIcon, [&] { picture.hideIcon(); });
    }
}

void ShowBalloon(TrayIconPort& picture, const ProgramState& state, const QString& title, const QString& text,
                 int /*infoFlags: 1, information*/)
{
    if (state.balloonCapable)
        picture.showMessage(title, text);
}
