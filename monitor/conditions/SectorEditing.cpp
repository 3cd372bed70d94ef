#include "SectorEditing.h"

#include <algorithm>

namespace skyvane::conditions {

namespace {

// The integer at the start of a field, as the gate's reader sees it; blanks
// around it are allowed, anything that is not a number reads as 0. Long runs
// of digits are cut before they can overflow (the clamp follows anyway).
int fieldValue(const QString& field)
{
    const QString f = field.trimmed();
    int i = 0;
    bool negative = false;
    if (i < f.size() && (f.at(i) == QLatin1Char('-') || f.at(i) == QLatin1Char('+'))) {
        negative = f.at(i) == QLatin1Char('-');
        ++i;
    }
    long v = 0;
    for (; i < f.size() && f.at(i).isDigit() && f.at(i).unicode() < 128; ++i)
        v = std::min(v * 10 + (f.at(i).unicode() - '0'), 100000L);
    return int(negative ? -v : v);
}

} // namespace

SectorEdit SectorEdit::fromText(const QString& text)
{
    const QString p = text.trimmed() + QStringLiteral("0000 0000 000");
    SectorEdit e;
    e.from_ = fieldValue(p.mid(0, 4));
    e.to_ = fieldValue(p.mid(5, 4));
    e.minutes_ = fieldValue(p.mid(10, 2));
    e.clamp();
    return e;
}

void SectorEdit::clamp()
{
    to_ = std::clamp(to_, 0, 359);
    from_ = std::clamp(from_, -359, 359);
    if (from_ > to_) from_ = to_;
    if (from_ < 0 && to_ - from_ > 359) from_ = to_ - 359;
    minutes_ = std::clamp(minutes_, 0, 99);
}

void SectorEdit::setMinutes(int m) { minutes_ = std::clamp(m, 0, 99); }

void SectorEdit::moveFrom(int value)
{
    from_ = std::clamp(value, -359, 359);
    if (from_ >= to_) from_ = to_;
    if (from_ < 0 && -from_ > 359 - to_) from_ = to_ - 359;
}

void SectorEdit::moveTo(int sliderValue)
{
    to_ = std::clamp(-sliderValue, 0, 359);
    if (to_ <= from_) to_ = from_;
    if (from_ < 0 && to_ > from_ + 359) to_ = from_ + 359;
}

void SectorEdit::dragFrom(const SectorEdit& start, int delta)
{
    to_ = start.to_;
    from_ = std::clamp(start.from_ + std::clamp(delta, -1000, 1000), -359, 359);
    from_ = std::min(from_, to_);
    if (from_ < 0) from_ = std::max(from_, to_ - 359);
}

void SectorEdit::dragTo(const SectorEdit& start, int delta)
{
    from_ = start.from_;
    to_ = std::clamp(start.to_ + std::clamp(delta, -1000, 1000), 0, 359);
    to_ = std::max(to_, from_);
    if (from_ < 0) to_ = std::min(to_, from_ + 359);
}

DirectionSector SectorEdit::accepted() const
{
    if (from_ == to_) return {0, 0, minutes_};
    return {from_, to_, minutes_};
}

bool SectorEdit::isValid() const
{
    return from_ >= -359 && from_ <= to_ && to_ >= 0 && to_ <= 359 && to_ - from_ <= 359 && minutes_ >= 0 &&
           minutes_ <= 99;
}

} // namespace skyvane::conditions
