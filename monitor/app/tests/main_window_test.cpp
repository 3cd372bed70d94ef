// The main window and the core without a sensor server: status and code
// lines, menus with clients attached, closing rules, the first-run dialog.
#include "Dialogs.h"
#include "MainWindow.h"
#include "MonitorCore.h"
#include "SettingsStore.h"
#include "XOBGetNumber.h"
#include "XOBWindPars.h"

#include <QAction>
#include <QCheckBox>
#include <QCloseEvent>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QRadioButton>
#include <QSlider>
#include <QLabel>
#include <QLineEdit>
#include <QMenu>
#include <QPushButton>
#include <QDir>
#include <QTabWidget>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

using namespace skyvane;

namespace {
// A bus address nothing listens on: every call to the sensor server fails.
QDBusConnection deadBus()
{
    return QDBusConnection::connectToBus(QStringLiteral("unix:path=/nonexistent/skyvane-test"), QStringLiteral("dead"));
}

// The start asks the bus without waiting; its answers come in the loop.
void finishStart(MonitorCore& core)
{
    QDeadlineTimer deadline(5000);
    while (core.isStarting() && !deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
    QCoreApplication::processEvents();
}

struct Fixture {
    QTemporaryDir dir;
    SettingsStore store{dir.path()};
    FakeClock clock;
    MonitorCore core{clock, store, deadBus(), dir.path()};
    QStringList messages;
    Fixture()
    {
        core.load();
        core.config().pathName = dir.filePath("data");
        core.config().graphImagePath = dir.filePath("images");
    }
    void answerMessages()
    {
        core.setPrompter([this](const QString& text, int, const QString& title) {
            messages << title + ": " + text;
            return int(AnswerOk);
        });
    }
};
// Replaces the text of a number field by typing, then presses Return.
void typeAndReturn(XOBGetNumber* field, const char* keys)
{
    field->setFocus();
    field->selectAll();
    QTest::keyClicks(field, QString::fromLatin1(keys));
    QTest::keyClick(field, Qt::Key_Return);
    QCoreApplication::processEvents();
}

// Runs `inside` on the modal dialog a right click opens, once it is up.
template <typename Dialog, typename F>
void onNextModal(F inside)
{
    QTimer::singleShot(0, [inside] {
        auto* d = qobject_cast<Dialog*>(QApplication::activeModalWidget());
        ASSERT_NE(d, nullptr);
        inside(*d);
        if (d->isVisible()) d->reject();
    });
}
} // namespace

TEST(MainWindow, StatusLineIsCutAt60AndCodeLineIsNot)
{
    Fixture f;
    MainWindow w(f.core);
    const QString longText(75, QLatin1Char('x'));
    f.core.showStatus(longText, colour::Red);
    f.core.showCodes(longText, colour::Red);
    QCoreApplication::processEvents(); // the window redraws once per burst of changes
    EXPECT_EQ(w.findChild<QLabel*>("Statusbar1")->text(), longText.left(60));
    EXPECT_EQ(w.findChild<QLabel*>("Statusbar2")->text(), longText);
}

TEST(MainWindow, UnreachableSensorServerStopsWithTheMessages)
{
    Fixture f;
    MainWindow w(f.core);
    f.answerMessages();
    w.findChild<QPushButton*>("ButtStart")->click();
    finishStart(f.core);
    EXPECT_EQ(f.core.state().status.text, "Problem with XOB_Nephor");
    EXPECT_EQ(f.core.state().status.colour, colour::Red);
    EXPECT_EQ(f.messages, QStringList{titleText() + ": Cannot read XOB_Nephor"});
    EXPECT_FALSE(f.core.isRunning());
    EXPECT_FALSE(f.core.readTimerActive());
    // Stop put the controls back
    EXPECT_TRUE(f.core.state().setupEnabled);
    EXPECT_TRUE(w.findChild<QPushButton*>("ButtStart")->isEnabled());
    // the missing folders were created and reported
    EXPECT_EQ(f.core.state().codes.text, "i21 d11");
}

TEST(MainWindow, StartWithNothingTickedBehavesAsStop)
{
    Fixture f;
    f.answerMessages();
    f.core.config().readStation = false;
    f.core.config().upload = false;
    f.core.startProcedure();
    EXPECT_FALSE(f.core.isRunning());
    EXPECT_TRUE(f.messages.isEmpty());
    EXPECT_TRUE(f.core.state().menus.startVisible);
}

TEST(MainWindow, ClientsHideRunMenusAndCloseIsRefused)
{
    Fixture f;
    MainWindow w(f.core);
    f.answerMessages();
    auto action = [&](const char* name) { return w.findChild<QAction*>(name); };
    f.core.registerUsers(+1);
    QCoreApplication::processEvents();
    EXPECT_FALSE(action("mnuStart")->isVisible());
    EXPECT_FALSE(action("mPopStart")->isVisible());
    EXPECT_FALSE(action("mnuStop")->isVisible());
    EXPECT_FALSE(action("MnuExit")->isEnabled());
    EXPECT_FALSE(action("mPopExit")->isEnabled());
    EXPECT_FALSE(action("mnuUpdate")->isEnabled());
    EXPECT_FALSE(w.findChild<QPushButton*>("ButtStop")->isVisibleTo(&w));
    EXPECT_EQ(f.core.state().users, "Attached Users: 1");
    EXPECT_FALSE(w.windowFlags().testFlag(Qt::WindowCloseButtonHint));

    QCloseEvent e;
    QCoreApplication::sendEvent(&w, &e);
    EXPECT_FALSE(e.isAccepted());
    EXPECT_EQ(f.messages, QStringList{"Warning: There are other users present - cannot UNLOAD"});

    f.core.registerUsers(-1);
    QCoreApplication::processEvents();
    EXPECT_TRUE(action("mnuStart")->isVisible());
    EXPECT_TRUE(action("MnuExit")->isEnabled());
    EXPECT_TRUE(w.findChild<QPushButton*>("ButtStop")->isVisibleTo(&w));
    EXPECT_EQ(f.core.state().users, "Attached Users: 0");
    EXPECT_TRUE(w.windowFlags().testFlag(Qt::WindowCloseButtonHint));
}

TEST(MainWindow, ClientCallCounterWrapsAfter9999)
{
    Fixture f;
    f.core.registerUsers(+1);
    for (int i = 0; i < 9999; ++i) f.core.clientCalled(colour::ClientActivity, false);
    EXPECT_EQ(f.core.state().comCalls, "9999");
    f.core.clientCalled(colour::ClientActivity, false);
    EXPECT_EQ(f.core.state().comCalls, "0");
    f.clock.advance(12400);
    f.core.clientCalled(colour::ClientActivity, true);
    EXPECT_EQ(f.core.state().comPeriod, "12s");
}

TEST(MainWindow, LampPairsBlinkAlternately)
{
    LampPair p;
    MonitorCore::blinkLED(p, colour::Lime);
    EXPECT_EQ(p.c0, colour::Lime);
    EXPECT_EQ(p.c1, colour::Grey);
    MonitorCore::blinkLED(p, colour::Yellow);
    EXPECT_EQ(p.c0, colour::Grey);
    EXPECT_EQ(p.c1, colour::Yellow);
    MonitorCore::blinkLED(p, colour::Grey);
    EXPECT_EQ(p.c0, colour::Grey);
    EXPECT_EQ(p.c1, colour::Grey);
}

TEST(MainWindow, HelpContexts)
{
    EXPECT_EQ(helpContext(0, 0), 2001);
    EXPECT_EQ(helpContext(2, 0), 2003);
    EXPECT_EQ(helpContext(4, 1), 2052);
}

TEST(SetupDialog, OkNeedsTheStationFileAndWritesTheFirstRunKeys)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    SetupDialog d(store);
    d.accept();
    EXPECT_EQ(d.warning->text(), "Please define path for Weather Station Data File");
    EXPECT_EQ(d.firstRunFlag(), 0);
    EXPECT_TRUE(store.sections(kAppName).isEmpty());

    d.stationFile->setText("/data/station.htm");
    d.userDataDir->setText("/data");
    d.dateMmDd->setChecked(true);
    d.speed[3]->setChecked(true);
    d.accept();
    EXPECT_EQ(d.firstRunFlag(), 1);
    EXPECT_EQ(store.get(kAppName, "Setup", "HTMFile"), "/data/station.htm");
    EXPECT_EQ(store.get(kAppName, "Limit", "DateFormat1"), "True");
    EXPECT_EQ(store.get(kAppName, "Limit", "UnitsSpeed3"), "True");
    EXPECT_EQ(store.get(kAppName, "Limit", "UnitsSpeed0"), "False");
    // empty CCDAutopilot and graph folders
    EXPECT_TRUE(store.contains(kAppName, "Window", "FileNameCCDAP4"));
    EXPECT_EQ(store.get(kAppName, "Window", "FileNameCCDAP4", "x"), "");
    for (const char* k : {"ImageWind", "ImageGust", "ImageDir", "ImageHum", "ImageDew", "ImageTemp"})
        EXPECT_EQ(store.get(kAppName, "Graphs", k), "0") << k;
    // Emulator is not written by the dialog: the first normal exit does it
    EXPECT_FALSE(store.contains(kAppName, "Setup", "Emulator"));
}

TEST(SetupDialog, EmptyStoreShowsTheFirstRunDialogOnce)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    FakeClock clock;
    // Whatever modal dialog the start-up shows is answered (and counted) from
    // the event loop it runs.
    int shown = 0;
    QTimer answer;
    answer.setInterval(10);
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* d = qobject_cast<SetupDialog*>(QApplication::activeModalWidget());
        if (!d) return;
        ++shown;
        d->stationFile->setText(dir.filePath("station.csv"));
        d->accept();
    });
    answer.start();

    // First start: the dialog appears and its OK lets the program go on.
    EXPECT_TRUE(passFirstRun(store));
    EXPECT_EQ(shown, 1);
    EXPECT_EQ(store.get(kAppName, "Setup", "HTMFile"), dir.filePath("station.csv"));
    {
        MonitorCore core(clock, store, deadBus(), dir.path());
        core.load();
        core.unload(); // a normal exit writes every key, Emulator among them
    }
    EXPECT_EQ(store.get(kAppName, "Setup", "Emulator", "9"), "1");

    // Second start, on the store as the first exit left it: no dialog.
    SettingsStore reopened(dir.path());
    EXPECT_TRUE(passFirstRun(reopened));
    QCoreApplication::processEvents();
    EXPECT_EQ(shown, 1);
}

TEST(SetupDialog, CancelledFirstRunEndsTheStart)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    QTimer::singleShot(10, [] {
        if (auto* d = qobject_cast<SetupDialog*>(QApplication::activeModalWidget())) d->reject();
    });
    EXPECT_FALSE(passFirstRun(store));
    EXPECT_EQ(store.get(kAppName, "Setup", "Emulator", "9"), "9");
}

TEST(MessageDialog, ButtonsAndAnswers)
{
    struct Case { int flags; QStringList captions; QList<int> answers; };
    const Case cases[] = {
        {MessageOk, {"OK"}, {AnswerOk}},
        {MessageYesNo, {"Yes", "No"}, {AnswerYes, AnswerNo}},
        {MessageYesNoCancel, {"Yes", "No", "Cancel"}, {AnswerYes, AnswerNo, AnswerCancel}},
    };
    for (const Case& c : cases) {
        for (int i = 0; i < c.captions.size(); ++i) {
            MessageDialog d("text", c.flags, "title", nullptr);
            ASSERT_NE(d.button(i), nullptr);
            EXPECT_EQ(d.button(i)->text(), c.captions[i]);
            d.button(i)->click();
            EXPECT_EQ(d.answer(), c.answers[i]);
        }
        MessageDialog d("text", c.flags, "title", nullptr);
        EXPECT_EQ(d.button(c.captions.size() < 3 ? c.captions.size() : 2) != nullptr, c.captions.size() == 3);
    }
    EXPECT_EQ(LegendDialog::lines().size(), 17);
    EXPECT_TRUE(LegendDialog::lines().contains("s61 - Settings cannot be saved to the settings file"));
}

// A message quotes text from outside (a file name, a server's answer): a
// "<img>" or "<a>" in it is shown as typed, never followed or drawn.
TEST(MessageDialog, QuotedTextIsNeverMarkup)
{
    const QString text = QStringLiteral("<b>news</b> <img src=\"/etc/passwd\"> <a href=\"file:///\">x</a>");
    MessageDialog d(text, MessageOk, "title", nullptr);
    auto* label = d.findChild<QLabel*>(QStringLiteral("Label1"));
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textFormat(), Qt::PlainText);
    EXPECT_EQ(label->text(), text);
}

// Not a check: with SKYVANE_SCREENSHOT_DIR set, saves a picture of every tab
// and dialog so that a person can look at them.
TEST(MainWindow, ScreenshotTour)
{
    const QString out = qEnvironmentVariable("SKYVANE_SCREENSHOT_DIR");
    if (out.isEmpty()) GTEST_SKIP() << "set SKYVANE_SCREENSHOT_DIR to save pictures";
    QDir().mkpath(out);
    Fixture f;
    MainWindow w(f.core);
    w.resize(w.sizeHint());
    w.show();
    auto* tabs = w.findChild<QTabWidget*>("SSTab1");
    for (int i = 0; i < tabs->count(); ++i) {
        tabs->setCurrentIndex(i);
        QCoreApplication::processEvents();
        w.grab().save(QStringLiteral("%1/main-%2-%3.png").arg(out).arg(i).arg(tabs->tabText(i).replace(' ', '_')));
    }
    auto save = [&](QWidget& d, const QString& name) {
        d.adjustSize();
        d.show();
        QCoreApplication::processEvents();
        d.grab().save(out + "/" + name + ".png");
        d.close();
    };
    LegendDialog legend(&w);
    save(legend, "legend");
    AboutDialog about(&w);
    save(about, "about");
    MessageDialog msg("There are other users present - cannot UNLOAD", MessageYesNoCancel, "Warning", &w);
    save(msg, "message");
    SetupDialog setup(f.store, &w);
    save(setup, "first-run");
    const char* const sectors[] = {"-090 090  05", "000  359  01", "045  135  10", "-300 0300 10", "200  205  00",
                                   "350  359  02"};
    int n = 0;
    for (const char* text : sectors) {
        conditions::XOBWindPars d(QString::fromLatin1(text), QStringLiteral("Wind, Windy"), &w);
        save(d, QStringLiteral("sector-%1").arg(++n));
    }
}

TEST(ConditionsTabs, EditsReachTheDecisionSettings)
{
    Fixture f;
    MainWindow w(f.core);
    auto& cfg = f.core.conditionsConfig();
    using conditions::Quantity;

    auto* calmMark = w.findChild<QCheckBox*>("CondWind_0");
    ASSERT_NE(calmMark, nullptr);
    EXPECT_FALSE(cfg.safety.unsafeMarks[Quantity::Wind][0]);
    calmMark->click();
    EXPECT_TRUE(cfg.safety.unsafeMarks[Quantity::Wind][0]);

    auto* calmLimit = w.findChild<XOBGetNumber*>("LimitWind_0");
    ASSERT_NE(calmLimit, nullptr);
    typeAndReturn(calmLimit, "12.5");
    EXPECT_DOUBLE_EQ(cfg.levels.thresholds[Quantity::Wind][0], 12.5);

    // Switching the speed unit converts the thresholds and the field shows it.
    cfg.levels.thresholds[Quantity::Wind][0] = 20;
    w.findChild<QRadioButton*>("UnitsSpeed_3")->click();
    QCoreApplication::processEvents();
    EXPECT_NEAR(cfg.levels.thresholds[Quantity::Wind][0], 10.799136, 1e-5);
    EXPECT_NEAR(calmLimit->value(), 10.8, 1e-9);

    // An alarm box without a sound does not arm.
    auto* rainAlarm = w.findChild<QCheckBox*>("AlarmRain_2");
    ASSERT_NE(rainAlarm, nullptr);
    rainAlarm->click();
    EXPECT_FALSE(rainAlarm->isChecked());
    EXPECT_FALSE(cfg.alarms.boxes[Quantity::Rain][2].armed());

    auto* delay = w.findChild<XOBGetNumber*>("SafeDelayVal");
    typeAndReturn(delay, "30");
    EXPECT_DOUBLE_EQ(cfg.safety.safeDelaySeconds, 30);
    // and all of it survives a restart
    f.core.save();
    MonitorCore again(f.clock, f.store, deadBus(), f.dir.path());
    again.load();
    EXPECT_TRUE(again.conditionsConfig().safety.unsafeMarks[Quantity::Wind][0]);
    EXPECT_DOUBLE_EQ(again.conditionsConfig().safety.safeDelaySeconds, 30);
    EXPECT_EQ(again.conditionsConfig().units.speed, conditions::SpeedUnit::Knots);
}

TEST(MainWindow, StopAndFailedStartGiveTheControlsBackWithUploadTicked)
{
    Fixture f;
    MainWindow w(f.core);
    f.answerMessages();
    w.findChild<QCheckBox*>("flgUpload")->setChecked(true);
    w.findChild<QCheckBox*>("flgReadStation")->setChecked(true);
    auto* start = w.findChild<QPushButton*>("ButtStart");
    auto* stop = w.findChild<QPushButton*>("ButtStop");
    // The sensor server can not be reached: the start fails and stops.
    start->click();
    finishStart(f.core);
    EXPECT_FALSE(f.core.isRunning());
    EXPECT_TRUE(f.core.state().setupEnabled);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(f.core.state().stopEnabled);

    // Upload alone runs without the sensor server; Stop ends it.
    w.findChild<QCheckBox*>("flgReadStation")->setChecked(false);
    start->click();
    finishStart(f.core);
    ASSERT_TRUE(f.core.isRunning());
    EXPECT_FALSE(f.core.state().setupEnabled);
    f.core.stopProcedure();
    QCoreApplication::processEvents();
    EXPECT_FALSE(f.core.isRunning());
    EXPECT_TRUE(f.core.state().setupEnabled);
    EXPECT_TRUE(start->isEnabled());
    EXPECT_TRUE(stop->isEnabled() || !stop->isVisible());
    EXPECT_TRUE(f.core.state().stopEnabled);
}

TEST(ConditionsTabs, TypingIntoANumberFieldIsNotRewrittenUnderTheCursor)
{
    Fixture f;
    MainWindow w(f.core);
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 2000));
    auto& cfg = f.core.conditionsConfig();
    using conditions::Quantity;
    w.findChild<QTabWidget*>("SSTab1")->setCurrentIndex(1);

    struct Case { const char* field; const char* typed; double want; };
    const Case cases[] = {{"LimitWind_0", "12.5", 12.5}, {"LimitTemp_0", "-7.5", -7.5}, {"SafeDelayVal", "120", 120}};
    for (const Case& c : cases) {
        auto* spin = w.findChild<XOBGetNumber*>(c.field);
        ASSERT_NE(spin, nullptr) << c.field;
        spin->setFocus();
        spin->selectAll();
        // Read cycles redraw the window between the keys, as they do while
        // someone types.
        for (const char ch : QByteArray(c.typed)) {
            QTest::keyClick(spin, ch);
            f.core.conditionsEdited();
            QCoreApplication::processEvents();
        }
        EXPECT_EQ(spin->text(), QString::fromLatin1(c.typed)) << c.field;
        QTest::keyClick(spin, Qt::Key_Return);
        QCoreApplication::processEvents();
        const double stored = QString(c.field) == "SafeDelayVal" ? cfg.safety.safeDelaySeconds : QString(c.field) == "LimitWind_0"
            ? cfg.levels.thresholds[Quantity::Wind][0] : cfg.levels.thresholds[Quantity::Temperature][0];
        EXPECT_DOUBLE_EQ(stored, c.want) << c.field;
    }
    // Leaving the field counts too, and then it shows the formatted value.
    auto* hum = w.findChild<XOBGetNumber*>("LimitHum_1");
    hum->setFocus();
    hum->selectAll();
    QTest::keyClicks(hum, "85");
    w.findChild<XOBGetNumber*>("LimitHum_2")->setFocus(Qt::TabFocusReason);
    f.core.conditionsEdited();
    QCoreApplication::processEvents();
    EXPECT_DOUBLE_EQ(cfg.levels.thresholds[Quantity::Humidity][1], 85);
    EXPECT_EQ(hum->text(), QStringLiteral("85.0"));
}

TEST(ConditionsTabs, ThresholdOutOfOrderIsRefusedAndKeepsTheFocus)
{
    Fixture f;
    MainWindow w(f.core);
    f.answerMessages();
    w.show();
    QApplication::setActiveWindow(&w);
    ASSERT_TRUE(QTest::qWaitForWindowActive(&w, 2000));
    w.findChild<QTabWidget*>("SSTab1")->setCurrentIndex(1);
    auto& limits = f.core.conditionsConfig().levels.thresholds;
    using conditions::Quantity;
    const QString caption = w.windowTitle();

    // Leaving the field with Tab: message, focus kept, nothing stored.
    auto* calm = w.findChild<XOBGetNumber*>("LimitWind_0");
    calm->setFocus(Qt::TabFocusReason);
    QTest::keyClicks(calm, "25");
    QTest::keyClick(calm, Qt::Key_Tab);
    QCoreApplication::processEvents();
    ASSERT_EQ(f.messages.size(), 1);
    EXPECT_EQ(f.messages.last(), caption + ": CALM value CANNOT be greater or equal than WINDY value");
    EXPECT_TRUE(calm->hasFocus());
    EXPECT_EQ(calm->selectedText(), QStringLiteral("25.0"));
    EXPECT_DOUBLE_EQ(limits[Quantity::Wind][0], 10);
    // A redraw does not undo what the user is correcting.
    f.core.conditionsEdited();
    QCoreApplication::processEvents();
    EXPECT_EQ(calm->text(), QStringLiteral("25.0"));
    // Corrected: stored, and the focus moves on.
    QTest::keyClicks(calm, "15");
    QTest::keyClick(calm, Qt::Key_Tab);
    QCoreApplication::processEvents();
    EXPECT_EQ(f.messages.size(), 1);
    EXPECT_FALSE(calm->hasFocus());
    EXPECT_DOUBLE_EQ(limits[Quantity::Wind][0], 15);

    // Equal thresholds are refused too, on Return as well.
    auto* gusty = w.findChild<XOBGetNumber*>("LimitGust_1");
    typeAndReturn(gusty, "10");
    EXPECT_EQ(f.messages.last(), caption + ": GUSTY value CANNOT be smaller or equal than CALM value");
    EXPECT_DOUBLE_EQ(limits[Quantity::Gust][1], 20);
    EXPECT_TRUE(gusty->hasFocus());
    typeAndReturn(gusty, "25");
    EXPECT_DOUBLE_EQ(limits[Quantity::Gust][1], 25);
    EXPECT_EQ(f.messages.size(), 2);

    // Humidity may reach 100 but not pass it.
    auto* veryHumid = w.findChild<XOBGetNumber*>("LimitHum_2");
    typeAndReturn(veryHumid, "100");
    EXPECT_DOUBLE_EQ(limits[Quantity::Humidity][2], 100);
    EXPECT_EQ(f.messages.size(), 2);
    const int before = int(f.messages.size());
    typeAndReturn(veryHumid, "100.5");
    ASSERT_EQ(f.messages.size(), before + 1);
    EXPECT_EQ(f.messages.last(), caption + ": VERY HUMID value CANNOT be greater than 100");
    EXPECT_DOUBLE_EQ(limits[Quantity::Humidity][2], 100);
}

TEST(ConditionsTabs, RightClickOnASectorOpensTheEditor)
{
    Fixture f;
    MainWindow w(f.core);
    w.show();
    ASSERT_TRUE(QTest::qWaitForWindowExposed(&w));
    w.findChild<QTabWidget*>("SSTab1")->setCurrentIndex(1);
    auto& safety = f.core.conditionsConfig().safety;
    safety.windSectors[1] = QStringLiteral("-090 090  05");
    f.core.conditionsEdited();
    QCoreApplication::processEvents();
    auto* label = w.findChild<QLabel*>("DirectionWind_1");
    ASSERT_NE(label, nullptr);
    EXPECT_EQ(label->textInteractionFlags(), Qt::NoTextInteraction);

    onNextModal<conditions::XOBWindPars>([](conditions::XOBWindPars& d) {
        EXPECT_EQ(d.sector().from(), -90);
        d.sliderFrom()->setValue(-300);
        EXPECT_EQ(d.sector().from(), -269);
        d.accept();
    });
    QTest::mouseClick(label, Qt::RightButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(safety.windSectors[1], QStringLiteral("-269 090  05 "));
    EXPECT_EQ(label->text(), QStringLiteral("-269 090  05 "));

    // A text stored badly by hand opens clamped, and stays as stored (and
    // so as the safety decision reads it) unless the editor is confirmed.
    safety.gustSectors[2] = QStringLiteral("300  060  05");
    f.core.conditionsEdited();
    QCoreApplication::processEvents();
    onNextModal<conditions::XOBWindPars>([](conditions::XOBWindPars& d) {
        EXPECT_EQ(d.sector().from(), 60);
        EXPECT_EQ(d.sector().to(), 60);
        QTest::keyClick(&d, Qt::Key_Escape);
    });
    QTest::mouseClick(w.findChild<QLabel*>("DirectionGust_2"), Qt::RightButton);
    QCoreApplication::processEvents();
    EXPECT_EQ(safety.gustSectors[2], QStringLiteral("300  060  05"));
    EXPECT_EQ(f.core.conditionsConfig().safety.sectors(conditions::Quantity::Gust)[2], QStringLiteral("300  060  05"));
}
