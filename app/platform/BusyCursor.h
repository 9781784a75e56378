// The busy pointer over the program's windows, behind an interface so tests can
// check that every "busy" is matched by a "done".
#pragma once

class BusyCursor {
public:
    virtual ~BusyCursor() = default;
    virtual void setBusy() = 0;
    virtual void restore() = 0;
};
