#include "Format.h"

#include <QLocale>
#include <QRegularExpression>
#include <algorithm>
#include <clocale>
#include <cmath>
#include <langinfo.h>

namespace skyvane::format {

Separators regional()
{
    Separators s;
    // The C library's LC_NUMERIC category; Qt sets it from the environment
    // at start-up.
    const char* dp = nl_langinfo(RADIXCHAR);
    const char* ts = nl_langinfo(THOUSEP);
    if (dp && *dp) s.decimal = QString::fromLocal8Bit(dp);
    if (ts && *ts) s.thousands = QString::fromLocal8Bit(ts);
    else s.thousands = (s.decimal == QLatin1String(",")) ? QStringLiteral(".") : QStringLiteral(",");
    return s;
}

namespace {

// Decimal digits of |value| rounded half away from zero to `decimals`
// places, as an integer-part string and a fraction string.
void roundedDigits(double value, int decimals, QString& intPart, QString& fracPart)
{
    // Start from the value's decimal text with 15 significant digits, then
    // round that text, so 0.15 rounds to 0.2 as people expect.
    const double a = std::abs(value);
    QString s = QString::number(a, 'g', 15);
    if (s.contains(QLatin1Char('e'))) s = QString::number(a, 'f', a < 1 ? 20 : 0);
    int dot = s.indexOf(QLatin1Char('.'));
    QString ip = dot < 0 ? s : s.left(dot);
    QString fp = dot < 0 ? QString() : s.mid(dot + 1);
    if (ip.isEmpty()) ip = QStringLiteral("0");
    while (fp.size() < decimals + 1) fp += QLatin1Char('0');
    const bool roundUp = fp.at(decimals) >= QLatin1Char('5');
    QString digits = ip + fp.left(decimals);
    if (roundUp) {
        int i = digits.size() - 1;
        for (; i >= 0; --i) {
            if (digits[i] == QLatin1Char('9')) digits[i] = QLatin1Char('0');
            else { digits[i] = QChar(digits[i].unicode() + 1); break; }
        }
        if (i < 0) digits.prepend(QLatin1Char('1'));
    }
    intPart = digits.left(digits.size() - decimals);
    fracPart = digits.right(decimals);
    // strip leading zeros of the integer part (kept as "" for zero)
    int nz = 0;
    while (nz < intPart.size() && intPart[nz] == QLatin1Char('0')) ++nz;
    intPart = intPart.mid(nz);
}

} // namespace

QString number(double value, const QString& pattern)
{
    return number(value, pattern, regional());
}

QString number(double value, const QString& pattern, const Separators& sep)
{
    if (!std::isfinite(value)) return {};
    const int dot = pattern.indexOf(QLatin1Char('.'));
    const QString intPat = dot < 0 ? pattern : pattern.left(dot);
    const QString fracPat = dot < 0 ? QString() : pattern.mid(dot + 1);
    const bool grouping = intPat.contains(QLatin1Char(','));
    const int minInt = int(intPat.count(QLatin1Char('0')));
    const int decimals = int(fracPat.count(QLatin1Char('0')) + fracPat.count(QLatin1Char('#')));
    const int minFrac = int(fracPat.count(QLatin1Char('0')));

    QString ip, fp;
    roundedDigits(value, decimals, ip, fp);
    // optional fraction digits ('#') drop their trailing zeros
    while (fp.size() > minFrac && fp.endsWith(QLatin1Char('0'))) fp.chop(1);
    while (ip.size() < minInt) ip.prepend(QLatin1Char('0'));
    if (grouping) {
        for (int i = ip.size() - 3; i > 0; i -= 3) ip.insert(i, sep.thousands);
    }
    // a plain scan: this runs for every number of every read cycle
    const auto nonZeroDigit = [](const QString& t) {
        return std::any_of(t.begin(), t.end(), [](QChar c) { return c >= QLatin1Char('1') && c <= QLatin1Char('9'); });
    };
    const bool zero = !nonZeroDigit(ip) && !nonZeroDigit(fp);
    QString out = ip;
    if (dot >= 0 && (!fp.isEmpty() || fracPat.isEmpty())) out += sep.decimal + fp;
    if (value < 0 && !zero) out.prepend(QLatin1Char('-'));
    return out;
}

QString dateTime(const QDateTime& t, const QString& pattern)
{
    if (!t.isValid()) return {};
    struct Tok { QChar c; int n; int pos; };
    // tokenise into runs of the same letter
    QList<Tok> toks;
    QList<QString> literals; // literal text before each token; last is trailing
    QString lit;
    for (int i = 0; i < pattern.size();) {
        const QChar c = pattern[i].toLower();
        if (c == QLatin1Char('d') || c == QLatin1Char('m') || c == QLatin1Char('y') || c == QLatin1Char('h')
            || c == QLatin1Char('n') || c == QLatin1Char('s')) {
            int j = i;
            while (j < pattern.size() && pattern[j].toLower() == c) ++j;
            literals << lit;
            lit.clear();
            toks << Tok{c, j - i, i};
            i = j;
        } else {
            lit += pattern[i];
            ++i;
        }
    }
    literals << lit;
    QString out;
    const QDate d = t.date();
    const QTime tm = t.time();
    auto pad = [](int v, int w) { return QString::number(v).rightJustified(w, QLatin1Char('0')); };
    for (int k = 0; k < toks.size(); ++k) {
        out += literals[k];
        const Tok& tk = toks[k];
        const bool minutes = tk.c == QLatin1Char('m')
            && ((k > 0 && toks[k - 1].c == QLatin1Char('h')) || (k + 1 < toks.size() && toks[k + 1].c == QLatin1Char('s')));
        switch (tk.c.unicode()) {
        case 'd': out += tk.n >= 2 ? pad(d.day(), 2) : QString::number(d.day()); break;
        case 'y': out += tk.n >= 4 ? pad(d.year(), 4) : pad(d.year() % 100, 2); break;
        case 'h': out += tk.n >= 2 ? pad(tm.hour(), 2) : QString::number(tm.hour()); break;
        case 'n': out += tk.n >= 2 ? pad(tm.minute(), 2) : QString::number(tm.minute()); break;
        case 's': out += tk.n >= 2 ? pad(tm.second(), 2) : QString::number(tm.second()); break;
        case 'm':
            if (minutes) out += tk.n >= 2 ? pad(tm.minute(), 2) : QString::number(tm.minute());
            else out += tk.n >= 2 ? pad(d.month(), 2) : QString::number(d.month());
            break;
        default: break;
        }
    }
    out += literals.last();
    return out;
}

double leadingNumber(const QString& text)
{
    const QString s = text.trimmed();
    int i = 0;
    QString num;
    if (i < s.size() && (s[i] == QLatin1Char('-') || s[i] == QLatin1Char('+'))) num += s[i++];
    bool seenDot = false, seenDigit = false;
    for (; i < s.size(); ++i) {
        if (s[i].isDigit()) { num += s[i]; seenDigit = true; }
        else if (s[i] == QLatin1Char('.') && !seenDot) { num += s[i]; seenDot = true; }
        else break;
    }
    if (!seenDigit) return 0.0;
    return num.toDouble();
}

bool parseNumber(const QString& text, double& value)
{
    bool ok = false;
    const double v = QLocale::c().toDouble(text.trimmed(), &ok);
    if (!ok || !std::isfinite(v)) return false;
    value = v;
    return true;
}

} // namespace skyvane::format
