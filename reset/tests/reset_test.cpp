// The reset tool against a store the monitor itself wrote: each row removes
// exactly its sections from the INI files, everything also takes the
// uploader's store and brings the first-run dialog back, the command line
// does and prints the same, and a second window does not open.
#include "MonitorRig.h"
#include "ResetForm.h"
#include "ResetParameters.h"
#include "Startup.h"

#include <QDeadlineTimer>
#include <QLabel>
#include <QProcess>
#include <QProcessEnvironment>
#include <QPushButton>
#include <QSettings>
#include <QSignalSpy>
#include <QTest>

// Readable failures.
inline void PrintTo(const QString& s, std::ostream* os) { *os << '"' << s.toStdString() << '"'; }

using namespace skyvane;
using namespace skyvane::reset;
using namespace skyvane::testing;

namespace {

const QStringList kMonitorSections{"Alarms", "Color", "Description", "File", "Graphs", "Limit", "Setup", "Unsafe", "Window"};

// Sections of an INI file as on disk, read by a reader of its own.
QStringList sectionsOnDisk(const QString& file)
{
    if (!QFileInfo::exists(file)) return {};
    QSettings s(file, QSettings::IniFormat);
    QStringList g = s.childGroups();
    g.sort();
    return g;
}

struct FilledStore {
    MonitorRig rig{{}, false};
    QString monitorIni() const { return rig.dir.filePath("XOB_Skyvane.ini"); }
    QString uploaderIni() const { return rig.dir.filePath("XOB_Uploader.ini"); }

    // The monitor saves its whole configuration, the uploader's area is
    // handed its work, and a few values are set apart from their defaults.
    FilledStore()
    {
        rig.core->save();
        rig.store.save("XOB_Skyvane", "Limit", "WindCalm", "15");
        rig.store.save("XOB_Skyvane", "Window", "FileName", "Mine");
        rig.store.save("XOB_Uploader", "Setup", "Server", "ftp.example.org");
        rig.store.save("XOB_Uploader", "Window", "Running", "0");
        rig.store.sync();
    }
};

// Runs one row through the window's own button, in a store opened as the
// tool opens it (a program of its own on the same folder).
QStringList clickRow(const QString& root, int row)
{
    SettingsStore store(root);
    ResetForm form(store);
    QStringList shown;
    form.setMessenger([&](const QString& t) { shown << t; });
    auto* button = form.findChild<QPushButton*>(QStringLiteral("Command%1").arg(row));
    if (!button) return {QStringLiteral("no button")};
    QTest::mouseClick(button, Qt::LeftButton);
    return shown;
}

QString binary(const char* name) { return qEnvironmentVariable("SKYVANE_BIN_DIR") + QLatin1Char('/') + QLatin1String(name); }

} // namespace

TEST(Reset, EachGroupRowDeletesExactlyItsSections)
{
    const struct {
        int row;
        QStringList gone;
        const char* message;
    } cases[] = {
        {2, {"Alarms"}, "ALARMS have been resetted"},
        {3, {"Color", "Description"}, "COLOURS & DESCRIPTIONS have been resetted"},
        {4, {"Limit"}, "LIMITS have been resetted"},
        {5, {"Unsafe"}, "UNSAFE Conditions have been resetted"},
        {6, {"Graphs"}, "GRAPHS have been resetted"},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.message);
        FilledStore f;
        ASSERT_EQ(sectionsOnDisk(f.monitorIni()), kMonitorSections);
        EXPECT_EQ(clickRow(f.rig.dir.path(), c.row), QStringList{c.message});
        QStringList left = kMonitorSections;
        for (const QString& g : c.gone) left.removeAll(g);
        EXPECT_EQ(sectionsOnDisk(f.monitorIni()), left);
        EXPECT_EQ(sectionsOnDisk(f.uploaderIni()), (QStringList{"Setup", "Window"}));
    }
}

TEST(Reset, ColoursRowRemovesBothEvenWhenOnlyOneExists)
{
    FilledStore f;
    f.rig.store.deleteSection("XOB_Skyvane", "Color");
    f.rig.store.sync();
    EXPECT_EQ(clickRow(f.rig.dir.path(), 3), QStringList{"COLOURS & DESCRIPTIONS have been resetted"});
    EXPECT_FALSE(sectionsOnDisk(f.monitorIni()).contains("Description"));
}

TEST(Reset, LimitsComeBackAsDefaultsAtTheNextStartAndTheRestIsKept)
{
    FilledStore f;
    clickRow(f.rig.dir.path(), 4);
    // The next start of the monitor on the same folder.
    SettingsStore store(f.rig.dir.path());
    FakeClock clock;
    MonitorCore next(clock, store, f.rig.bus.connection(), f.rig.dir.path());
    next.load();
    next.save();
    QSettings ini(f.monitorIni(), QSettings::IniFormat);
    EXPECT_EQ(ini.value("Limit/WindCalm").toString(), "10");
    EXPECT_EQ(ini.value("Limit/UnitsTemp0").toString(), "True");
    EXPECT_EQ(ini.value("Limit/UnitsSpeed0").toString(), "True");
    EXPECT_EQ(ini.value("Limit/DateFormat0").toString(), "True");
    EXPECT_EQ(ini.value("Window/FileName").toString(), "Mine");
    EXPECT_FALSE(isFirstRun(store));
}

TEST(Reset, AllRemovesBothStoresAndTheFirstRunDialogComesBack)
{
    FilledStore f;
    EXPECT_FALSE(isFirstRun(f.rig.store));
    EXPECT_EQ(clickRow(f.rig.dir.path(), 1), QStringList{"ALL parameters of XOB_Skyvane have been reset"});
    EXPECT_FALSE(QFileInfo::exists(f.monitorIni()));
    EXPECT_FALSE(QFileInfo::exists(f.uploaderIni()));
    SettingsStore fresh(f.rig.dir.path());
    EXPECT_TRUE(isFirstRun(fresh));
}

TEST(Reset, AllKeepsASectionItDoesNotKnowAndTheApplicationWithIt)
{
    // A registry key with subkeys left can not be deleted; the file stays
    // with what nobody asked to remove.
    FilledStore f;
    f.rig.store.save("XOB_Skyvane", "Notes", "Mine", "keep me");
    f.rig.store.sync();
    clickRow(f.rig.dir.path(), 1);
    EXPECT_EQ(sectionsOnDisk(f.monitorIni()), QStringList{"Notes"});
    SettingsStore fresh(f.rig.dir.path());
    EXPECT_TRUE(isFirstRun(fresh));
}

TEST(Reset, EmptyStoreStillShowsTheMessageAndCreatesNothing)
{
    QTemporaryDir dir;
    EXPECT_EQ(clickRow(dir.path(), 1), QStringList{"ALL parameters of XOB_Skyvane have been reset"});
    EXPECT_EQ(clickRow(dir.path(), 6), QStringList{"GRAPHS have been resetted"});
    EXPECT_TRUE(QDir(dir.path()).entryList(QDir::Files | QDir::NoDotAndDotDot).isEmpty());
}

TEST(Reset, WindowShowsItsRowsAndVersion)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    ResetForm form(store);
    EXPECT_EQ(form.windowTitle(), "XOB_Skyvane-Reset utility");
    QStringList labels;
    for (QLabel* l : form.findChildren<QLabel*>()) labels << l->text();
    for (const GroupInfo& g : groups()) EXPECT_TRUE(labels.contains(g.label)) << g.label.toStdString();
    EXPECT_TRUE(labels.contains("Select the parameters which you wish to reset"));
    EXPECT_TRUE(labels.contains(QStringLiteral("XOB_Skyvane (v%1.%2.%3)")
                                    .arg(SKYVANE_VERSION_MAJOR)
                                    .arg(SKYVANE_VERSION_MINOR, 2, 10, QLatin1Char('0'))
                                    .arg(SKYVANE_VERSION_REVISION, 3, 10, QLatin1Char('0'))));
    for (int i = 1; i <= 6; ++i) {
        auto* b = form.findChild<QPushButton*>(QStringLiteral("Command%1").arg(i));
        ASSERT_TRUE(b);
        EXPECT_EQ(b->text(), "Reset");
    }
    auto* exit = form.findChild<QPushButton*>("Command0");
    ASSERT_TRUE(exit);
    EXPECT_EQ(exit->text(), "Exit");
    form.centre();
    form.show();
    const QString shots = qEnvironmentVariable("SKYVANE_SHOT_DIR");
    if (!shots.isEmpty()) form.grab().save(shots + "/reset-tool.png");
}

TEST(ResetProgram, CommandLineDoesTheSameDeletionsAndPrintsTheMessages)
{
    FilledStore f;
    QProcess p;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SKYVANE_SETTINGS_DIR", f.rig.dir.path());
    p.setProcessEnvironment(env);
    p.start(binary("XOB_ResetParameters"), {"--limits", "--graphs"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_EQ(QString::fromLocal8Bit(p.readAllStandardOutput()), "LIMITS have been resetted\nGRAPHS have been resetted\n");
    QStringList left = kMonitorSections;
    left.removeAll("Limit");
    left.removeAll("Graphs");
    EXPECT_EQ(sectionsOnDisk(f.monitorIni()), left);

    p.start(binary("XOB_ResetParameters"), {"--all"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(QString::fromLocal8Bit(p.readAllStandardOutput()), "ALL parameters of XOB_Skyvane have been reset\n");
    EXPECT_FALSE(QFileInfo::exists(f.monitorIni()));
    EXPECT_FALSE(QFileInfo::exists(f.uploaderIni()));

    p.start(binary("XOB_ResetParameters"), {"--help"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 0);
    EXPECT_TRUE(p.readAllStandardOutput().contains("--colours"));

    // A mistyped switch deletes nothing.
    f.rig.core->save();
    p.start(binary("XOB_ResetParameters"), {"--limit"});
    ASSERT_TRUE(p.waitForFinished(20000));
    EXPECT_EQ(p.exitCode(), 2);
    EXPECT_EQ(sectionsOnDisk(f.monitorIni()), kMonitorSections);
}

TEST(ResetProgram, SecondInstanceEndsAtOnce)
{
    QTemporaryDir dir;
    QProcessEnvironment env = QProcessEnvironment::systemEnvironment();
    env.insert("SKYVANE_SETTINGS_DIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    QProcess first;
    first.setProcessEnvironment(env);
    first.start(binary("XOB_ResetParameters"));
    ASSERT_TRUE(first.waitForStarted(10000));
    // The lock file shows the first window holds the instance.
    QDeadlineTimer deadline(20000);
    while (!QFileInfo::exists(dir.filePath("XOB_ResetParameters.lock")) && !deadline.hasExpired())
        first.waitForFinished(20);
    ASSERT_TRUE(QFileInfo::exists(dir.filePath("XOB_ResetParameters.lock")));
    ASSERT_EQ(first.state(), QProcess::Running);

    QProcess second;
    second.setProcessEnvironment(env);
    second.start(binary("XOB_ResetParameters"));
    EXPECT_TRUE(second.waitForFinished(10000));
    EXPECT_EQ(second.exitCode(), 0);
    EXPECT_EQ(first.state(), QProcess::Running);
    first.kill();
    first.waitForFinished(5000);

    // Once the first is gone, a killed instance's lock does not keep the
    // tool shut for ever.
    QProcess third;
    third.setProcessEnvironment(env);
    third.start(binary("XOB_ResetParameters"));
    ASSERT_TRUE(third.waitForStarted(10000));
    // It takes the lock over: the lock file names it.
    const auto holder = [&] {
        QFile lf(dir.filePath("XOB_ResetParameters.lock"));
        return lf.open(QIODevice::ReadOnly) ? lf.readLine().trimmed().toLongLong() : 0;
    };
    QDeadlineTimer again(20000);
    while (holder() != third.processId() && third.state() == QProcess::Running && !again.hasExpired())
        third.waitForFinished(20);
    EXPECT_EQ(holder(), third.processId());
    EXPECT_EQ(third.state(), QProcess::Running);
    third.kill();
    third.waitForFinished(5000);
}
