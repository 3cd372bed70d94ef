#pragma once
// The records read from the station's file: each record has a name, a unit
// and a value. Records are numbered from 1; record 0 always exists and stays
// empty, so a name that is not in the file looks up to empty texts.

#include <QString>
#include <QStringView>
#include <vector>

namespace skyvane::station {

struct StationRecord {
    QString name;
    QString unit;
    QString value;
};

class StationTable {
public:
    StationTable();

    // Number of records (the highest record number); 0 when empty.
    int count() const { return int(records_.size()) - 1; }
    bool isEmpty() const { return count() == 0; }

    // Appends an empty record and returns its number.
    int addRecord();
    // Record i; any number outside 1..count() gives the empty record 0.
    const StationRecord& record(int i) const;
    StationRecord& recordForWrite(int i) { return records_.at(size_t(i)); }

    // Number of the first record whose name equals key without regard to
    // letter case, or 0 when none does.
    int find(QStringView key) const;
    // The record found by find(key) (record 0 when missing).
    const StationRecord& lookup(QStringView key) const { return record(find(key)); }

    // Drops every record but the empty record 0.
    void clear();
    void reserve(int n) { records_.reserve(size_t(n) + 1); }

private:
    std::vector<StationRecord> records_;
};

} // namespace skyvane::station
