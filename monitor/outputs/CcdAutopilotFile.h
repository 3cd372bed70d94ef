#pragma once
// The CCDAutopilot data file: one fixed-layout record of exactly 100
// single-byte characters, no line end, rewritten every read cycle and polled
// by the imaging program.
//
// The record is written in place with one positioned write of all 100 bytes:
// a reader polling the file never sees a record half old and half new, and
// the file is never truncated, so bytes a reader keeps after column 100
// survive.

#include "OutputValues.h"

#include <QByteArray>
#include <QString>

namespace skyvane::outputs {

inline constexpr int kCcdRecordLength = 100;
inline constexpr const char* kCcdDefaultFileName = "XOB_CCDAP4_II.dat";

// A numeric field of width w: the formatted value right-aligned in w-1
// characters (a longer text loses its leftmost characters), then a blank.
// Width 1 is the first character of the formatted value.
QString rightAligned(const QString& formatted, int width);

// The 100 characters of the record for these values, as bytes (Latin-1).
QByteArray ccdRecord(const OutputValues& v);

// A blank (or all-blank) file name switches the file off.
bool ccdFileEnabled(const QString& fileName);
// folder + "/" + the name as typed.
QString ccdFullName(const QString& folder, const QString& fileName);

// Writes the record as bytes 1-100 of the file, creating it when needed.
// False, with the reason in error, when it could not be opened or written.
bool writeCcdRecord(const QString& path, const QByteArray& record, QString* error = nullptr);

} // namespace skyvane::outputs
