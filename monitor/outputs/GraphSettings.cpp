#include "GraphSettings.h"

#include "Colours.h"
#include "GraphHistory.h"

namespace skyvane::outputs {

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
    for (GraphId id : kAllGraphs) colours[id] = {colour::DarkGrey, colour::Blue, colour::Black};
    colours[GraphDir] = {colour::DarkGrey, colour::Red, colour::LightCyan};
}

} // namespace skyvane::outputs
