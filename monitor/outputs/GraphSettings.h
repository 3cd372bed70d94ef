#pragma once
// The graph and image settings of the "Graphs" section that belong to the
// graphs themselves: points, period, which graphs are drawn, their colours
// and the image format. (The image folder and the per-graph image boxes are
// kept with the window's other folder settings.) Their keys are declared in
// graphSettingRows(), which the core binds to the graphs' own settings.

#include "SettingsSchema.h"

#include "Colours.h"

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

// The same graphs in the order the window's settings keep them (the
// Generate<suffix>, Image<suffix> and GraphColor<suffix><n> keys, the image
// boxes of the set-up tab): Hum comes before Dew there.
enum GraphImage { ImageWind, ImageGust, ImageDir, ImageHum, ImageDew, ImageTemp, GraphImageCount };

struct GraphFacts {
    GraphImage image;           // place in the settings' order
    const char* suffix;         // of the graph's controls and keys
    const char* caption;        // of its boxes
    std::array<int, 3> colours; // factory colours of its boxes: axis and text, curve, plot background
};

// Indexed by GraphId.
inline constexpr std::array<GraphFacts, GraphCount> kGraphFacts{{
    {ImageWind, "Wind", "Wind", {colour::DarkGrey, colour::Blue, colour::Black}},
    {ImageGust, "Gust", "Gust", {colour::DarkGrey, colour::Blue, colour::Black}},
    {ImageDir, "Dir", "Direction", {colour::DarkGrey, colour::Red, colour::LightCyan}},
    {ImageDew, "Dew", "Dew", {colour::DarkGrey, colour::Blue, colour::Black}},
    {ImageHum, "Hum", "Humidity", {colour::DarkGrey, colour::Blue, colour::Black}},
    {ImageTemp, "Temp", "Temperature", {colour::DarkGrey, colour::Blue, colour::Black}},
}};

// The table read the other way: each graph's place in the settings' order,
// the graph at each place, and the key suffixes in that order.
inline constexpr std::array<GraphImage, GraphCount> kImageOfGraph = [] {
    std::array<GraphImage, GraphCount> a{};
    for (GraphId g : kAllGraphs) a[g] = kGraphFacts[g].image;
    return a;
}();
inline constexpr std::array<GraphId, GraphImageCount> kGraphOfImage = [] {
    std::array<GraphId, GraphImageCount> a{};
    for (GraphId g : kAllGraphs) a[kGraphFacts[g].image] = g;
    return a;
}();
inline constexpr std::array<const char*, GraphImageCount> kImageSuffixes = [] {
    std::array<const char*, GraphImageCount> a{};
    for (GraphId g : kAllGraphs) a[kGraphFacts[g].image] = kGraphFacts[g].suffix;
    return a;
}();

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
