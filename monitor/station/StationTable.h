#pragma once
// The records read from the station's file: each record has a name, a unit
// and a value. Records are numbered from 1; record 0 always exists and stays
// empty, so a name that is not in the file looks up to empty texts.
//
// All field texts live one after another in a single string and the records
// hold their positions: a page of 100,000 rows then costs a handful of
// allocations instead of 300,000, which keeps reading time linear in the
// size of the file.

#include "TextEncoding.h"

#include <QByteArrayView>
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
    enum Column { Name = 0, Unit = 1, Value = 2 };

    StationTable();

    // Number of records (the highest record number); 0 when empty.
    int count() const { return int(rows_.size()) - 1; }
    bool isEmpty() const { return count() == 0; }

    // Appends an empty record and returns its number.
    int addRecord();
    // Sets a field of record row (1..count()), from text or from raw bytes in
    // the given encoding.
    void setField(int row, Column column, QStringView text);
    void setField(int row, Column column, QByteArrayView raw, TextEncoding enc);

    // A field of record i; empty for any number outside 1..count().
    QStringView field(int i, Column column) const;
    // Record i as texts; record 0 (empty) for any number outside 1..count().
    StationRecord record(int i) const;

    // Number of the first record whose name, upper-cased, equals the
    // upper-cased key, or 0 when none does.
    int find(QStringView key) const;
    // The record found by find(key) (the empty record when missing).
    StationRecord lookup(QStringView key) const { return record(find(key)); }

    // Drops every record but the empty record 0.
    void clear();

private:
    struct Span {
        qsizetype offset = 0;
        qsizetype length = 0;
    };
    struct Row {
        Span fields[3];
    };
    std::vector<Row> rows_;
    QString text_;
};

} // namespace skyvane::station
