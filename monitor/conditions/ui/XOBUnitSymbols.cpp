#include "XOBUnitSymbols.h"

#include <QDialogButtonBox>
#include <QFormLayout>
#include <QLineEdit>
#include <QPushButton>

namespace skyvane::conditions {

XOBUnitSymbols::XOBUnitSymbols(const UnitSpellings& spellings, QWidget* parent) : QDialog(parent), result_(spellings)
{
    setWindowTitle(tr("Unit symbols"));
    auto* form = new QFormLayout(this);
    const auto box = [this, form](const char* name, const QString& label, const QString& text) {
        auto* e = new QLineEdit(text, this);
        e->setObjectName(QLatin1String(name));
        form->addRow(label, e);
        return e;
    };
    kph_ = box("SymbolKPH", tr("km/h"), spellings.kph);
    mps_ = box("SymbolMPS", tr("m/s"), spellings.mps);
    mph_ = box("SymbolMPH", tr("mph"), spellings.mph);
    knots_ = box("SymbolKNT", tr("knots"), spellings.knots);
    dc_ = box("SymbolDC", tr("\u00B0C (separate with ;)"), spellings.dc);
    df_ = box("SymbolDF", tr("\u00B0F (separate with ;)"), spellings.df);

    auto* buttons = new QDialogButtonBox(QDialogButtonBox::Ok | QDialogButtonBox::Cancel, this);
    buttons->button(QDialogButtonBox::Ok)->setObjectName(QStringLiteral("ButtOK"));
    buttons->button(QDialogButtonBox::Cancel)->setObjectName(QStringLiteral("ButtCancel"));
    connect(buttons, &QDialogButtonBox::accepted, this, &XOBUnitSymbols::accept);
    connect(buttons, &QDialogButtonBox::rejected, this, &XOBUnitSymbols::reject);
    form->addRow(buttons);
}

void XOBUnitSymbols::accept()
{
    result_.kph = kph_->text().toUpper();
    result_.mps = mps_->text().toUpper();
    result_.mph = mph_->text().toUpper();
    result_.knots = knots_->text().toUpper();
    result_.dc = dc_->text().toUpper();
    result_.df = df_->text().toUpper();
    QDialog::accept();
}

} // namespace skyvane::conditions
