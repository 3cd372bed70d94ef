#include "TestLocale.h"
#include "XOBGetNumber.h"

#include <QApplication>
#include <QClipboard>
#include <QLocale>
#include <QRandomGenerator>
#include <QRegularExpression>
#include <QSignalSpy>
#include <QTest>
#include <QVBoxLayout>
#include <gtest/gtest.h>
#include <cmath>
#include <memory>

using skyvane::format::Separators;

QT_BEGIN_NAMESPACE
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }
QT_END_NAMESPACE
namespace skyvane::format {
inline void PrintTo(const Separators& s, std::ostream* os)
{
    *os << "decimal " << s.decimal.toStdString() << " thousands " << s.thousands.toStdString();
}
} // namespace skyvane::format

namespace {

const Separators kDot{QStringLiteral("."), QStringLiteral(",")};
const Separators kComma{QStringLiteral(","), QStringLiteral(".")};

// A shown, active window with two fields, so that focus moves for real.
struct Form {
    QWidget window;
    XOBGetNumber* field;
    XOBGetNumber* other;
    explicit Form(const Separators& sep)
    {
        auto* lay = new QVBoxLayout(&window);
        field = new XOBGetNumber(&window);
        other = new XOBGetNumber(&window);
        lay->addWidget(field);
        lay->addWidget(other);
        field->setSeparators(sep);
        other->setSeparators(sep);
        window.show();
        window.activateWindow();
        EXPECT_TRUE(QTest::qWaitForWindowActive(&window));
        field->setFocus(Qt::OtherFocusReason);
    }
    void type(const QString& keys) { QTest::keyClicks(field, keys); }
};

class NumField : public ::testing::TestWithParam<Separators> {
protected:
    const Separators sep = GetParam();
    QString d = sep.decimal;  // the decimal separator as typed
    // A number written with '.' as it appears in this locale.
    QString loc(QString s) const { return s.replace(QLatin1Char('.'), sep.decimal); }
};

} // namespace

TEST_P(NumField, TypedDigitsStayWithinTheLimits)
{
    Form f(sep);
    QSignalSpy changes(f.field, &XOBGetNumber::changed);
    f.type(QStringLiteral("1234"));
    EXPECT_EQ(f.field->text(), QStringLiteral("123"));
    EXPECT_GE(changes.count(), 3);
    EXPECT_DOUBLE_EQ(f.field->value(), 123);

    f.field->clear();
    f.type(loc(QStringLiteral("12.34")));
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("12.34")));
    f.type(QStringLiteral("5"));
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("12.34")));
    EXPECT_DOUBLE_EQ(f.field->value(), 12.34);

    // Letters, spaces and the thousands separator are refused.
    f.type(QStringLiteral("a ") + sep.thousands);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("12.34")));
}

TEST_P(NumField, TypingIsNeverRewrittenUnderTheCaret)
{
    Form f(sep);
    f.type(loc(QStringLiteral("123.45")));
    // Full integer part: a digit in front is refused, not let in and then
    // cut off at the end of the integer part.
    f.field->setCursorPosition(0);
    f.type(QStringLiteral("9"));
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("123.45")));
    EXPECT_EQ(f.field->cursorPosition(), 0);
    // Full decimals: a digit right after the separator is refused too.
    f.field->setCursorPosition(4);
    f.type(QStringLiteral("7"));
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("123.45")));
    EXPECT_EQ(f.field->cursorPosition(), 4);
    // Backspace and typing in the middle work as usual.
    // A digit over a selected separator that would join the two parts into
    // too long a number is refused as well.
    f.field->setSelection(3, 1);
    f.type(QStringLiteral("6"));
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("123.45")));
    f.field->setSelection(1, 1);
    f.type(QStringLiteral("6"));
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("163.45")));
    f.field->setSelection(1, 1);
    f.type(QStringLiteral("2"));
    f.field->setCursorPosition(2);
    QTest::keyClick(f.field, Qt::Key_Backspace);
    f.type(QStringLiteral("8"));
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("183.45")));
    EXPECT_EQ(f.field->cursorPosition(), 2);
}

TEST_P(NumField, MinusOnlyFirstOnceAndWhenAllowed)
{
    Form f(sep);
    f.type(QStringLiteral("-5"));
    EXPECT_EQ(f.field->text(), QStringLiteral("5"));

    f.field->clear();
    f.field->setAllowNegative(true);
    f.type(QStringLiteral("-5-"));
    EXPECT_EQ(f.field->text(), QStringLiteral("-5"));
    f.field->setCursorPosition(0);
    f.type(QStringLiteral("-7") + d);  // nothing goes in front of the sign
    EXPECT_EQ(f.field->text(), QStringLiteral("-5"));
    f.field->setCursorPosition(2);
    f.type(QStringLiteral("12") + d + QStringLiteral("25"));
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("-512.25")));
    EXPECT_DOUBLE_EQ(f.field->value(), -512.25);

    f.field->setText(QStringLiteral("3"));
    f.field->setCursorPosition(1);
    f.type(QStringLiteral("-"));
    EXPECT_EQ(f.field->text(), QStringLiteral("3"));
    f.field->setCursorPosition(0);
    f.type(QStringLiteral("-"));
    EXPECT_EQ(f.field->text(), QStringLiteral("-3"));
    // Typing over the whole text may start with a new sign.
    f.field->selectAll();
    f.type(QStringLiteral("-7"));
    EXPECT_EQ(f.field->text(), QStringLiteral("-7"));
    f.field->setSelection(1, 1);
    f.type(QStringLiteral("-"));
    EXPECT_EQ(f.field->text(), QStringLiteral("-7"));
}

TEST_P(NumField, SecondSeparatorOnlyReplacesASelectionOverTheFirst)
{
    Form f(sep);
    f.type(loc(QStringLiteral("123.4")));
    f.type(d);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("123.4")));
    // A selection that starts before the separator but stops short of it
    // would leave two separators: refused.
    f.field->setSelection(0, 2);
    f.type(d);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("123.4")));
    // A one-character selection is refused as well.
    f.field->setSelection(3, 1);
    f.type(d);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("123.4")));
    // A selection over the separator is replaced.
    f.field->setSelection(1, 3);
    f.type(d);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("1.4")));
    EXPECT_DOUBLE_EQ(f.field->value(), 1.4);

    // A separator that would leave more decimals than the field holds is
    // refused rather than cutting off the digits behind it.
    f.field->setText(QStringLiteral("123"));
    f.field->setCursorPosition(0);
    f.type(d);
    EXPECT_EQ(f.field->text(), QStringLiteral("123"));
    f.field->setCursorPosition(1);
    f.type(d);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("1.23")));

    f.field->clear();
    f.field->setDigitsDecimal(0);
    f.type(QStringLiteral("4") + d + QStringLiteral("5"));
    EXPECT_EQ(f.field->text(), QStringLiteral("45"));
}

TEST_P(NumField, PastedTextIsCleanedAndCut)
{
    Form f(sep);
    QApplication::clipboard()->setText(loc(QStringLiteral("98765.4321")));
    QTest::keyClick(f.field, Qt::Key_V, Qt::ControlModifier);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("987.43")));

    f.field->clear();
    QApplication::clipboard()->setText(QStringLiteral("x-1a2") + d + QStringLiteral("3") + d + QStringLiteral("4"));
    f.field->paste();
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("12.34")));

    // A pasted sign where none is allowed is dropped, and leading zeros go
    // before digits do.
    f.field->clear();
    QApplication::clipboard()->setText(QStringLiteral("-00042"));
    f.field->paste();
    EXPECT_EQ(f.field->text(), QStringLiteral("042"));
    EXPECT_DOUBLE_EQ(f.field->value(), 42);
}

TEST_P(NumField, ValueLetFollowsDisplayFormat)
{
    Form f(sep);
    f.field->setValue(2.5);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("2.5")));
    f.field->setDisplayFormat(QStringLiteral("0.00"));
    f.field->setValue(2.5);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("2.50")));
    EXPECT_DOUBLE_EQ(f.field->value(), 2.5);
    // A negative value set by the program stays negative.
    f.field->setValue(-7);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("-7.00")));
    EXPECT_DOUBLE_EQ(f.field->value(), -7);
    f.field->setValue(NAN);
    EXPECT_EQ(f.field->text(), QString());
    EXPECT_DOUBLE_EQ(f.field->value(), 0);
}

TEST_P(NumField, FocusSelectsAllAndLeavingAppliesTheFormat)
{
    Form f(sep);
    f.field->setDisplayFormat(QStringLiteral("0.0"));
    f.type(QStringLiteral("7"));
    f.other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("7.0")));

    f.field->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(f.field->selectedText(), loc(QStringLiteral("7.0")));
    f.type(QStringLiteral("42"));
    EXPECT_EQ(f.field->text(), QStringLiteral("42"));  // not reformatted while typing
    f.other->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(f.field->text(), loc(QStringLiteral("42.0")));

    // A click that brings the focus selects everything as well.
    QTest::mouseClick(f.field, Qt::LeftButton, {}, QPoint(2, f.field->height() / 2));
    EXPECT_TRUE(f.field->hasFocus());
    EXPECT_EQ(f.field->selectedText(), loc(QStringLiteral("42.0")));

    // Without a format the typed text stays as typed.
    f.other->setFocus(Qt::TabFocusReason);
    f.other->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(f.other, loc(QStringLiteral("3.")));
    f.field->setFocus(Qt::TabFocusReason);
    EXPECT_EQ(f.other->text(), loc(QStringLiteral("3.")));
}

TEST_P(NumField, ARefusedValueKeepsTheFocusWithoutTakingItFromAnother)
{
    Form f(sep);
    QTest::qWait(0);
    int checksField = 0, checksOther = 0;
    bool refuse = true;
    QObject::connect(f.field, &XOBGetNumber::validate, f.field, [&](bool& cancel) {
        ++checksField;
        cancel = refuse;
    });
    // The other field refuses everything: when the first takes the focus
    // back, the other must not check itself and take it back in turn.
    QObject::connect(f.other, &XOBGetNumber::validate, f.other, [&](bool& cancel) {
        ++checksOther;
        cancel = true;
    });
    f.field->setFocus(Qt::TabFocusReason);
    f.type(loc(QStringLiteral("1.5")));
    QTest::keyClick(f.field, Qt::Key_Tab);
    QCoreApplication::processEvents();
    QCoreApplication::processEvents();
    EXPECT_EQ(checksField, 1);
    EXPECT_EQ(checksOther, 0);
    EXPECT_TRUE(f.field->hasFocus());
    EXPECT_EQ(f.field->selectedText(), loc(QStringLiteral("1.5")));
    EXPECT_TRUE(f.field->isUserEdited());

    // Return checks without moving anything.
    QTest::keyClick(f.field, Qt::Key_Return);
    EXPECT_EQ(checksField, 2);
    EXPECT_TRUE(f.field->hasFocus());

    // Accepted: the focus moves on.
    refuse = false;
    QTest::keyClick(f.field, Qt::Key_Tab);
    QCoreApplication::processEvents();
    EXPECT_EQ(checksField, 3);
    EXPECT_TRUE(f.other->hasFocus());
    // A value set by the program is not the user's.
    f.field->setValue(2);
    EXPECT_FALSE(f.field->isUserEdited());
}

INSTANTIATE_TEST_SUITE_P(Separators, NumField, ::testing::Values(kDot, kComma),
                         [](const ::testing::TestParamInfo<Separators>& p) { return p.param.decimal == QLatin1String(".") ? "Dot" : "Comma"; });

TEST(NumFieldText, ThousandsSeparatorsAreIgnoredWhenReading)
{
    EXPECT_DOUBLE_EQ(XOBGetNumber::toNumber(QStringLiteral("1.234,5"), kComma), 1234.5);
    EXPECT_DOUBLE_EQ(XOBGetNumber::toNumber(QStringLiteral("1,234.5"), kDot), 1234.5);
    EXPECT_DOUBLE_EQ(XOBGetNumber::toNumber(QString(), kDot), 0);
    EXPECT_DOUBLE_EQ(XOBGetNumber::toNumber(QStringLiteral("-"), kDot), 0);

    XOBGetNumber f;
    f.setSeparators(kComma);
    f.setDigitsMostSignificant(5);
    f.setText(QStringLiteral("1.234,5"));
    EXPECT_DOUBLE_EQ(f.value(), 1234.5);
}

TEST(NumFieldText, StartsWithTheRegionalSeparatorsAndDefaults)
{
    XOBGetNumber f;
    const Separators r = skyvane::format::regional();
    EXPECT_EQ(f.separators().decimal, r.decimal);
    EXPECT_EQ(f.separators().thousands, r.thousands);
    EXPECT_EQ(f.digitsMostSignificant(), 3);
    EXPECT_EQ(f.digitsDecimal(), 2);
    EXPECT_FALSE(f.allowNegative());
    EXPECT_TRUE(f.displayFormat().isEmpty());
}

// The user's regional settings, not a test's choice: a field made under a
// numeric locale with a decimal comma takes the comma from typed keys and
// reads "1.234,5" as 1234.5; the point is then only a thousands separator.
TEST(NumFieldText, RegionalCommaLocaleDrivesTypedKeys)
{
    if (!skyvane::testing::haveCommaLocale()) GTEST_SKIP() << "no locale with a decimal comma could be made";
    skyvane::testing::NumericLocale de("de_DE.UTF-8");
    ASSERT_TRUE(de.ok());
    XOBGetNumber f;
    EXPECT_EQ(f.separators().decimal, QStringLiteral(","));
    f.setDigitsMostSignificant(5);
    f.setDigitsDecimal(2);
    f.show();
    f.setFocus();
    QTest::keyClicks(&f, QStringLiteral("12.3"));
    EXPECT_EQ(f.text(), QStringLiteral("123")) << "a typed point is not the decimal symbol here";
    QTest::keyClicks(&f, QStringLiteral(",45"));
    EXPECT_EQ(f.text(), QStringLiteral("123,45"));
    EXPECT_DOUBLE_EQ(f.value(), 123.45);
    f.setText(QStringLiteral("1.234,5"));
    EXPECT_DOUBLE_EQ(f.value(), 1234.5);
}

// Random keys, pastes, carets and selections: whatever happens, the text is
// a number within the limits, and value() reads exactly that number.
TEST(NumFieldProperty, RandomEditingKeepsAReadableNumberWithinTheLimits)
{
    QRandomGenerator rng(20261208);
    const QString pieces = QStringLiteral("0123456789.,-ax ");
    for (int round = 0; round < 60; ++round) {
        const Separators sep = rng.bounded(2) ? kDot : kComma;
        Form f(sep);
        XOBGetNumber* n = f.field;
        const int most = 1 + rng.bounded(5), decimals = rng.bounded(4);
        const bool neg = rng.bounded(2);
        n->setDigitsMostSignificant(most);
        n->setDigitsDecimal(decimals);
        n->setAllowNegative(neg);
        static const char* const formats[] = {"", "0", "0.0", "#0.00", "000.000"};
        n->setDisplayFormat(QLatin1String(formats[rng.bounded(5)]));
        const QString dec = QRegularExpression::escape(sep.decimal);
        const QRegularExpression shape(QStringLiteral("^(-?)(\\d*)(?:%1(\\d*))?$").arg(dec));

        for (int step = 0; step < 80; ++step) {
            const int what = rng.bounded(10);
            if (what < 5) {
                QTest::keyClick(n, pieces.at(rng.bounded(pieces.size())).toLatin1());
            } else if (what == 5) {
                static const Qt::Key keys[] = {Qt::Key_Backspace, Qt::Key_Delete, Qt::Key_Left,
                                               Qt::Key_Right, Qt::Key_Home, Qt::Key_End};
                QTest::keyClick(n, keys[rng.bounded(6)], rng.bounded(3) == 0 ? Qt::ShiftModifier : Qt::NoModifier);
            } else if (what == 6) {
                QString junk;
                for (int i = rng.bounded(12); i > 0; --i) junk += pieces.at(rng.bounded(pieces.size()));
                QApplication::clipboard()->setText(junk);
                n->paste();
            } else if (what == 7) {
                const int len = int(n->text().size());
                const int s = rng.bounded(len + 1);
                n->setSelection(s, rng.bounded(len - s + 1));
            } else if (what == 8) {
                n->setCursorPosition(rng.bounded(int(n->text().size()) + 1));
            } else {
                switch (rng.bounded(3)) {
                case 0: QTest::keyClick(n, Qt::Key_Z, Qt::ControlModifier); break;
                case 1: {
                    const double v = (rng.generateDouble() - (neg ? 0.5 : 0.0)) * std::pow(10.0, rng.bounded(7));
                    n->setValue(v);
                    break;
                }
                default:
                    f.other->setFocus(Qt::TabFocusReason);
                    n->setFocus(Qt::TabFocusReason);
                    break;
                }
            }
            const QString t = n->text();
            const auto m = shape.match(t);
            ASSERT_TRUE(m.hasMatch()) << t.toStdString();
            ASSERT_LE(m.captured(2).size(), most) << t.toStdString();
            ASSERT_LE(m.captured(3).size(), decimals) << t.toStdString();
            if (!neg) {
                ASSERT_TRUE(m.captured(1).isEmpty()) << t.toStdString();
            }
            QString plain = m.captured(1) + m.captured(2) + QLatin1Char('.') + m.captured(3);
            double expected = 0;
            if (!m.captured(2).isEmpty() || !m.captured(3).isEmpty())
                expected = QLocale::c().toDouble(plain.replace(QStringLiteral("-."), QStringLiteral("-0.")));
            ASSERT_DOUBLE_EQ(n->value(), expected) << t.toStdString();
        }
    }
}
