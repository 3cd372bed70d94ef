#pragma once
// The rules of the sector editor, without the dialog: reading a sector text
// into the editor, the two sliders, dragging on the compass rose, and the
// text written on OK. Whatever the user does, the sector stays valid:
// -359 <= from <= to <= 359, to >= 0, and a sector through north (a negative
// from-direction) spans at most 359 degrees.
//
// Opening the editor never changes the stored text: a hand-edited text that
// breaks these rules is shown clamped, and the safety decision goes on
// reading the stored text as it is until the user confirms the editor.

#include "Safety.h"

#include <QString>

namespace skyvane::conditions {

class SectorEdit {
public:
    SectorEdit() = default;
    // Reads the text the way the direction gate does (trimmed, padded with
    // "0000 0000 000", fields at characters 1-4, 6-9 and 11-12); a field that
    // is not a number reads as 0. The result is clamped to a valid sector
    // and to 0..99 minutes.
    static SectorEdit fromText(const QString& text);

    int from() const { return from_; }
    int to() const { return to_; }
    int minutes() const { return minutes_; }
    void setMinutes(int m);

    // The from slider was moved to `value`: from follows it, stopping at the
    // to-direction and, below 0, at to - 359.
    void moveFrom(int value);
    // The to slider (which holds the negated to-direction) was moved to
    // `sliderValue`: to = -sliderValue, stopping at from and, when from is
    // negative, at from + 359.
    void moveTo(int sliderValue);

    // A drag on the diagram: `start` is the sector at button-down, `delta`
    // the horizontal movement since then in degrees. The left button moves
    // the from-direction, the right button the to-direction.
    void dragFrom(const SectorEdit& start, int delta);
    void dragTo(const SectorEdit& start, int delta);

    // The sector OK stores: an empty sector (from = to) becomes 0 to 0.
    DirectionSector accepted() const;
    // Its text: "-090  090  05 " (from and to formatted "000" and padded to
    // four characters, the minutes "00", a trailing blank).
    QString acceptedText() const { return formatSectorText(accepted()); }

    // The invariants every editor state keeps.
    bool isValid() const;

private:
    void clamp();
    int from_ = 0;
    int to_ = 359;
    int minutes_ = 1;
};

} // namespace skyvane::conditions
