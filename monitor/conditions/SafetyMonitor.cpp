#include "SafetyMonitor.h"

namespace skyvane::conditions {

SafetyMonitor::SafetyMonitor(Clock& clock, SoundPlayer& player) : evaluator_(clock), alarms_(clock, player) {}

SafetyResult SafetyMonitor::evaluateSafety(const SafetyInputs& in, const SafetyConfig& safety,
                                           const AlarmConfig& alarms, bool hasControl)
{
    SafetyResult r = evaluator_.evaluate(in, safety, hasControl);
    if (r.evaluated) alarms_.alarmStep(r, safety, alarms, in.stationTooOld, in.sensorError);
    return r;
}

void SafetyMonitor::hasControl(bool flag)
{
    if (flag) alarms_.clientTookControl();
}

} // namespace skyvane::conditions
