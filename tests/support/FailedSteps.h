// The failed steps a lower layer reported, in order, for tests that drive the layer
// without the window that logs them.
#pragma once

#include "app/Steps.h"

#include <utility>
#include <vector>

template <class Step>
struct FailedSteps {
    std::vector<std::pair<Step, StepFailure>> list;
    StepSink<Step> sink()
    {
        return [this](Step step, const StepFailure& failure) { list.emplace_back(step, failure); };
    }
    std::vector<Step> steps() const
    {
        std::vector<Step> steps;
        for (const auto& [step, failure] : list)
            steps.push_back(step);
        return steps;
    }
};
