#include "GraphRenderer.h"

#include <QFontMetricsF>
#include <QPainter>
#include <QPolygonF>
#include <cmath>

namespace skyvane::outputs {

namespace {
// The platform's own font at the stated sizes; the old serif screen font is
// not there on every system and its small sizes are not readable when scaled.
QFont axisFont(int pointSize)
{
    QFont f;
    f.setPointSize(pointSize);
    return f;
}

void drawTimeAxis(QPainter& p, const GraphScene& s, int W, int H, const QColor& axis)
{
    if (!s.range.drawable()) return;
    p.setFont(axisFont(7));
    p.setPen(QPen(axis, 1));
    const QFontMetricsF fm(p.font());
    const auto ticks = timeTicks(s.range, W, [&](const QString& t) { return fm.horizontalAdvance(t); });
    for (const TimeTick& t : ticks) {
        const int x = int(std::lround(t.x));
        p.drawLine(x, H - 4, x, H);
        if (!t.label.isEmpty()) p.drawText(QPointF(t.labelLeft, H + fm.ascent()), t.label);
    }
}

void drawTitle(QPainter& p, int W, const QColor& axis)
{
    QFont f;
    f.setPointSize(8);
    p.setFont(f);
    p.setPen(axis);
    p.drawText(QRect(0, 1, W - 3, QFontMetrics(f).height()), Qt::AlignRight | Qt::AlignTop, QStringLiteral("XOB_Skyvane "));
}

void drawLine(QPainter& p, const GraphScene& s, int W, int H)
{
    if (!s.range.drawable() || s.points.empty()) return;
    // One-pixel lines a pixel apart, below and to the right, give the
    // two-pixel curve in every direction: a wide pen would go through the
    // path stroker, ten times slower for 2000 points.
    p.setPen(QPen(storedColour(s.curveColour), 1));
    auto drawRun = [&p](QPolygonF& run) {
        if (run.size() < 2) return;
        p.drawPolyline(run);
        run.translate(0, 1);
        p.drawPolyline(run);
        run.translate(1, -1);
        p.drawPolyline(run);
    };
    QPolygonF run;
    run.reserve(int(s.points.size()) + 1);
    // the curve starts at the left edge on the oldest value
    const double firstValue = s.points.front().second;
    if (!std::isnan(firstValue)) run << QPointF(0, s.scale.y(firstValue, H));
    for (const auto& [t, v] : s.points) {
        if (std::isnan(v)) {
            // a reading the station did not give breaks the curve
            drawRun(run);
            run.clear();
            continue;
        }
        run << QPointF(s.range.x(t, W), s.scale.y(v, H));
    }
    drawRun(run);
}

void drawDots(QPainter& p, const GraphScene& s, int W, int H)
{
    if (!s.range.drawable()) return;
    const QColor c = storedColour(s.curveColour);
    for (const auto& [t, v] : s.points) {
        if (std::isnan(v)) continue;
        const int x = int(std::lround(s.range.x(t, W)));
        const int y = int(std::lround(directionY(v, H)));
        p.fillRect(x - 1, y - 1, 3, 3, c);
    }
}
} // namespace

int timeStripHeight() { return int(std::ceil(QFontMetricsF(axisFont(7)).height())); }

QImage renderGraph(const GraphScene& s)
{
    QImage img(s.size, QImage::Format_RGB32);
    img.fill(Qt::white);
    QPainter p(&img);
    p.setRenderHint(QPainter::TextAntialiasing, true);
    const QColor axis = storedColour(s.axisColour);
    const int W = s.size.width();
    const int H = s.size.height() - timeStripHeight();

    if (s.kind == GraphKind::Line) {
        QFont big = axisFont(14);
        p.setFont(big);
        for (int i = 0; i < 3; ++i) {
            const QRectF band(0, i * H / 3.0, W, H / 3.0);
            p.fillRect(band, storedColour(s.bandColours[size_t(i)]));
            p.setPen(axis);
            p.drawText(band, Qt::AlignCenter, s.bandCaptions[size_t(i)]);
        }
    } else {
        p.fillRect(QRect(0, 0, W, H), storedColour(s.backColour));
        p.setFont(axisFont(7));
        const QFontMetricsF fm(p.font());
        for (int k = 0; k <= 8; ++k) {
            const double y = k * H / 8.0;
            if (k == 2 || k == 4 || k == 6) {
                p.setPen(QPen(axis, 1));
                p.drawLine(QPointF(0, y), QPointF(W, y));
            }
            // level with its grid height, but kept inside the plot area
            const double top = std::clamp(y - fm.height() / 2, 1.0, H - fm.height());
            p.setPen(axis);
            p.drawText(QPointF(3, top + fm.ascent()), directionLabel(k));
        }
    }
    drawTimeAxis(p, s, W, H, axis);
    drawTitle(p, W, axis);
    p.setPen(QPen(axis, 1));
    p.setBrush(Qt::NoBrush);
    p.drawRect(0, 0, W - 1, H);
    if (s.kind == GraphKind::Line)
        drawLine(p, s, W, H);
    else
        drawDots(p, s, W, H);
    p.end();
    return img;
}

} // namespace skyvane::outputs
