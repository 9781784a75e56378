// The scriptable device library, bound through the program's own binding.
#pragma once

#include "fakevsp/fakevsp_control.h"

#include <QString>

class FakeVsp {
public:
    // Binds the program to the test double (or to `file`) and resets its state.
    explicit FakeVsp(const char* file = FAKEVSP_FILE);
    ~FakeVsp();

    void reset();
    void setResult(const char* operation, int result);
    void refuseCreates(int count);
    void refuseType(const char* type, int count = 1);
    int addDevice(const char* type, const char* init, int ready = 0, int ok = 0);
    void setFlags(int id, int ready, int ok);
    void setDiagnostics(int id, const vsp_diagnostics& diagnostics);
    void setVersion(const char* text);
    QString calls() const;
    // The initialization string of the last device of `type` the program asked for.
    QString lastCreated(const QString& type) const;
    bool emulationRunning() const;

private:
    template <class F>
    F* control(const char* name) const;
    void* handle_;
};
