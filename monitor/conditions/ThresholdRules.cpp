#include "ThresholdRules.h"

namespace skyvane::conditions {

namespace {

// Comparisons are written so that a NaN threshold fails them: "a < b" is
// false when either side is NaN, so "not (a < b)" refuses it.
bool strictlyBelow(double a, double b) { return a < b; }

QString orderMessage(const PerLevel<double>& l, int index, const PerLevel<QString>& d)
{
    const QString calmer = QStringLiteral(" value CANNOT be smaller or equal than ");
    switch (index) {
    case 0:
        if (!strictlyBelow(l[0], l[1]))
            return d[0] + QStringLiteral(" value CANNOT be greater or equal than ") + d[1] + QStringLiteral(" value");
        break;
    case 1:
        if (!strictlyBelow(l[0], l[1])) return d[1] + calmer + d[0] + QStringLiteral(" value");
        if (!strictlyBelow(l[1], l[2]))
            return d[1] + QStringLiteral(" value CANNOT be larger or equal than ") + d[2] + QStringLiteral(" value");
        break;
    case 2:
        if (!strictlyBelow(l[0], l[2])) return d[2] + calmer + d[0] + QStringLiteral(" value");
        if (!strictlyBelow(l[1], l[2])) return d[2] + calmer + d[1] + QStringLiteral(" value");
        break;
    default:
        break;
    }
    return {};
}

} // namespace

QString thresholdFieldMessage(Quantity q, const PerLevel<double>& limits, int index,
                              const PerLevel<QString>& descriptions)
{
    if (index < 0 || index > 2) return {};
    PerLevel<QString> d;
    for (std::size_t i = 0; i < d.size(); ++i) d[i] = descriptions[i].toUpper();
    if (q == Quantity::Humidity && !(limits[index] <= 100.0))
        return d[index] + QStringLiteral(" value CANNOT be greater than 100");
    return orderMessage(limits, index, d);
}

QString thresholdSetMessage(Quantity q, const PerLevel<double>& limits,
                            const PerLevel<QString>& descriptions)
{
    for (int i = 0; i < 3; ++i) {
        const QString m = thresholdFieldMessage(q, limits, i, descriptions);
        if (!m.isEmpty()) return m;
    }
    return {};
}

} // namespace skyvane::conditions
