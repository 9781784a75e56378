// The one emulation switch for all devices. The library is asked every time,
// whatever the switch last recorded; the switch records what the library accepted
// and announces each change.
#pragma once

#include <QObject>

class EmulationSwitch : public QObject {
    Q_OBJECT
public:
    // The state the library last accepted; stopped until it accepts a start.
    bool isRunning() const { return running_; }
    // Asks the library to start or to stop all devices; true when it accepted.
    bool ask(bool wanted);
    // Records the state the library accepted, and announces it.
    void accept(bool running);

signals:
    void changed(bool running);

private:
    bool running_ = false;
};
