#include "GraphSettings.h"

#include "GraphHistory.h"

#include <cmath>

namespace skyvane::outputs {

QString graphSuffix(GraphId g)
{
    return QString::fromLatin1(kGraphFacts[g].suffix);
}

int graphRow(GraphId g)
{
    static const int rows[GraphCount] = {RowWind, RowGust, RowDir, RowDew, RowHum, RowTemp};
    return rows[g];
}

QString imageBaseName(GraphId g)
{
    static const char* const names[GraphCount] = {"XOB_ImageWindCondition", "XOB_ImageGustCondition", "XOB_ImageWindDirCondition",
                                                  "XOB_ImageDewCondition",  "XOB_ImageHumCondition",  "XOB_ImageTempCondition"};
    return QString::fromLatin1(names[g]);
}

GraphSettings::GraphSettings()
{
    for (GraphId id : kAllGraphs) colours[id] = kGraphFacts[id].colours;
}

namespace {
std::vector<SettingRow<GraphSettings>> buildGraphRows()
{
    using Row = SettingRow<GraphSettings>;
    using St = LoadStage;
    const QString graphs = QStringLiteral("Graphs");
    std::vector<Row> rows;
    // Points and period are typed as numbers and kept as whole numbers in
    // their range: what is read is what the graph draws, and is written back.
    const auto whole = [&](const char* key, int def, int (*clamp)(double), int GraphSettings::*field) {
        rows.push_back({St::Graphs, graphs, QLatin1String(key), SettingKind::Number, QString::number(def),
                        [def, clamp, field](GraphSettings& g, const QString& v) {
                            g.*field = clamp(int(std::lround(setting_rows::numberValue(v, def))));
                        },
                        [field](const GraphSettings& g) { return setting_rows::numberText(g.*field); }});
    };
    whole("GraphNoPoints", 120, [](double t) { return clampGraphPoints(t); }, &GraphSettings::points);
    whole("GraphFreq", 6, [](double t) { return clampGraphFreq(t); }, &GraphSettings::freq);

    const std::array<GraphId, GraphCount> stored{GraphWind, GraphGust, GraphDir, GraphHum, GraphDew, GraphTemp};
    for (GraphId id : stored)
        rows.push_back(rowCheck<GraphSettings>(St::Graphs, graphs, QStringLiteral("Generate") + graphSuffix(id), true,
                                               [id](GraphSettings& g) -> bool& { return g.generate[id]; }));
    const GraphSettings factory;
    for (GraphId id : stored) {
        // Only the wind direction has a plot background.
        const int items = id == GraphDir ? 3 : 2;
        for (int k = 0; k < items; ++k)
            rows.push_back(rowColour<GraphSettings>(St::Graphs, graphs, QStringLiteral("GraphColor%1%2").arg(graphSuffix(id)).arg(k),
                                                    factory.colours[id][size_t(k)],
                                                    [id, k](GraphSettings& g) -> int& { return g.colours[id][size_t(k)]; }));
    }
    rows.push_back(rowCheck<GraphSettings>(St::Graphs, graphs, QStringLiteral("ImageType"), true,
                                           [](GraphSettings& g) -> bool& { return g.png; }));
    const char* const qualities[] = {"QualityTop", "QualityGood", "QualityNormal"};
    const JpegQuality options[] = {JpegQuality::Top, JpegQuality::Good, JpegQuality::Normal};
    for (int i = 0; i < 3; ++i) {
        Row q = rowGroupOption<GraphSettings, JpegQuality>(St::Graphs, graphs, QLatin1String(qualities[i]), options[i], i == 2,
                                                           [](GraphSettings& g) -> JpegQuality& { return g.quality; });
        // A file with none of the three set means no option selected (the
        // library's own JPEG quality), not the default: the group starts
        // empty and takes the option that is set.
        if (i == 0) {
            auto apply = q.apply;
            q.apply = [apply](GraphSettings& g, const QString& v) {
                g.quality = JpegQuality::None;
                apply(g, v);
            };
        }
        rows.push_back(std::move(q));
    }
    return rows;
}
} // namespace

const std::vector<SettingRow<GraphSettings>>& graphSettingRows()
{
    static const std::vector<SettingRow<GraphSettings>> rows = buildGraphRows();
    return rows;
}

} // namespace skyvane::outputs
