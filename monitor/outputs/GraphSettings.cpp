#include "GraphSettings.h"

#include "GraphHistory.h"

namespace skyvane::outputs {

namespace {
constexpr int kDarkGrey = 4210752;
constexpr int kBlue = 12582912;
constexpr int kRed = 255;
constexpr int kLightCyan = 16777152;
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

} // namespace skyvane::outputs
