#include "GraphGeometry.h"

#include <QDateTime>
#include <cmath>

namespace skyvane::outputs {

TimeRange timeRange(qint64 firstMs, qint64 lastMs, qint64 spanSeconds)
{
    TimeRange r{firstMs, lastMs};
    if (spanSeconds * 1000 > r.t1 - r.t0) r.t1 = r.t0 + spanSeconds * 1000;
    return r;
}

double ValueScale::y(double v, double height) const
{
    const double h = height / 3;
    const double a = bottom();
    // A band whose two limits coincide has no extent: its values sit on the
    // band's lower edge rather than dividing by zero.
    auto within = [](double base, double band, double value, double hi, double lo) {
        const double range = std::fabs(hi - lo);
        if (range == 0) return base;
        return base - band * std::fabs(value - hi) / range;
    };
    if (v <= a) return 1;
    if (v < l0) return within(h, h, v, l0, a);
    if (v < l1) return within(2 * h, h, v, l1, l0);
    if (v < l2) return within(3 * h, h, v, l2, l1);
    return height - 1;
}

QString directionLabel(int k) { return QStringLiteral("%1°").arg(360 - 45 * k, 3, 10, QLatin1Char('0')); }

QString timeLabelPattern(qint64 stepMs)
{
    return stepMs < 10 * 60 * 1000 ? QStringLiteral("hh:mm:ss") : QStringLiteral("hh:mm");
}

std::vector<TimeTick> timeTicks(const TimeRange& r, double width, const std::function<double(const QString&)>& textWidth)
{
    std::vector<TimeTick> ticks;
    if (!r.drawable()) return ticks;
    const double step = double(r.length()) / 12.0;
    const QString pattern = timeLabelPattern(qint64(step));
    double previousRight = -1e9;
    for (int k = 1; r.t0 + k * step < r.t1; ++k) {
        const qint64 t = r.t0 + qint64(std::llround(k * step));
        TimeTick tick;
        tick.x = k * step * width / double(r.length());
        const QString label = QDateTime::fromMSecsSinceEpoch(t).toString(pattern);
        const double w = textWidth(label);
        const double left = tick.x - w / 2;
        // a label that would stick out of the picture is left off as well
        if (left >= previousRight + 10 && left >= 0 && left + w <= width) {
            tick.label = label;
            tick.labelLeft = left;
            previousRight = left + w;
        }
        ticks.push_back(tick);
    }
    return ticks;
}

conditions::Quantity graphQuantity(GraphId g)
{
    using conditions::Quantity;
    switch (g) {
    case GraphWind: return Quantity::Wind;
    case GraphGust: return Quantity::Gust;
    case GraphDew: return Quantity::DewPoint;
    case GraphHum: return Quantity::Humidity;
    case GraphTemp: return Quantity::Temperature;
    default: return Quantity::Wind;
    }
}

GraphScene makeScene(GraphId g, const GraphHistory& history, const GraphSettings& settings,
                     const conditions::LevelConfig& levels, qint64 spanSeconds, QSize size)
{
    GraphScene s;
    s.id = g;
    s.kind = g == GraphDir ? GraphKind::Direction : GraphKind::Line;
    s.size = size;
    s.axisColour = settings.colours[g][0];
    s.curveColour = settings.colours[g][1];
    s.backColour = settings.colours[g][2];
    if (!history.empty())
        s.range = timeRange(history.slot(history.first()).timeMs, history.slot(history.last()).timeMs, spanSeconds);
    const int row = graphRow(g);
    s.points.reserve(size_t(history.count()));
    history.forEach([&](const HistorySample& h) { s.points.emplace_back(h.timeMs, h.row(row)); });
    if (s.kind == GraphKind::Line) {
        const conditions::Quantity q = graphQuantity(g);
        const auto& t = levels.thresholds[q];
        s.scale = {t[0], t[1], t[2]};
        for (int i = 0; i < 3; ++i) {
            s.bandColours[size_t(i)] = levels.styles[q][size_t(i)].colour;
            s.bandCaptions[size_t(i)] = levels.styles[q][size_t(i)].description;
        }
    }
    return s;
}

} // namespace skyvane::outputs
