#include "GraphSettings.h"

#include "GraphHistory.h"

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

} // namespace skyvane::outputs
