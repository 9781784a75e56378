// The notification-area icon: added with the title as its tooltip, deleted, and the
// balloon that says the program went into hiding.
#pragma once

#include "app/Steps.h"
#include "app/platform/TrayIcon.h"

#include <QString>

// Whether the desktop shows messages at the icon; probed each time the icon is added.
extern bool g_BalloonCapable;

namespace trayAction {
inline constexpr int add = 1;
inline constexpr int remove = 3;
}  // namespace trayAction

// The steps of adding the icon (whether the desktop shows messages, then the icon)
// and of deleting it.
enum class TrayStep { ProbeMessages, ShowIcon, HideIcon };

// The notification area shows at most this much of a tooltip.
inline constexpr int trayToolTipLength = 127;

// A failed step goes to the sink; the next one still runs.
void TrayIcon(TrayIconPort& picture, const QString& tip, int action, const StepSink<TrayStep>& failed);
void ShowBalloon(TrayIconPort& picture, const QString& title, const QString& text, int infoFlags);
