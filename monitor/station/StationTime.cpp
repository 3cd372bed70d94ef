#include "StationTime.h"

#include <algorithm>
#include <cstdlib>

namespace skyvane::station {

namespace {
constexpr qint64 kDayMs = 86400000;
constexpr qint64 kDecideWithinMs = 30 * 60000;
}

LocalMoments localMoments(QDate date, QTime time, const QTimeZone& zone)
{
    LocalMoments r;
    if (!date.isValid() || !time.isValid() || !zone.isValid()) return r;
    // The reading as if it were UTC; the true moment is this minus the
    // zone's offset at that moment. The offsets in force a day either side
    // cover every change near it.
    const qint64 naive = QDateTime(date, time, Qt::UTC).toMSecsSinceEpoch();
    QList<int> offsets;
    for (qint64 probe : {naive - kDayMs, naive, naive + kDayMs}) {
        const int o = zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(probe, Qt::UTC));
        if (!offsets.contains(o)) offsets << o;
    }
    QList<qint64> valid, all;
    for (int o : std::as_const(offsets)) {
        const qint64 at = naive - qint64(o) * 1000;
        all << at;
        if (zone.offsetFromUtc(QDateTime::fromMSecsSinceEpoch(at, Qt::UTC)) == o) valid << at;
    }
    r.skipped = valid.isEmpty();
    QList<qint64>& chosen = r.skipped ? all : valid;
    std::sort(chosen.begin(), chosen.end());
    for (qint64 at : std::as_const(chosen)) r.moments << QDateTime::fromMSecsSinceEpoch(at, Qt::UTC);
    return r;
}

QDateTime stationMoment(QDate date, QTime time, const QDateTime& modified, const QTimeZone& zone)
{
    const LocalMoments m = localMoments(date, time, zone);
    if (m.moments.isEmpty()) return {};
    if (m.moments.size() == 1) return m.moments.front();
    if (modified.isValid()) {
        for (const QDateTime& at : m.moments)
            if (std::llabs(at.msecsTo(modified)) < kDecideWithinMs) return at;
    }
    return m.moments.front();
}

} // namespace skyvane::station
