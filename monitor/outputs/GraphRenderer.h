#pragma once
// Draws one graph picture into an image. Needs only the scene, so it runs
// on any thread (the application object must exist for the fonts).

#include "GraphGeometry.h"

#include <QColor>
#include <QImage>

namespace skyvane::outputs {

// A stored colour (blue x 65536 + green x 256 + red) as a QColor.
inline QColor storedColour(int c) { return QColor(c & 0xFF, (c >> 8) & 0xFF, (c >> 16) & 0xFF); }

// Height of the strip below the plot that holds the time labels: the
// height of "00" in the axis font.
int timeStripHeight();

QImage renderGraph(const GraphScene& scene);

} // namespace skyvane::outputs
