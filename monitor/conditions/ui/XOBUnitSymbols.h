#pragma once
// Editor of the accepted unit spellings of the weather-station file: six text
// boxes; OK stores every list upper-cased.

#include "Units.h"

#include <QDialog>

class QLineEdit;

namespace skyvane::conditions {

class XOBUnitSymbols : public QDialog {
    Q_OBJECT
public:
    explicit XOBUnitSymbols(const UnitSpellings& spellings, QWidget* parent = nullptr);
    // The edited lists; valid after the dialog was accepted.
    UnitSpellings result() const { return result_; }

private:
    void accept() override;

    QLineEdit* kph_;
    QLineEdit* mps_;
    QLineEdit* mph_;
    QLineEdit* knots_;
    QLineEdit* dc_;
    QLineEdit* df_;
    UnitSpellings result_;
};

} // namespace skyvane::conditions
