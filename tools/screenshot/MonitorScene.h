// The monitor window with a real conversation for its picture: a simulated adapter
// (an instrument answering a program's questions) behind COM5 on the real device
// library, the redirect created and emulation started through the main window, the
// monitor opened from the list's pop-up entry, then a program on the port sets the
// speed and talks to the instrument, a step every 100 ms.
#pragma once

#include "AdapterServer.h"

#include <QWidget>

class frmMain;

class MonitorScene {
public:
    MonitorScene();
    ~MonitorScene();
    // Opens the monitor window and starts the conversation; the window to draw.
    QWidget* start(frmMain& window);
    // How long the conversation takes, in milliseconds.
    static constexpr int durationMs = 1200;

private:
    vsp::AdapterServer adapter_;
    int port_ = -1;  // the program's end of COM5
};
