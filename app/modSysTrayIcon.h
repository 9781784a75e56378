// The notification-area icon: added with the title as its tooltip, deleted, and the
// balloon that says the program went into hiding.
#pragma once

#include "app/ProgramState.h"
#include "app/Steps.h"
#include "app/platform/TrayIcon.h"

#include <QString>

namespace trayAction {
inline constexpr int add = 1;
inline constexpr int remove = 3;
}  // namespace trayAction

// The steps of adding the icon (whether the desktop shows messages, then the icon)
// and of deleting it.
enum class TrayStep { ProbeMessages, ShowIcon, HideIcon };

// The notification area shows at most this much of a tooltip.
inline constexpr int trayToolTipLength = 127;

// Adding the icon probes whether the desktop shows messages at it (the state's
// balloonCapable). A failed step goes to the sink; the next one still runs.
void TrayIcon(TrayIconPort& picture, ProgramState& state, const QString& tip, int action,
              const StepSink<TrayStep>& failed);
// Only where the desktop shows messages at the icon.
void ShowBalloon(TrayIconPort& picture, const ProgramState& state, const QString& title, const QString& text,
                 int infoFlags);
