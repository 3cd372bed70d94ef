#include "GraphSettings.h"

#include "GraphHistory.h"
#include "SettingsStore.h"

#include <variant>

namespace skyvane::outputs {

namespace {
constexpr const char* kApp = "XOB_Skyvane";
constexpr const char* kSection = "Graphs";
constexpr int kDarkGrey = 4210752;
constexpr int kBlue = 12582912;
constexpr int kRed = 255;
constexpr int kLightCyan = 16777152;

// One row of the table: key, default text, and where the value goes.
enum class Kind { Int, Flag, Bool };
struct Entry {
    QString key;
    QString def;
    Kind kind;
    int* intField = nullptr;
    bool* boolField = nullptr;
};

std::vector<Entry> table(GraphSettings& g, bool& top, bool& good, bool& normal)
{
    std::vector<Entry> t;
    t.push_back({QStringLiteral("GraphNoPoints"), QStringLiteral("120"), Kind::Int, &g.points});
    t.push_back({QStringLiteral("GraphFreq"), QStringLiteral("6"), Kind::Int, &g.freq});
    // the stored order of the generate keys: Wind, Gust, Dir, Hum, Dew, Temp
    for (GraphId id : {GraphWind, GraphGust, GraphDir, GraphHum, GraphDew, GraphTemp})
        t.push_back({QStringLiteral("Generate") + graphSuffix(id), QStringLiteral("1"), Kind::Flag, nullptr, &g.generate[id]});
    const GraphSettings defaults;
    for (GraphId id : kAllGraphs) {
        const int boxes = id == GraphDir ? 3 : 2;
        for (int b = 0; b < boxes; ++b)
            t.push_back({QStringLiteral("GraphColor%1%2").arg(graphSuffix(id)).arg(b), QString::number(defaults.colours[id][b]),
                         Kind::Int, &g.colours[id][b]});
    }
    t.push_back({QStringLiteral("ImageType"), QStringLiteral("1"), Kind::Flag, nullptr, &g.png});
    t.push_back({QStringLiteral("QualityTop"), QStringLiteral("False"), Kind::Bool, nullptr, &top});
    t.push_back({QStringLiteral("QualityGood"), QStringLiteral("False"), Kind::Bool, nullptr, &good});
    t.push_back({QStringLiteral("QualityNormal"), QStringLiteral("True"), Kind::Bool, nullptr, &normal});
    return t;
}
} // namespace

QString graphSuffix(GraphId g)
{
    static const char* const names[GraphCount] = {"Wind", "Gust", "Dir", "Dew", "Hum", "Temp"};
    return QString::fromLatin1(names[g]);
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
    for (GraphId id : kAllGraphs) colours[id] = {kDarkGrey, kBlue, 0};
    colours[GraphDir] = {kDarkGrey, kRed, kLightCyan};
}

void GraphSettings::load(const SettingsStore& store)
{
    using namespace settings_codec;
    bool top = false, good = false, normal = true;
    const QString app = QString::fromLatin1(kApp), section = QString::fromLatin1(kSection);
    for (const Entry& e : table(*this, top, good, normal)) {
        const QString text = store.get(app, section, e.key, e.def);
        switch (e.kind) {
        case Kind::Int: *e.intField = toInt(text, toInt(e.def, 0)); break;
        case Kind::Flag: *e.boolField = toInt(text, 1) != 0; break;
        case Kind::Bool: *e.boolField = toBool(text, toBool(e.def, false)); break;
        }
    }
    // the fields hold what they would show after the user typed the value
    points = clampGraphPoints(points);
    freq = clampGraphFreq(freq);
    for (auto& c : colours)
        for (int& v : c) v &= 0xFFFFFF;
    quality = top ? JpegQuality::Top : good ? JpegQuality::Good : normal ? JpegQuality::Normal : JpegQuality::None;
}

void GraphSettings::save(SettingsStore& store) const
{
    using namespace settings_codec;
    GraphSettings copy = *this;
    bool top = quality == JpegQuality::Top, good = quality == JpegQuality::Good, normal = quality == JpegQuality::Normal;
    const QString app = QString::fromLatin1(kApp), section = QString::fromLatin1(kSection);
    for (const Entry& e : table(copy, top, good, normal)) {
        QString text;
        switch (e.kind) {
        case Kind::Int: text = QString::number(*e.intField); break;
        case Kind::Flag: text = *e.boolField ? QStringLiteral("1") : QStringLiteral("0"); break;
        case Kind::Bool: text = fromBool(*e.boolField); break;
        }
        store.save(app, section, e.key, text);
    }
}

} // namespace skyvane::outputs
