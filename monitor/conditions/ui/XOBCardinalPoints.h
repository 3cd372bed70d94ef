#pragma once
// Editor of the 16 compass-point names (north first, clockwise). Every box
// keeps its text upper case; entering a box selects its text; OK stores the
// names.

#include "Units.h"

#include <QDialog>
#include <array>

class QLineEdit;

namespace skyvane::conditions {

class XOBCardinalPoints : public QDialog {
    Q_OBJECT
public:
    explicit XOBCardinalPoints(const CompassTable& table, QWidget* parent = nullptr);
    // The edited table; valid after the dialog was accepted.
    CompassTable result() const { return result_; }
    QLineEdit* symbol(int i) const { return symbols_[std::size_t(i)]; }

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void accept() override;

    std::array<QLineEdit*, 16> symbols_{};
    CompassTable result_;
};

} // namespace skyvane::conditions
