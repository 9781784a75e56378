// The one emulation switch for all devices. The library is asked every time,
// whatever the switch last recorded; the switch records what the library accepted
// and announces each change.
#pragma once

#include <QObject>

// The switch's state as the library last accepted it, program-wide; only
// EmulationSwitch::accept changes it.
extern bool g_EmulationRunning;

class EmulationSwitch : public QObject {
    Q_OBJECT
public:
    bool isRunning() const { return g_EmulationRunning; }
    // Asks the library to start or to stop all devices; true when it accepted.
    bool ask(bool wanted);
    // Records the state the library accepted, and announces it.
    void accept(bool running);

signals:
    void changed(bool running);
};
