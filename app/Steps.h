// The steps of a lower layer (the redirect editor filling its fields, the list's scan,
// the file dialogs, the tray icon). A lower layer names its steps in an enum of its
// own and runs each through Steps: a step that throws is caught the way a trap
// catches, its failure (number and description) goes to the caller's sink, and the
// step says whether it completed, so the layer decides what runs next. Which log
// line a failure becomes is the window layer's choice (windows/LogSteps).
#pragma once

#include "app/RuntimeError.h"

#include <QString>
#include <exception>
#include <functional>
#include <new>
#include <optional>
#include <utility>

// Why a step did not complete: an error number and its description.
struct StepFailure {
    int number = 0;
    QString description;
    bool operator==(const StepFailure&) const = default;
};

// Runs body; none when it completed, else what it threw as a failure. Catches what a
// trap catches: the program's run-time errors, exhausted memory (7) and any other
// standard exception (51).
template <class Body>
std::optional<StepFailure> failureOf(Body&& body)
{
    try {
        std::forward<Body>(body)();
        return std::nullopt;
    } catch (const RuntimeError& error) {
        return StepFailure{error.number(), error.description()};
    } catch (const std::bad_alloc&) {
        return StepFailure{7, QStringLiteral("Out of memory")};
    } catch (const std::exception& error) {
        return StepFailure{51, QStringLiteral("Internal error: ") + QString::fromUtf8(error.what())};
    }
}

// Where a lower layer's step failures go; an empty sink drops them.
template <class Step>
using StepSink = std::function<void(Step, const StepFailure&)>;

// Runs a layer's steps, each under its name, telling the sink of those that fail.
template <class Step>
class Steps {
public:
    explicit Steps(StepSink<Step> sink) : sink_(std::move(sink)) {}

    // True when the step completed; false when it failed and the sink was told.
    template <class Body>
    bool operator()(Step step, Body&& body) const
    {
        const std::optional<StepFailure> failure = failureOf(std::forward<Body>(body));
        if (failure && sink_)
            sink_(step, *failure);
        return !failure;
    }

private:
    StepSink<Step> sink_;
};
