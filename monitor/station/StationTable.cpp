#include "StationTable.h"

namespace skyvane::station {

StationTable::StationTable() { records_.emplace_back(); }

int StationTable::addRecord()
{
    records_.emplace_back();
    return count();
}

const StationRecord& StationTable::record(int i) const
{
    if (i < 1 || i > count()) return records_.front();
    return records_[size_t(i)];
}

int StationTable::find(QStringView key) const
{
    // Both sides upper-cased and compared, first match wins.
    const QString k = key.toString().toUpper();
    for (int i = 1; i <= count(); ++i) {
        if (records_[size_t(i)].name.toUpper() == k) return i;
    }
    return 0;
}

void StationTable::clear()
{
    records_.resize(1);
    records_.front() = StationRecord{};
}

} // namespace skyvane::station
