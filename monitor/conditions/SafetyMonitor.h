#pragma once
// EvaluateSafety as the read cycle calls it: the decision of the safety
// evaluator followed by the alarm step, in one call, so that the alarm step
// can never be skipped or run against another cycle's result.

#include "Alarms.h"
#include "Safety.h"

namespace skyvane::conditions {

class SafetyMonitor {
public:
    SafetyMonitor(Clock& clock, SoundPlayer& player);

    SafetyEvaluator& evaluator() { return evaluator_; }
    const SafetyEvaluator& evaluator() const { return evaluator_; }
    AlarmController& alarms() { return alarms_; }
    const AlarmController& alarms() const { return alarms_; }

    // The Start procedure's resets.
    void start() { evaluator_.start(); }

    // One evaluation per read cycle, after the condition levels are up to
    // date. While a client has control only the gates and label colours are
    // refreshed; the reported flag and the alarms are left alone.
    SafetyResult evaluateSafety(const SafetyInputs& in, const SafetyConfig& safety, const AlarmConfig& alarms,
                                bool hasControl);

    // HasControl(flag): a client taking control silences the alarm.
    void hasControl(bool flag);

private:
    SafetyEvaluator evaluator_;
    AlarmController alarms_;
};

} // namespace skyvane::conditions
