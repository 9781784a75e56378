// Where the error log puts the failed steps of the layers beneath the windows: each
// step under the handler that runs it (or the module that stands for it) and a line of
// that handler, as in "Error 9 (Subscript out of range) in procedure showPairProperties
// of Form frmMain on line 160". The lines are part of what users and support read in
// ErrorLog.txt, so they stay as they are; the table is in LogSteps.cpp.
#pragma once

#include "app/Steps.h"
#include "app/Trap.h"
#include "app/modSysTrayIcon.h"
#include "config/modDLG.h"
#include "devices/RedirectList.h"
#include "redirect/RedirectEditor.h"

struct LogPlace {
    const char* procedure;
    Trap::UnitKind kind;
    const char* unit;
    int line;
};

LogPlace logPlace(EditorStep step);
LogPlace logPlace(ScanStep step);
LogPlace logPlace(DialogStep step);
LogPlace logPlace(TrayStep step);

// A sink that logs each failed step at its place; what the handlers pass down.
template <class Step>
StepSink<Step> logSteps()
{
    return [](Step step, const StepFailure& failure) {
        const LogPlace place = logPlace(step);
        Trap(QString::fromLatin1(place.procedure), place.kind, QString::fromLatin1(place.unit))
            .report(place.line, failure.number, failure.description);
    };
}
