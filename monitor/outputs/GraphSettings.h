#pragma once
// The graph and image settings of the "Graphs" section that belong to the
// graphs themselves: points, period, which graphs are drawn, their colours
// and the image format. (The image folder and the per-graph image boxes are
// kept with the window's other folder settings.) Their keys are declared in
// graphSettingRows(), which the core binds to the graphs' own settings.

#include "SettingsSchema.h"

#include <QString>
#include <array>
#include <vector>

namespace skyvane {
class SettingsStore;
}

namespace skyvane::outputs {

// The six graphs in the order they are drawn and saved.
enum GraphId { GraphWind, GraphGust, GraphDir, GraphDew, GraphHum, GraphTemp, GraphCount };
inline constexpr std::array<GraphId, GraphCount> kAllGraphs{GraphWind, GraphGust, GraphDir, GraphDew, GraphHum, GraphTemp};

// Suffix of the graph's controls and keys: "Wind", "Gust", "Dir", "Dew", "Hum", "Temp".
QString graphSuffix(GraphId g);
// History row the graph draws (2..7).
int graphRow(GraphId g);
// Base name of the image file, e.g. "XOB_ImageWindCondition".
QString imageBaseName(GraphId g);

enum class JpegQuality { None = -1, Top = 0, Good = 1, Normal = 2 };

struct GraphSettings {
    int points = 120;  // GraphNoPoints, 20..2000
    int freq = 6;      // GraphFreq, >= 1
    std::array<bool, GraphCount> generate{true, true, true, true, true, true};
    // colour boxes per graph: 0 axis and text, 1 curve, 2 plot background (Dir only)
    std::array<std::array<int, 3>, GraphCount> colours{};
    bool png = true;   // ImageType ticked
    JpegQuality quality = JpegQuality::Normal;

    GraphSettings();
    bool operator==(const GraphSettings&) const = default;
};

// The keys of "Graphs" above, in the stored order of the graphs (Hum before
// Dew, unlike GraphId).
const std::vector<SettingRow<GraphSettings>>& graphSettingRows();

} // namespace skyvane::outputs
