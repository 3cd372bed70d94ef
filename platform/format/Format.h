#pragma once
// Numbers and dates become text through the small format patterns the monitor
// has always used ("0", "0.0", "#0.0", "00", "000", "#0", "#,##0",
// "yyyy-mm-dd", "hh:mm:ss", "dd/mm hh:mm:ss" ...). The decimal and thousands
// separators are the user's regional ones unless given explicitly.

#include <QDateTime>
#include <QString>

namespace skyvane::format {

struct Separators {
    QString decimal = QStringLiteral(".");
    QString thousands = QStringLiteral(",");
};

// The separators of the user's regional settings (LC_NUMERIC), read afresh on
// every call so that a changed setting is picked up by the next read cycle.
Separators regional();

// Number pattern: '0' digit, '#' optional digit, '.' decimal point, ',' between
// digit placeholders groups thousands. Rounds half away from zero on the
// decimal value, so 2.5 -> "3" and 0.15 -> "0.2". A value that rounds to zero
// is shown without a minus sign. NaN and infinities give an empty text.
QString number(double value, const QString& pattern, const Separators& sep);
QString number(double value, const QString& pattern);

// Date pattern: d dd m mm yy yyyy h hh n nn s ss; "m"/"mm" right after an
// hour or right before a seconds token means minutes. Other characters are
// copied. An invalid date-time gives an empty text.
QString dateTime(const QDateTime& t, const QString& pattern);

// Reads the leading numeric part of text ("5.2" of "5.20 beta", like Val()),
// with '.' as the decimal point; no digits gives 0.
double leadingNumber(const QString& text);

// Reads a whole text as a number written with '.' as the decimal point, the
// way the station file and the settings store write numbers. Returns false
// (and leaves value untouched) when the text is not a number.
bool parseNumber(const QString& text, double& value);

} // namespace skyvane::format
