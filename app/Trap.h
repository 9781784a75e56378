// The error trap of a procedure. A trapped procedure is written as numbered
// statements, 10, 20, 30 ... from its top:
//
//     Trap trap("ScanAvailPairs");
//     trap(10, [&] { ... });
//     trap(20, [&] { ... });
//
// A statement that throws is logged as
//     Error N (description) in procedure P of Form frmMain on line L
// and the next statement runs, as if it had succeeded. A procedure that must stop
// instead tests the result: `if (!trap(10, ...)) return result;`.
// Failures in untrapped helpers propagate to the statement that called them and are
// logged under that caller's name and line. The layers beneath the windows report
// named steps instead (app/Steps.h); windows/LogSteps gives each its line here.
#pragma once

#include "app/Steps.h"

#include <QString>
#include <optional>
#include <utility>

class Trap {
public:
    enum class UnitKind { Form, Module };

    explicit Trap(QString procedure, UnitKind kind = UnitKind::Form, QString unit = QStringLiteral("frmMain"))
        : procedure_(std::move(procedure)), kind_(kind), unit_(std::move(unit))
    {
    }

    // Runs one statement; true when it completed, false when it failed and was logged.
    template <class Statement>
    bool operator()(int line, Statement&& statement)
    {
        const std::optional<StepFailure> failure = failureOf(std::forward<Statement>(statement));
        if (failure)
            report(line, failure->number, failure->description);
        return !failure;
    }

    // The message logged for a failure on a line, e.g. for tests and for callers that
    // detect a failure without an exception.
    QString message(int line, int number, const QString& description) const;
    void report(int line, int number, const QString& description) const;

private:
    QString procedure_;
    UnitKind kind_;
    QString unit_;
};
