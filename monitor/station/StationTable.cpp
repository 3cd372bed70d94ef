#include "StationTable.h"

namespace skyvane::station {

namespace {

bool isAscii(QStringView s)
{
    for (QChar c : s)
        if (c.unicode() >= 0x80) return false;
    return true;
}

char16_t asciiUpper(char16_t c) { return (c >= 'a' && c <= 'z') ? char16_t(c - 32) : c; }

} // namespace

StationTable::StationTable() { rows_.emplace_back(); }

int StationTable::addRecord()
{
    rows_.emplace_back();
    return count();
}

void StationTable::setField(int row, Column column, QStringView text)
{
    const qsizetype offset = text_.size();
    text_.append(text);
    rows_.at(size_t(row)).fields[column] = Span{offset, text.size()};
}

void StationTable::setField(int row, Column column, QByteArrayView raw, TextEncoding enc)
{
    const qsizetype offset = text_.size();
    appendDecoded(text_, raw.data(), raw.size(), enc);
    rows_.at(size_t(row)).fields[column] = Span{offset, text_.size() - offset};
}

QStringView StationTable::field(int i, Column column) const
{
    if (i < 1 || i > count()) return {};
    const Span& s = rows_[size_t(i)].fields[column];
    return QStringView(text_).mid(s.offset, s.length);
}

StationRecord StationTable::record(int i) const
{
    return StationRecord{field(i, Name).toString(), field(i, Unit).toString(), field(i, Value).toString()};
}

int StationTable::find(QStringView key) const
{
    // Names and keys are nearly always plain ASCII, compared here without
    // building strings; anything else goes through full upper-casing.
    const bool asciiKey = isAscii(key);
    QString upperKey;
    for (int i = 1; i <= count(); ++i) {
        const QStringView name = field(i, Name);
        if (asciiKey && isAscii(name)) {
            if (name.size() != key.size()) continue;
            bool same = true;
            for (qsizetype k = 0; k < name.size() && same; ++k)
                same = asciiUpper(name[k].unicode()) == asciiUpper(key[k].unicode());
            if (same) return i;
            continue;
        }
        if (upperKey.isNull()) upperKey = key.toString().toUpper();
        if (name.toString().toUpper() == upperKey) return i;
    }
    return 0;
}

void StationTable::clear()
{
    rows_.resize(1);
    rows_.front() = Row{};
    text_.clear();
}

} // namespace skyvane::station
