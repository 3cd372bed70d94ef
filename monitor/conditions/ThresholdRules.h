#pragma once
// The ordering rules of the level thresholds. The three thresholds of a
// quantity must rise strictly from level 1 to level 3, and humidity thresholds
// may not exceed 100 %. The messages name the levels by their descriptions in
// capitals, so the user sees the words of the Conditions tab.

#include "ConditionTypes.h"

#include <QString>

namespace skyvane::conditions {

// The message for the threshold field `index` (0..2, levels 1..3) of a
// quantity whose current thresholds are `limits`, or an empty text when the
// field may be left as it is. `descriptions` are the level descriptions as
// shown (they are upper-cased here). Humidity first refuses a value above 100
// (100 itself is fine), then applies the same ordering checks as the others.
// A value that is not a number never passes. An index outside 0..2 gives an
// empty text.
QString thresholdFieldMessage(Quantity q, const PerLevel<double>& limits, int index,
                              const PerLevel<QString>& descriptions);

// The first message any of the three fields would give, for callers that set
// all three thresholds at once (so that no path stores an invalid order).
QString thresholdSetMessage(Quantity q, const PerLevel<double>& limits,
                            const PerLevel<QString>& descriptions);

} // namespace skyvane::conditions
