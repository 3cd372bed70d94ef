#pragma once
// Where things go on a graph picture, without drawing anything: the time
// range, the value-to-height mapping of the line graphs, the time ticks and
// their labels, and the picture's description (GraphScene) that the renderer
// draws from. Coordinates are the picture's own, y growing downward.

#include "GraphHistory.h"
#include "GraphSettings.h"
#include "Levels.h"

#include <QSize>
#include <QString>
#include <functional>
#include <optional>
#include <vector>

namespace skyvane::outputs {

// The time axis: from the oldest sample over at least the configured span.
struct TimeRange {
    qint64 t0 = 0; // ms since the epoch
    qint64 t1 = 0;
    qint64 length() const { return t1 - t0; }
    // A range of zero or less (equal stamps with no span, a clock that went
    // backwards) can not be drawn: x would divide by it.
    bool drawable() const { return t1 > t0; }
    double x(qint64 t, double width) const { return double(t - t0) * width / double(t1 - t0); }
};
TimeRange timeRange(qint64 firstMs, qint64 lastMs, qint64 spanSeconds);

// The value scale of a line graph from its three limit fields.
struct ValueScale {
    double l0 = 0, l1 = 0, l2 = 0;
    // Bottom value: 0, or twice a negative limit 0.
    double bottom() const { return l0 >= 0 ? 0 : 2 * l0; }
    // y of value v on a plot of height h: each band spans one level's range,
    // larger values lower; out-of-range values sit on the edges.
    double y(double v, double height) const;
};

// The direction graph: 360 degrees at the top, 0 at the bottom.
inline double directionY(double degrees, double height) { return height - degrees / 360.0 * height; }
// "360°", "315°", ... "000°" for k = 0..8.
QString directionLabel(int k);

struct TimeTick {
    double x = 0;
    QString label; // empty when skipped because it would touch the previous one
    double labelLeft = 0;
};
// "hh:mm:ss" below a step of ten minutes, "hh:mm" from ten minutes up.
QString timeLabelPattern(qint64 stepMs);
// Ticks at every twelfth of the range (not at its ends); a label is kept
// only when its left edge is at least 10 pixels right of the previous kept
// label's right edge, and only when it fits inside the picture. textWidth
// measures a label in the picture's font.
std::vector<TimeTick> timeTicks(const TimeRange& r, double width, const std::function<double(const QString&)>& textWidth);

enum class GraphKind { Line, Direction };

// Everything the renderer needs for one picture, copied out of the history
// and the settings so that drawing can run on another thread.
struct GraphScene {
    GraphId id = GraphWind;
    GraphKind kind = GraphKind::Line;
    QSize size{360, 160};
    TimeRange range;
    std::vector<std::pair<qint64, double>> points; // time, value in ring order (NaN: no value)
    std::array<int, 3> bandColours{};
    std::array<QString, 3> bandCaptions;
    ValueScale scale;
    int axisColour = 0;
    int curveColour = 0;
    int backColour = 0;
};

conditions::Quantity graphQuantity(GraphId g);
GraphScene makeScene(GraphId g, const GraphHistory& history, const GraphSettings& settings,
                     const conditions::LevelConfig& levels, qint64 spanSeconds, QSize size);

} // namespace skyvane::outputs
