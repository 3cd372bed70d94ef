#include "GraphHistory.h"

#include <algorithm>

namespace skyvane::outputs {

int GraphHistory::count() const
{
    if (last_ == 0) return 0;
    return last_ >= first_ ? last_ - first_ + 1 : slotBound() - first_ + 1 + last_;
}

void GraphHistory::append(const HistorySample& s, int points)
{
    points = std::clamp(points, kMinGraphPoints, kMaxGraphPoints);
    if (slotBound() != points) {
        slots_.assign(size_t(points) + 1, HistorySample{});
        first_ = last_ = 1;
        slots_[1] = s;
    }
    const int n = slotBound();
    last_ = last_ + 1;
    if (last_ > n) last_ = 1;
    if (last_ <= first_) {
        first_ = last_ + 1;
        if (first_ > n) first_ = 1;
    }
    slots_[size_t(last_)] = s;
}

void GraphHistory::clear()
{
    slots_.assign(1, HistorySample{});
    first_ = last_ = 0;
}

QVariantList GraphHistory::table() const
{
    QVariantList rows;
    rows.reserve(kHistoryRows);
    const int n = slotBound();
    for (int r = 0; r < kHistoryRows; ++r) {
        QVariantList row;
        row.reserve(n + 1);
        for (int i = 0; i <= n; ++i) {
            const bool used = r != 0 && i != 0 && last_ != 0 && slotInUse(i);
            if (!used) {
                row << QVariant();
            } else if (r == RowTime) {
                const qint64 t = slots_[size_t(i)].timeMs;
                row << (t ? QVariant(QDateTime::fromMSecsSinceEpoch(t)) : QVariant());
            } else {
                const double v = slots_[size_t(i)].row(r);
                row << (std::isnan(v) ? QVariant() : QVariant(v));
            }
        }
        rows << QVariant(row);
    }
    return rows;
}

bool GraphHistory::slotInUse(int i) const
{
    if (last_ == 0) return false;
    return first_ <= last_ ? (i >= first_ && i <= last_) : (i >= first_ || i <= last_);
}

void GraphHistory::convertSpeeds(const std::function<double(double)>& convert)
{
    forEachMutable([&](HistorySample& s) {
        for (int r : {RowWind, RowGust})
            if (!std::isnan(s.row(r))) s.row(r) = convert(s.row(r));
    });
}

void GraphHistory::convertTemperatures(const std::function<double(double)>& absolute,
                                       const std::function<double(double)>& difference)
{
    forEachMutable([&](HistorySample& s) {
        if (!std::isnan(s.row(RowTemp))) s.row(RowTemp) = absolute(s.row(RowTemp));
        if (!std::isnan(s.row(RowDew))) s.row(RowDew) = difference(s.row(RowDew));
    });
}

int clampGraphPoints(double typed)
{
    if (std::isnan(typed)) return 120;
    return int(std::clamp(std::llround(typed), qint64(kMinGraphPoints), qint64(kMaxGraphPoints)));
}

int clampGraphFreq(double typed)
{
    if (std::isnan(typed) || typed < 1) return 1;
    return int(std::min<qint64>(std::llround(typed), 1000000));
}

qint64 graphSpanSeconds(int points, int freq, int intervalSeconds) { return qint64(points) * freq * intervalSeconds; }

QString graphSpanText(qint64 seconds)
{
    const qint64 h = seconds / 3600;
    const qint64 m = (seconds % 3600) / 60;
    const qint64 s = seconds % 60;
    return QStringLiteral("%1 h %2 m %3 s")
        .arg(h, 2, 10, QLatin1Char('0'))
        .arg(m, 2, 10, QLatin1Char('0'))
        .arg(s, 2, 10, QLatin1Char('0'));
}

} // namespace skyvane::outputs
