#include "XOBGetNumber.h"

#include <QFocusEvent>
#include <QKeyEvent>
#include <QKeySequence>
#include <QMouseEvent>
#include <QPointer>
#include <QTimer>
#include <cmath>

using skyvane::format::Separators;

namespace {
// Set while a field puts the focus back into itself after a refused value:
// the field that loses the focus then must not check its own value, or two
// fields that both refuse would take the focus from each other forever.
bool g_refocusing = false;
} // namespace

XOBGetNumber::XOBGetNumber(QWidget* parent)
    : QLineEdit(parent), m_sep(skyvane::format::regional())
{
    connect(this, &QLineEdit::textChanged, this, &XOBGetNumber::onTextChanged);
    connect(this, &QLineEdit::textEdited, this, [this] { m_userEdited = true; });
}

QChar XOBGetNumber::decimalChar() const
{
    return m_sep.decimal.isEmpty() ? QLatin1Char('.') : m_sep.decimal.at(0);
}

void XOBGetNumber::setSeparators(const Separators& sep)
{
    m_sep = sep;
    onTextChanged(text());
}

void XOBGetNumber::setDigitsMostSignificant(int n)
{
    m_digitsMost = std::max(1, n);
    onTextChanged(text());
}

void XOBGetNumber::setDigitsDecimal(int n)
{
    m_digitsDecimal = std::max(0, n);
    onTextChanged(text());
}

double XOBGetNumber::toNumber(const QString& text, const Separators& sep)
{
    const QChar dec = sep.decimal.isEmpty() ? QLatin1Char('.') : sep.decimal.at(0);
    QString t = text;
    if (!sep.thousands.isEmpty() && sep.thousands.at(0) != dec) t.remove(sep.thousands.at(0));
    const int p = t.indexOf(dec);
    if (p >= 0) t[p] = QLatin1Char('.');
    const double v = skyvane::format::leadingNumber(t);
    return std::isfinite(v) ? v : 0.0;
}

double XOBGetNumber::value() const { return toNumber(text(), m_sep); }

void XOBGetNumber::showValue(double v)
{
    if (hasFocus() || m_userEdited) return;
    if (v == m_lastSet && !text().isEmpty()) return;
    setValue(v);
}

void XOBGetNumber::setValue(double v)
{
    m_userEdited = false;
    m_lastSet = v;
    if (!std::isfinite(v)) {
        setText(QString());
        return;
    }
    if (!m_displayFormat.trimmed().isEmpty()) {
        setTextKeepingSign(skyvane::format::number(v, m_displayFormat.trimmed(), m_sep));
        return;
    }
    QString s = QString::number(v, 'g', 15);
    if (s.contains(QLatin1Char('e'))) s = QString::number(v, 'f', std::abs(v) < 1 ? 15 : 0);
    s.replace(QLatin1Char('.'), decimalChar());
    setTextKeepingSign(s);
}

void XOBGetNumber::setTextKeepingSign(const QString& t)
{
    m_keepSign = true;
    setText(t);
    m_keepSign = false;
}

// The key filter. It decides on the text as it stands before the key: T the
// text, S the caret, L the selection length, P the index of the decimal
// separator (-1 when there is none). A digit that would push the integer or
// decimal part past its limit is refused here rather than let in and cut off
// afterwards, so what the user has already typed is never rewritten under
// the caret.
bool XOBGetNumber::acceptsCharacter(QChar c) const
{
    const QString t = text();
    const int s = hasSelectedText() ? selectionStart() : cursorPosition();
    const int l = hasSelectedText() ? int(selectedText().size()) : 0;
    const QChar dec = decimalChar();
    const int p = t.indexOf(dec);
    const bool signed_ = t.startsWith(QLatin1Char('-'));
    // Nothing goes in front of the sign unless the sign is being replaced.
    const bool beforeSign = signed_ && s == 0 && l == 0;

    // The text as it would be with the key let in, and whether its integer
    // and decimal digits are within the limits.
    const QString after = t.left(s) + c + t.mid(s + l);
    auto fits = [&] {
        auto digitsIn = [](const QString& part) {
            int n = 0;
            for (QChar ch : part) n += ch.isDigit() ? 1 : 0;
            return n;
        };
        const int q = after.indexOf(dec);
        if (q < 0) return digitsIn(after) <= m_digitsMost;
        return after.indexOf(dec, q + 1) < 0 && digitsIn(after.left(q)) <= m_digitsMost
            && digitsIn(after.mid(q + 1)) <= m_digitsDecimal;
    };

    if (c.isDigit() && c.unicode() < 128) return !beforeSign && fits();
    if (c == QLatin1Char('-')) {
        if (!m_allowNegative) return false;
        // First only, and once: a sign already there may only be replaced
        // by a selection that starts with it ("-5.0" selected, "-7" typed).
        return s == 0 && (!t.contains(QLatin1Char('-')) || l > 0);
    }
    if (c == dec) {
        if (m_digitsDecimal < 1 || beforeSign) return false;
        // A second separator only replaces a selection that covers the
        // existing one, so the text still has a single separator; and it
        // may not turn more digits into decimals than the field holds.
        if (p >= 0 && !(l > 1 && s < p && s + l > p)) return false;
        return fits();
    }
    return false;
}

void XOBGetNumber::keyPressEvent(QKeyEvent* e)
{
    const QString typed = e->text();
    const bool shortcut = e->modifiers() & (Qt::ControlModifier | Qt::AltModifier | Qt::MetaModifier);
    // Keys without a character (caret movement) and the edit shortcuts
    // pass; pasted text is cleaned by the change handling.
    // Control characters (Backspace, Delete, Return, Escape) keep their
    // usual meaning, so a dialog still sees Return and Escape.
    const bool control = typed.size() == 1 && (typed.at(0).unicode() < 0x20 || typed.at(0).unicode() == 0x7f);
    if (!shortcut && (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter)) {
        runValidation(false);
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (typed.isEmpty() || shortcut || control) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    if (typed.size() == 1 && acceptsCharacter(typed.at(0))) {
        QLineEdit::keyPressEvent(e);
        return;
    }
    e->accept();   // refused: swallowed, not passed on to the window
}

// The change handling: whatever the text became, bring it back to a number
// within the limits. A leading minus sign stays where negatives are allowed,
// and also where the program put it (a negative value set through setValue
// is shown as it is, and stays while the user edits the digits); a sign that
// arrived otherwise (pasted) is dropped. Any other sign, thousands separators,
// later decimal separators and other characters are dropped; the integer
// part loses its surplus leading zeros and is then cut to its first
// DigitsMostSignificant digits; the decimals are cut to DigitsDecimal.
void XOBGetNumber::onTextChanged(const QString& t)
{
    emit changed();
    if (m_rewriting) return;

    const QChar dec = decimalChar();
    QString sign, intPart, decPart;
    bool seenDec = false;
    // For each character of t, whether it survives (for putting the caret
    // back where it was in the kept text).
    QVector<bool> kept(t.size(), false);
    for (int i = 0; i < t.size(); ++i) {
        const QChar ch = t.at(i);
        if (i == 0 && ch == QLatin1Char('-')) {
            if (!m_allowNegative && !m_keepSign && !m_settled.startsWith(QLatin1Char('-'))) continue;
            sign = ch;
            kept[i] = true;
        } else if (ch.isDigit() && ch.unicode() < 128) {
            (seenDec ? decPart : intPart) += ch;
            kept[i] = true;
        } else if (ch == dec && !seenDec) {
            seenDec = true;
            kept[i] = true;
        }
        if (seenDec && m_digitsDecimal < 1) {
            kept[i] = false;
            break;
        }
    }
    if (m_digitsDecimal < 1) seenDec = false;

    int dropFront = 0;   // leading zeros removed from the integer part
    if (intPart.size() > m_digitsMost) {
        while (dropFront < intPart.size() - 1 && intPart.at(dropFront) == QLatin1Char('0')
               && intPart.size() - dropFront > m_digitsMost)
            ++dropFront;
    }
    const QString newInt = intPart.mid(dropFront).left(m_digitsMost);
    const QString newDec = decPart.left(m_digitsDecimal);
    const QString result = sign + newInt + (seenDec ? QString(dec) : QString()) + newDec;
    if (result == t) {
        m_settled = t;
        return;
    }

    // The caret goes back to the same place in what is left of the text.
    const int oldCaret = cursorPosition();
    int caret = 0;
    for (int i = 0; i < std::min<int>(oldCaret, t.size()); ++i) caret += kept[i] ? 1 : 0;
    caret = std::clamp(caret - dropFront, 0, int(result.size()));

    m_rewriting = true;
    setText(result);
    m_rewriting = false;
    m_settled = result;
    setCursorPosition(caret);
    emit changed();
}

void XOBGetNumber::focusInEvent(QFocusEvent* e)
{
    QLineEdit::focusInEvent(e);
    selectAll();
    // A click that gives the focus would otherwise put the caret where it
    // lands; the whole text stays selected instead.
    m_selectOnClick = e->reason() == Qt::MouseFocusReason;
}

void XOBGetNumber::mousePressEvent(QMouseEvent* e)
{
    QLineEdit::mousePressEvent(e);
    if (m_selectOnClick) {
        m_selectOnClick = false;
        selectAll();
    }
}

void XOBGetNumber::focusOutEvent(QFocusEvent* e)
{
    QLineEdit::focusOutEvent(e);
    m_selectOnClick = false;
    // A context menu takes the focus only for a moment: leave the text alone.
    if (e->reason() == Qt::PopupFocusReason) return;
    if (!m_displayFormat.trimmed().isEmpty())
        setTextKeepingSign(skyvane::format::number(value(), m_displayFormat.trimmed(), m_sep));
    // Only a move to another control of the window is checked: switching to
    // another window, a menu or the message dialog itself is not leaving.
    switch (e->reason()) {
    case Qt::TabFocusReason:
    case Qt::BacktabFocusReason:
    case Qt::MouseFocusReason:
    case Qt::ShortcutFocusReason:
    case Qt::OtherFocusReason:
        break;
    default:
        return;
    }
    if (g_refocusing) return;
    // The check may show a modal message: it runs once the focus change is
    // over, not inside it.
    QTimer::singleShot(0, this, [this] { runValidation(true); });
}

void XOBGetNumber::runValidation(bool refocus)
{
    bool cancel = false;
    emit validate(cancel);
    if (!cancel || !refocus) return;
    g_refocusing = true;
    setFocus(Qt::OtherFocusReason);
    g_refocusing = false;
    selectAll();
}
