#pragma once
// The colour and description editor of a level label (ColorWind(i), ...):
// a palette of swatches and a description box. OK gives the chosen colour and
// the trimmed description, which also becomes the caption of the level's
// unsafe-mark box; a double click on a swatch applies colour and description
// to the label at once and closes, leaving the mark's caption alone.

#include "Levels.h"

#include <QDialog>
#include <memory>
#include <vector>

class QLineEdit;
class QPushButton;

namespace skyvane {
class Clock;
class ClockTimer;
} // namespace skyvane

namespace skyvane::conditions {

// The swatches offered by the editor.
std::vector<int> colourPalette();

class XOBColor : public QDialog {
    Q_OBJECT
public:
    // clock: drives the blinking frame (the system clock when null).
    explicit XOBColor(const LevelStyle& style, QWidget* parent = nullptr, Clock* clock = nullptr);
    ~XOBColor() override;

    // The edited style; valid after the dialog was accepted.
    LevelStyle result() const { return result_; }
    // False when the dialog was closed by a double click on a swatch.
    bool markCaptionFollows() const { return markFollows_; }

    // For tests and keyboard users.
    int selectedSwatch() const { return selected_; }
    int swatchCount() const { return int(swatches_.size()); }
    void selectSwatch(int index);
    void applySwatchAtOnce(int index);
    QLineEdit* descriptionBox() const { return description_; }

private:
    void accept() override;
    void refreshFrames();

    std::vector<int> palette_;
    std::vector<QPushButton*> swatches_;
    QLineEdit* description_ = nullptr;
    int selected_ = -1;
    int current_ = -1; // swatch of the label's present colour (blinks)
    bool blinkOn_ = true;
    LevelStyle result_;
    bool markFollows_ = true;
    std::unique_ptr<Clock> ownClock_;
    std::unique_ptr<ClockTimer> blink_;
};

} // namespace skyvane::conditions
