// The update check against a real HTTPS server on 127.0.0.1: versions shown,
// news saved and shown (or not), the hand-over file the updater reads, the
// question when the versions match, and the start-up tick with its news
// window and the last update's result.
#include "WaitFor.h"
#include "HandOver.h"
#include "SettingsStore.h"
#include "UpdateCheck.h"
#include "UpdateServer.h"
#include "UpdateTestFiles.h"
#include "XOBDispNews.h"
#include "XOBUpdateForm.h"

#include <QApplication>
#include <QCheckBox>
#include <QDeadlineTimer>
#include <QDir>
#include <QFile>
#include <QGroupBox>
#include <QLabel>
#include <QPushButton>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <gtest/gtest.h>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace skyvane;
using namespace skyvane::update;
using namespace skyvane::testing;

namespace {

const QByteArray kDescription =
    "\"XOB_Skyvane\",\"https://127.0.0.1:1/xob/XOB_Skyvane\",\"XOB_Skyvane_new\",\"XOB_Skyvane\",\"XOB_Skyvane.old\"\r\n";

using skyvane::testing::waitFor;

struct Rig {
    QTemporaryDir serverRoot, program, settings;
    UpdateServer server{serverRoot.path()};
    SettingsStore store{settings.path()};
    QStringList newsShown;
    QStringList asked;

    Rig(const QByteArray& news = "New: cloud sensor calibration", const QByteArray& version = "5.03.000\r\n")
    {
        serve("XOB_SkyvaneNews.txt", news);
        serve("XOB_Skyvane.txt", version);
        serve("XOB_SkyvaneUpdater.txt", kDescription);
        store.save("XOB_Skyvane", "Setup", "UpdateServer", server.url("/"));
        store.save("XOB_Skyvane", "Setup", "UpdateCAFile", server.cert());
        store.sync();
    }
    void serve(const QString& name, const QByteArray& data) { writeFile(serverRoot.filePath("xob/skyvane220/" + name), data); }
    QString handOver() const { return program.filePath(updater::kHandOverFile); }

    std::unique_ptr<XOBUpdateForm> form(const QString& dir = QString())
    {
        auto f = std::make_unique<XOBUpdateForm>(store, dir.isEmpty() ? program.path() : dir, "XOB_Skyvane");
        hook(*f);
        return f;
    }
    void hook(XOBUpdateForm& f)
    {
        f.setNewsShower([this](const QString& n) { newsShown << n; });
        f.setAsker([this](const QString& q) {
            asked << q;
            return answer;
        });
    }
    bool answer = false;

    static bool check(XOBUpdateForm& f)
    {
        bool done = false;
        QObject::connect(&f, &XOBUpdateForm::checkFinished, [&] { done = true; });
        QTest::mouseClick(f.findChild<QPushButton*>("Command1"), Qt::LeftButton);
        return waitFor([&] { return done; });
    }
    static QString text(QWidget& w, const char* name) { return w.findChild<QLabel*>(name)->text(); }
};

} // namespace

TEST(UpdateCheck, ShowsVersionsSavesNewsAndWritesTheHandOverFile)
{
    Rig rig;
    ASSERT_TRUE(rig.server.isRunning());
    auto form = rig.form();
    form->show();
    EXPECT_EQ(form->windowTitle(), "Update module");
    EXPECT_FALSE(form->findChild<QGroupBox*>("Frame1")->isVisible());
    ASSERT_TRUE(Rig::check(*form));

    EXPECT_TRUE(form->findChild<QGroupBox*>("Frame1")->isVisible());
    EXPECT_EQ(Rig::text(*form, "Label1"), installedVersionText());
    EXPECT_EQ(Rig::text(*form, "Label2"), "5.03.000");
    EXPECT_EQ(Rig::text(*form, "Label3"), "Sucessful response");
    EXPECT_EQ(rig.newsShown, QStringList{"New: cloud sensor calibration"});
    EXPECT_EQ(rig.store.get("XOB_Skyvane", "Window", "XOB_News"), "New: cloud sensor calibration");

    // The first record, then the description unchanged: the updater reads both.
    const QByteArray handOver = readFile(rig.handOver());
    EXPECT_TRUE(handOver.endsWith(kDescription));
    const updater::HandOver h = updater::interpret(updater::parseRecords(handOver));
    EXPECT_EQ(h.program, "XOB_Skyvane");
    ASSERT_EQ(h.files.size(), 1u);
    EXPECT_EQ(h.files[0].target, "XOB_Skyvane");
    EXPECT_TRUE(h.problem.isEmpty()) << h.problem.toStdString();

    const QString shots = qEnvironmentVariable("SKYVANE_SHOT_DIR");
    if (!shots.isEmpty()) form->grab().save(shots + "/update-form.png");

    // A different version updates without a question.
    QTest::mouseClick(form->findChild<QPushButton*>("Command5"), Qt::LeftButton);
    EXPECT_TRUE(form->updateRequested());
    EXPECT_TRUE(rig.asked.isEmpty());
    EXPECT_EQ(form->result(), QDialog::Accepted);
}

TEST(UpdateCheck, SameVersionAsksAndNoStartsNothing)
{
    for (const bool yes : {false, true}) {
        SCOPED_TRACE(yes ? "Yes" : "No");
        Rig rig("", installedVersionText().toLatin1());
        ASSERT_TRUE(rig.server.isRunning());
        rig.answer = yes;
        QStringList launched;
        // The menu entry's modal form, driven as a user would.
        QTimer::singleShot(0, [&] {
            XOBUpdateForm* f = nullptr;
            for (QWidget* w : QApplication::topLevelWidgets())
                if (auto* u = qobject_cast<XOBUpdateForm*>(w)) f = u;
            ASSERT_TRUE(f);
            rig.hook(*f);
            ASSERT_TRUE(Rig::check(*f));
            EXPECT_TRUE(QFile::exists(rig.handOver()));
            QTest::mouseClick(f->findChild<QPushButton*>("Command5"), Qt::LeftButton);
        });
        const bool started = runUpdateCheck(nullptr, rig.store, rig.program.path(), "XOB_Skyvane", [&](const QString& p) {
            launched << p;
            return true;
        });
        EXPECT_EQ(rig.asked, QStringList{"The lattest version already installed.\n Do you wish to download?"});
        EXPECT_EQ(started, yes);
        EXPECT_EQ(launched, yes ? QStringList{rig.program.filePath("XOB_Updater")} : QStringList{});
        EXPECT_EQ(QFile::exists(rig.handOver()), yes);
    }
}

TEST(UpdateCheck, CancelDeletesTheHandOverFile)
{
    Rig rig;
    ASSERT_TRUE(rig.server.isRunning());
    bool launched = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<XOBUpdateForm*>(w)) {
                rig.hook(*f);
                ASSERT_TRUE(Rig::check(*f));
                QTest::mouseClick(f->findChild<QPushButton*>("Command4"), Qt::LeftButton);
            }
    });
    EXPECT_FALSE(runUpdateCheck(nullptr, rig.store, rig.program.path(), "XOB_Skyvane", [&](const QString&) {
        return launched = true;
    }));
    EXPECT_FALSE(launched);
    EXPECT_FALSE(QFile::exists(rig.handOver()));
}

TEST(UpdateCheck, AMonitorThatMayNotEndStartsNoUpdater)
{
    Rig rig;
    ASSERT_TRUE(rig.server.isRunning());
    bool launched = false;
    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<XOBUpdateForm*>(w)) {
                rig.hook(*f);
                ASSERT_TRUE(Rig::check(*f));
                QTest::mouseClick(f->findChild<QPushButton*>("Command5"), Qt::LeftButton);
            }
    });
    EXPECT_FALSE(runUpdateCheck(
        nullptr, rig.store, rig.program.path(), "XOB_Skyvane", [&](const QString&) { return launched = true; },
        [] { return false; }));
    EXPECT_FALSE(launched);
    EXPECT_FALSE(QFile::exists(rig.handOver()));
}

TEST(UpdateCheck, NewsOfTwoCharactersIsSavedButNotShown)
{
    Rig rig("ok");
    ASSERT_TRUE(rig.server.isRunning());
    auto form = rig.form();
    ASSERT_TRUE(Rig::check(*form));
    EXPECT_EQ(rig.store.get("XOB_Skyvane", "Window", "XOB_News"), "ok");
    EXPECT_TRUE(rig.newsShown.isEmpty());
}

TEST(UpdateCheck, ServerDownSaysSoAndOffersNoDownload)
{
    Rig rig;
    rig.store.save("XOB_Skyvane", "Setup", "UpdateServer", QStringLiteral("https://127.0.0.1:%1").arg(UpdateServer::closedPort()));
    rig.store.save("XOB_Skyvane", "Window", "XOB_News", "older news");
    auto form = rig.form();
    ASSERT_TRUE(Rig::check(*form));
    EXPECT_TRUE(Rig::text(*form, "Label3").startsWith("Communication error")) << Rig::text(*form, "Label3").toStdString();
    EXPECT_EQ(Rig::text(*form, "Label2"), "");
    EXPECT_FALSE(form->findChild<QPushButton*>("Command5")->isEnabled());
    EXPECT_FALSE(QFile::exists(rig.handOver()));
    EXPECT_EQ(rig.store.get("XOB_Skyvane", "Window", "XOB_News"), "older news");
}

TEST(UpdateCheck, ProgramFolderNotWritableIsSaidPlainly)
{
    Rig rig;
    ASSERT_TRUE(rig.server.isRunning());
    // A folder that can not take a file (a system install is read-only to
    // its users; the tests may run as root, for whom permissions do not hold).
    const QString readOnly = rig.program.filePath("not-a-folder");
    writeFile(readOnly, "file");
    auto form = rig.form(readOnly);
    ASSERT_TRUE(Rig::check(*form));
    EXPECT_TRUE(Rig::text(*form, "Label3").contains("can not be written")) << Rig::text(*form, "Label3").toStdString();
    EXPECT_EQ(Rig::text(*form, "Label2"), "5.03.000");
    EXPECT_FALSE(form->findChild<QPushButton*>("Command5")->isEnabled());
    QTest::mouseClick(form->findChild<QPushButton*>("Command5"), Qt::LeftButton);
    EXPECT_FALSE(form->updateRequested());
}

TEST(UpdateCheck, GarbageAndHugeAnswersAreCutAndShownAsPlainText)
{
    QByteArray garbage;
    for (int i = 0; i < 40000; ++i) garbage += char(i * 7919 % 256);
    garbage.prepend("<b>bold</b><img src=x>");
    Rig rig(garbage, QByteArray("<h1>") + QByteArray(5000, 'v') + "\x01\x02\n2nd line");
    ASSERT_TRUE(rig.server.isRunning());
    auto form = rig.form();
    ASSERT_TRUE(Rig::check(*form));
    const QString news = rig.store.get("XOB_Skyvane", "Window", "XOB_News");
    EXPECT_LE(news.size(), kNewsMax);
    EXPECT_TRUE(news.startsWith("<b>bold</b>"));
    for (const QChar c : news) EXPECT_TRUE(c == '\n' || c == '\t' || c.unicode() >= 0x20) << int(c.unicode());
    EXPECT_EQ(Rig::text(*form, "Label2").size(), 32);
    EXPECT_EQ(form->findChild<QLabel*>("Label2")->textFormat(), Qt::PlainText);

    XOBDispNews window(rig.store);
    window.newsShow(QString(200000, QChar('x')) + "<b>");
    EXPECT_LE(window.shownText().size(), kNewsMax);
    EXPECT_EQ(window.findChild<QLabel*>("LblMsg")->textFormat(), Qt::PlainText);

    // An answer far beyond any real file is refused, not read.
    rig.serve("XOB_SkyvaneNews.txt", QByteArray(2 * 1024 * 1024, 'n'));
    auto again = rig.form();
    ASSERT_TRUE(Rig::check(*again));
    EXPECT_EQ(rig.store.get("XOB_Skyvane", "Window", "XOB_News"), news);
}

TEST(StartupTick, ShowsNewsUntilDiscardedAndTheLastUpdateOnce)
{
    QTemporaryDir settings;
    SettingsStore store(settings.path());
    store.save("XOB_Skyvane", "Window", "XOB_News", "Roof motor firmware 2.1 needed");
    const auto newsWindows = [] {
        QList<XOBDispNews*> found;
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* n = qobject_cast<XOBDispNews*>(w); n && n->isVisible()) found << n;
        return found;
    };
    QStringList shown;
    QString lastUpdate = "Last update timed-out.\nProgram was not updated!";
    const auto tick = [&] {
        startupTick(nullptr, store, store.get("XOB_Skyvane", "Window", "XOB_News"), lastUpdate,
                    [&](const QString& m) { shown << m; });
    };

    // First start: the news and the result of the update.
    tick();
    ASSERT_EQ(newsWindows().size(), 1);
    XOBDispNews* w = newsWindows().first();
    EXPECT_EQ(w->windowTitle(), "Important Information");
    EXPECT_EQ(w->shownText(), "Roof motor firmware 2.1 needed");
    EXPECT_TRUE(w->windowFlags() & Qt::WindowStaysOnTopHint);
    EXPECT_EQ(shown, QStringList{"Last update timed-out.\nProgram was not updated!"});
    EXPECT_EQ(lastUpdate, "");
    const QString shots = qEnvironmentVariable("SKYVANE_SHOT_DIR");
    if (!shots.isEmpty()) w->grab().save(shots + "/news.png");
    w->close();
    QTest::qWait(0);

    // Not discarded: it comes back, the update result does not.
    tick();
    ASSERT_EQ(newsWindows().size(), 1);
    EXPECT_EQ(shown.size(), 1);
    w = newsWindows().first();
    w->findChild<QCheckBox*>("ChckMsg")->setChecked(true);
    w->close();
    QTest::qWait(0);
    EXPECT_EQ(store.get("XOB_Skyvane", "Window", "XOB_News", "<absent>"), "");

    // Discarded: gone for good.
    tick();
    EXPECT_TRUE(newsWindows().isEmpty());
    EXPECT_EQ(shown.size(), 1);
}

TEST(UpdateCheck, CheckThenUpdateHandsOverToTheUpdaterWhichRestartsTheNewMonitor)
{
    Rig rig("", "5.03.000\n");
    ASSERT_TRUE(rig.server.isRunning());
    rig.serve("XOB_Skyvane", monitorScript("5.03.000"));
    rig.serve("XOB_SkyvaneUpdater.txt",
              updater::quoteField("XOB_Skyvane") + "," + updater::quoteField(rig.server.url("/xob/skyvane220/XOB_Skyvane"))
                  + ",\"XOB_Skyvane_new\",\"XOB_Skyvane\",\"XOB_Skyvane.old\"\r\n");
    writeFile(rig.program.filePath("XOB_Skyvane"), monitorScript("5.02.015"));
    QFile::setPermissions(rig.program.filePath("XOB_Skyvane"), QFile::ReadOwner | QFile::WriteOwner | QFile::ExeOwner);
    ASSERT_TRUE(QFile::copy(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Updater", rig.program.filePath("XOB_Updater")));
    // The updater finds the monitor's settings where the monitor does.
    qputenv("SKYVANE_SETTINGS_DIR", rig.settings.path().toLocal8Bit());

    QTimer::singleShot(0, [&] {
        for (QWidget* w : QApplication::topLevelWidgets())
            if (auto* f = qobject_cast<XOBUpdateForm*>(w)) {
                rig.hook(*f);
                ASSERT_TRUE(Rig::check(*f));
                QTest::mouseClick(f->findChild<QPushButton*>("Command5"), Qt::LeftButton);
            }
    });
    // The real start of the updater.
    EXPECT_TRUE(runUpdateCheck(nullptr, rig.store, rig.program.path(), "XOB_Skyvane"));
    EXPECT_TRUE(waitFor([&] { return readFile(rig.program.filePath("started.log")) == "5.03.000\n"; }, 60000))
        << readFile(rig.program.filePath("started.log")).toStdString();
    qunsetenv("SKYVANE_SETTINGS_DIR");
    EXPECT_EQ(readFile(rig.program.filePath("XOB_Skyvane.old")), monitorScript("5.02.015"));
    SettingsStore after(rig.settings.path());
    EXPECT_EQ(after.get("XOB_Skyvane", "Window", "LastUpdateMsg", "<absent>"), "");
    EXPECT_FALSE(QFile::exists(rig.handOver()));
}
