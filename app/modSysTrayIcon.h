// The notification-area icon: added with the title as its tooltip, deleted, and the
// balloon that says the program went into hiding.
#pragma once

#include "app/platform/TrayIcon.h"

#include <QString>

// Whether the desktop shows messages at the icon; probed each time the icon is added.
extern bool g_BalloonCapable;

namespace trayAction {
inline constexpr int add = 1;
inline constexpr int remove = 3;
}  // namespace trayAction

// The notification area shows at most this much of a tooltip.
inline constexpr int trayToolTipLength = 127;

void TrayIcon(TrayIconPort& picture, const QString& tip, int action);
void ShowBalloon(TrayIconPort& picture, const QString& title, const QString& text, int infoFlags);
