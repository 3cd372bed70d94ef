#pragma once
// XOBGetNumber: the line edit every number the user types goes through. It
// takes only digits, one decimal separator and, where allowed, a leading
// minus sign, keeps the integer and decimal digits within their limits, and
// hands the number to the program as a double through value().
//
// The separators are the user's regional ones (LC_NUMERIC), read when the
// field is made. Whatever reaches the text without a typed key (pasting,
// dropping, setText) is cleaned by the change handling, so the text always
// reads as a number within the limits.

#include "Format.h"

#include <QLineEdit>
#include <limits>

class XOBGetNumber : public QLineEdit {
    Q_OBJECT
    Q_PROPERTY(double Value READ value WRITE setValue)
    Q_PROPERTY(bool AllowNegative READ allowNegative WRITE setAllowNegative)
    Q_PROPERTY(int DigitsMostSignificant READ digitsMostSignificant WRITE setDigitsMostSignificant)
    Q_PROPERTY(int DigitsDecimal READ digitsDecimal WRITE setDigitsDecimal)
    Q_PROPERTY(QString DisplayFormat READ displayFormat WRITE setDisplayFormat)

public:
    explicit XOBGetNumber(QWidget* parent = nullptr);

    // The typed number: thousands separators are ignored, the first decimal
    // separator is the decimal point, and reading stops at the first
    // character that does not belong to a number (an empty text gives 0).
    double value() const;
    // Shows v with DisplayFormat, or as its plain decimal text when the
    // format is empty. Not-a-number and infinities give an empty field.
    void setValue(double v);
    // setValue for the program's redraws: left alone while the user is
    // typing (the field has the focus, or holds typed text not yet taken),
    // and when the field already shows v.
    void showValue(double v);

    bool allowNegative() const { return m_allowNegative; }
    void setAllowNegative(bool on) { m_allowNegative = on; }
    // At least one integer digit; 0 decimals makes a whole-number field.
    int digitsMostSignificant() const { return m_digitsMost; }
    void setDigitsMostSignificant(int n);
    int digitsDecimal() const { return m_digitsDecimal; }
    void setDigitsDecimal(int n);
    QString displayFormat() const { return m_displayFormat; }
    void setDisplayFormat(const QString& f) { m_displayFormat = f; }

    // Whether the user has typed or pasted into the field since the program
    // last set its value.
    bool isUserEdited() const { return m_userEdited; }
    void clearUserEdited() { m_userEdited = false; }

    skyvane::format::Separators separators() const { return m_sep; }
    // Replaces the regional separators (a field shown for another region).
    void setSeparators(const skyvane::format::Separators& sep);

    // The text-to-number rule of value(), for a text written with `sep`.
    static double toNumber(const QString& text, const skyvane::format::Separators& sep);

signals:
    // The text changed (typed, pasted or set), raised again once the field
    // has brought the text within its limits.
    void changed();
    // The user is leaving the field for another control of the window (Tab,
    // a click elsewhere) or pressed Return. A handler that sets `cancel`
    // keeps the focus in the field, with its text selected, so that a value
    // the program can not take is corrected before anything else is done.
    // Raised once the focus change has been handled, never from inside it.
    void validate(bool& cancel);

protected:
    void keyPressEvent(QKeyEvent* e) override;
    void focusInEvent(QFocusEvent* e) override;
    void focusOutEvent(QFocusEvent* e) override;
    void mousePressEvent(QMouseEvent* e) override;

private:
    bool acceptsCharacter(QChar c) const;
    void onTextChanged(const QString& text);
    void setTextKeepingSign(const QString& t);
    QChar decimalChar() const;
    void runValidation(bool refocus);

    skyvane::format::Separators m_sep;
    bool m_allowNegative = false;
    int m_digitsMost = 3;
    int m_digitsDecimal = 2;
    QString m_displayFormat;
    bool m_rewriting = false;   // the field itself is rewriting the text
    bool m_keepSign = false;    // the program is setting a (maybe negative) number
    QString m_settled;          // the text after the last change handling
    bool m_selectOnClick = false;
    bool m_userEdited = false;
    double m_lastSet = std::numeric_limits<double>::quiet_NaN();
};
