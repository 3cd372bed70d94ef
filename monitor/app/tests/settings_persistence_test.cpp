// The monitor's settings as a whole: every declared key comes back from the
// store as it was written, an older store loads with defaults for what it
// lacks, changes reach the disk within a second, and a monitor that is
// killed keeps what was changed before.
#include "WaitFor.h"
#include "Automation.h"
#include "MonitorProcess.h"
#include "MonitorRig.h"
#include "GraphImages.h"
#include "GraphSettings.h"
#include "SettingsSchema.h"

#include <QDBusConnectionInterface>
#include <QDeadlineTimer>
#include <QDir>
#include <QFileInfo>
#include <QProcess>
#include <csignal>
#include <sys/stat.h>

using namespace skyvane;
using namespace skyvane::testing;

namespace {

const QString kApp = QString::fromLatin1(kAppName);

// Compresses the load order to the sequence of sections it visits.
QStringList sectionRuns(const SettingsSchema& schema)
{
    QStringList runs;
    for (const SettingsSchema::Entry* e : schema.entries())
        if (runs.isEmpty() || runs.last() != e->section) runs << e->section;
    return runs;
}

QString idOf(const QString& section, const QString& key) { return section + QLatin1Char('/') + key; }

// A stored text unlike the key's default that the key can hold.
QString otherValue(const SettingsSchema::Entry& e)
{
    const QString def = e.defaultText();
    switch (e.kind) {
    case SettingKind::Text: return QStringLiteral("set %1, = ;").arg(e.key);
    case SettingKind::Number: return setting_rows::numberText(def == QLatin1String("7.25") ? 8.5 : 7.25);
    case SettingKind::Integer: return def == QLatin1String("2") ? QStringLiteral("1") : QStringLiteral("2");
    case SettingKind::CheckBox: return def == QLatin1String("1") ? QStringLiteral("0") : QStringLiteral("1");
    // One option of a group is "True"; selecting a non-default one is the
    // change a group can hold on its own.
    case SettingKind::Option: return QStringLiteral("True");
    case SettingKind::Colour: return def == QLatin1String("123456") ? QStringLiteral("654321") : QStringLiteral("123456");
    }
    return QString();
}

struct Rig : MonitorRig {
    Rig() : MonitorRig({}, false) {}
};

} // namespace

TEST(SettingsPersistence, EveryStoreKeyIsDeclaredOnceAndLoadsInOrder)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    const SettingsSchema& schema = rig.core->settingsSchema();
    EXPECT_TRUE(schema.duplicates().isEmpty()) << schema.duplicates().join(", ").toStdString();

    QSet<QString> declared;
    for (const SettingsSchema::Entry* e : schema.entries()) declared.insert(idOf(e->section, e->key));
    for (const SettingsSchema::ListEntry& l : schema.lists()) declared.insert(idOf(l.section, l.countKey));

    // The keys of the store, as older versions wrote them. (The imaging and
    // user data file keys come from the record files' own table.)
    QStringList expected;
    const auto add = [&](const QString& section, const QStringList& keys) {
        for (const QString& k : keys) expected << idOf(section, k);
    };
    add("Window", {"LastUpdateMsg", "SafeDelayVal", "Left", "Top", "SSTab1", "SSTab2", "SSTab3", "StringKPH", "StringMPS",
                   "StringMPH", "StringKNOTS", "StringDC", "StringDF", "ExcChrHumidity", "VScrollPos0", "VScrollPos1",
                   "VScrollPos3", "HScrollPos2", "LastMusicDir", "PathName", "XOB_News", "FileNameCCDAP4",
                   "PathNameCCDAP4", "FileName", "FreqSave"});
    expected << idOf("File", "DispFileNameOnly");
    for (int i = 1; i <= 25; ++i)
        for (const char* k : {"Hdr", "Cal", "Prt"})
            expected << idOf("File", QStringLiteral("%1%2").arg(QLatin1String(k)).arg(i, 2, 10, QLatin1Char('0')));
    for (int i = 1; i <= 16; ++i) expected << idOf("Window", QStringLiteral("Cadinal%1").arg(i, 2, 10, QLatin1Char('0')));
    add("Setup", {"ReadStation", "Upload", "HTMFile", "Server", "ServerPath", "Username", "Password", "UploadOnSec",
                  "TimeoutUPLOAD", "NoFiles", "NPTimeout", "RefreshUpload", "RefreshRead", "TimeoutREAD", "UploadDir",
                  "SuspendAlarm", "Emulator", "SWRole0", "SWRole1", "UploadTLS", "UploadCAFile"});
    add("Limit", {"UnitsTemp0", "UnitsTemp1", "UnitsSpeed0", "UnitsSpeed1", "UnitsSpeed2", "UnitsSpeed3", "DateFormat0",
                  "DateFormat1"});
    const QStringList levelKeys{"WindCalm", "WindWindy", "WindVWindy", "GustCalm", "GustGusty", "GustVGusty",
                                "TempLow", "TempMedium", "TempHigh", "DewLow", "DewMedium", "DewHigh",
                                "HumLow", "HumMedium", "HumHigh"};
    add("Limit", levelKeys);
    add("Description", levelKeys);
    add("Color", levelKeys);
    const QStringList markKeys{"Clear", "Cloudy", "Overcast", "Dry", "Wet", "Rain", "Calm", "Windy", "VWindy",
                               "CalmGust", "WindyGust", "VWindyGust", "TempLow", "TempMedium", "TempHigh",
                               "HumLow", "HumMedium", "HumHigh", "DewLow", "DewMedium", "DewHigh", "Dark", "Light", "VLight"};
    add("Unsafe", markKeys);
    add("Unsafe", {"WindDir0", "WindDir1", "WindDir2", "GustDir0", "GustDir1", "GustDir2"});
    add("Alarms", markKeys);
    for (const QString& k : markKeys) expected << idOf("Alarms", k + "Stat");
    add("Alarms", {"WSAlarm", "WSAlarmStat", "NPAlarm", "NPAlarmStat", "WSDataOldUnsafe", "NPDataOldUnsafe"});
    add("Graphs", {"GraphNoPoints", "GraphFreq", "ImageType", "QualityTop", "QualityGood", "QualityNormal", "GraphImagePath"});
    for (const QString q : {"Wind", "Gust", "Dir", "Hum", "Dew", "Temp"})
        add("Graphs", {"Generate" + q, "Image" + q, "GraphColor" + q + "0", "GraphColor" + q + "1"});
    expected << idOf("Graphs", "GraphColorDir2");

    for (const QString& id : expected) EXPECT_TRUE(declared.contains(id)) << "not declared: " << id.toStdString();
    EXPECT_EQ(declared.size(), expected.size());

    // Sections are read in the order of old, each value applied at once.
    EXPECT_EQ(sectionRuns(schema), (QStringList{"Window", "Limit", "Window", "Setup", "Limit", "Description", "Color",
                                                "Unsafe", "Alarms", "Graphs", "Alarms", "Window", "File"}));
}

TEST(SettingsPersistence, EveryDeclaredKeyRoundTrips)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    SettingsStore& store = rig.store;
    const SettingsSchema& schema = rig.core->settingsSchema();
    int checked = 0;
    for (const SettingsSchema::Entry* e : schema.entries()) {
        SCOPED_TRACE((e->section + "/" + e->key).toStdString());
        store.deleteApplication(kApp);
        const QString value = otherValue(*e);
        store.save(kApp, e->section, e->key, value);
        // An option is one of a group: the others of its section are cleared,
        // as a save of the group leaves them.
        if (e->kind == SettingKind::Option)
            for (const SettingsSchema::Entry* o : schema.entries())
                if (o != e && o->kind == SettingKind::Option && o->section == e->section) store.save(kApp, o->section, o->key, "False");
        // A box comes back armed only with a sound to play.
        if (e->section == "Alarms" && e->key.endsWith("Stat"))
            store.save(kApp, "Alarms", e->key.chopped(4), "/sounds/alarm.wav");
        rig.core->load();
        rig.core->save();
        if (e->saveRule == SaveRule::ImmediateOnly) {
            EXPECT_EQ(store.get(kApp, e->section, e->key), value) << "a save changed a key it does not own";
            store.deleteKey(kApp, e->section, e->key);
            rig.core->save();
            EXPECT_FALSE(store.contains(kApp, e->section, e->key)) << "written by a save";
        } else if (e->section == "Graphs" && (e->key == "GraphNoPoints" || e->key == "GraphFreq")) {
            // Whole numbers in their range: 7.25 points is written back as
            // the least allowed, 20; a period of 7.25 cycles as 7.
            EXPECT_EQ(store.get(kApp, e->section, e->key, "<missing>"), e->key == "GraphFreq" ? "7" : "20");
        } else {
            EXPECT_EQ(store.get(kApp, e->section, e->key, "<missing>"), value);
        }
        ++checked;
    }
    EXPECT_GT(checked, 220);

    // The upload list: the counted entries come back; others stay unread.
    store.deleteApplication(kApp);
    store.save(kApp, "Setup", "NoFiles", "2");
    for (int n = 1; n <= 3; ++n) {
        store.save(kApp, "Setup", QStringLiteral("FileName%1").arg(n), QStringLiteral("graph%1.png").arg(n));
        store.save(kApp, "Setup", QStringLiteral("FilePath%1").arg(n), QStringLiteral("/srv/%1").arg(n));
        store.save(kApp, "Setup", QStringLiteral("FileUpload%1").arg(n), n == 2 ? "True" : "False");
    }
    rig.core->load();
    ASSERT_EQ(rig.core->uploads().list().ListCount(), 2);
    EXPECT_TRUE(rig.core->uploads().list().ItemUploadOnce(2));
    store.save(kApp, "Setup", "FileName1", "changed on disk");
    rig.core->save();
    EXPECT_EQ(store.get(kApp, "Setup", "FileName1"), "graph1.png");
    EXPECT_EQ(store.get(kApp, "Setup", "FileUpload2"), "True");
    EXPECT_EQ(store.get(kApp, "Setup", "FilePath2"), "/srv/2");
}

TEST(SettingsPersistence, OlderStoreLoadsDefaultsForMissingKeysAndGainsThem)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    SettingsStore& store = rig.store;
    // What an older version left: a few sections, no graph or upload keys.
    store.save(kApp, "Setup", "Emulator", "1");
    store.save(kApp, "Setup", "RefreshRead", "2");
    store.save(kApp, "Limit", "WindCalm", "15");
    store.save(kApp, "Limit", "UnitsSpeed2", "True");
    store.save(kApp, "Limit", "UnitsSpeed0", "False");
    store.save(kApp, "Unsafe", "TempLow", "0");
    rig.core->load();
    const MonitorConfig& c = rig.core->config();
    const conditions::ConditionsConfig& cond = rig.core->conditionsConfig();
    EXPECT_EQ(c.refreshRead, 2);
    EXPECT_EQ(cond.levels.thresholds[conditions::Quantity::Wind][0], 15);
    EXPECT_EQ(cond.levels.thresholds[conditions::Quantity::Wind][1], 20);
    EXPECT_EQ(cond.units.speed, conditions::SpeedUnit::MetresPerSecond);
    EXPECT_EQ(cond.safety.unsafeMarks[conditions::Quantity::Temperature], (conditions::PerLevel<bool>{true, false, false}));
    EXPECT_EQ(rig.core->graphs().settings().points, 120);
    EXPECT_EQ(rig.core->graphs().settings().colours[outputs::GraphDir][2], 16777152);
    EXPECT_EQ(c.graphImagePath, rig.dir.path()) << "the program folder";
    EXPECT_EQ(rig.core->uploads().list().ListCount(), 0);

    rig.core->save();
    SettingsStore disk(rig.dir.path());
    EXPECT_EQ(disk.get(kApp, "Limit", "WindCalm"), "15");
    EXPECT_EQ(disk.get(kApp, "Limit", "UnitsSpeed2"), "True");
    EXPECT_EQ(disk.get(kApp, "Graphs", "GraphColorDir2"), "16777152");
    EXPECT_EQ(disk.get(kApp, "Graphs", "QualityNormal"), "True");
    EXPECT_EQ(disk.get(kApp, "Setup", "NoFiles"), "0");
    EXPECT_EQ(disk.get(kApp, "Window", "SSTab2"), "1");
    EXPECT_FALSE(disk.contains(kApp, "Window", "XOB_News"));
}

TEST(SettingsPersistence, ChangesReachTheDiskWithinASecondAtMostOnceASecond)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    MonitorCore& core = *rig.core;
    const QString file = rig.store.fileOf(kApp);
    const auto onDisk = [&](const char* section, const char* key) {
        SettingsStore disk(rig.dir.path());
        return disk.get(kApp, section, key, "<missing>");
    };
    const auto inode = [&] {
        struct stat st {};
        return ::stat(QFile::encodeName(file).constData(), &st) == 0 ? st.st_ino : ino_t(0);
    };
    auto& wind = core.conditionsConfig().levels.thresholds[conditions::Quantity::Wind];

    // A change made as a dialog or a client makes it.
    wind[0] = 15;
    core.conditionsEdited();
    rig.clock.advance(999);
    EXPECT_EQ(onDisk("Limit", "WindCalm"), "<missing>");
    rig.clock.advance(1);
    EXPECT_EQ(onDisk("Limit", "WindCalm"), "15");
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(file).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);

    // The next change right after a write waits for the next second; a
    // burst of changes is one write.
    const ino_t first = inode();
    for (int v = 16; v <= 20; ++v) {
        wind[0] = v;
        core.conditionsEdited();
        rig.clock.advance(100);
    }
    EXPECT_EQ(onDisk("Limit", "WindCalm"), "15");
    EXPECT_EQ(inode(), first);
    rig.clock.advance(500);
    EXPECT_EQ(onDisk("Limit", "WindCalm"), "20");
    const ino_t second = inode();
    EXPECT_NE(second, first);

    // A client's compass name too; and a notification that changed nothing
    // (a read cycle's) writes nothing.
    core.setCompassPoint(3, "Nord-Est");
    rig.clock.advance(1000);
    EXPECT_EQ(onDisk("Window", "Cadinal03"), "Nord-Est");
    const ino_t third = inode();
    emit core.changed();
    rig.clock.advance(3000);
    EXPECT_EQ(inode(), third);
}

namespace {

using skyvane::testing::waitFor;

} // namespace

// The real program, changed by a client and at once ended by SIGTERM: the
// unload saves the change, although the client is still attached.
TEST(SettingsPersistence, ChangeSurvivesTermination)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
    QTemporaryDir dir;
    {
        SettingsStore store(dir.path());
        store.save(kApp, "Setup", "Emulator", "1"); // not a first run
    }
    QProcess monitor;
    QProcessEnvironment env = bus.environment();
    env.insert("SKYVANE_SETTINGS_DIR", dir.path());
    env.insert("QT_QPA_PLATFORM", "offscreen");
    monitor.setProcessEnvironment(env);
    monitor.setProcessChannelMode(QProcess::ForwardedErrorChannel);
    monitor.start(qEnvironmentVariable("SKYVANE_BIN_DIR") + "/XOB_Skyvane", {});
    ASSERT_TRUE(monitor.waitForStarted(5000));

    QDBusConnection conn = bus.connection(QStringLiteral("client"));
    ASSERT_TRUE(waitFor([&] { return conn.interface()->isServiceRegistered("XOB_Skyvane.Nephor").value(); }, 15000));
    QString error;
    auto client = automation::LateBoundObject::create(conn, "XOB_Skyvane.Nephor", 15000, &error);
    ASSERT_NE(client, nullptr) << error.toStdString();
    ASSERT_TRUE(client->let("XOB_SafeDelayValue", 77).ok());
    ::kill(pid_t(monitor.processId()), SIGTERM);
    ASSERT_TRUE(waitFor([&] { return monitor.state() == QProcess::NotRunning; }, 15000));
    EXPECT_EQ(monitor.exitCode(), 0);
    client.reset();

    SettingsStore after(dir.path());
    EXPECT_EQ(after.get(kApp, "Window", "SafeDelayVal"), "77");
    EXPECT_EQ(after.get(kApp, "Setup", "Emulator"), "1");
    // Every key, those of the window and of later features too.
    for (const char* key : {"Limit/WindCalm", "Window/Left", "Window/SSTab1", "Window/HScrollPos2", "Graphs/GraphNoPoints",
                            "Setup/NoFiles", "Setup/TimeoutUPLOAD"}) {
        const QStringList k = QString::fromLatin1(key).split('/');
        EXPECT_TRUE(after.contains(kApp, k[0], k[1])) << key;
    }
    struct stat st {};
    ASSERT_EQ(::stat(QFile::encodeName(after.fileOf(kApp)).constData(), &st), 0);
    EXPECT_EQ(st.st_mode & 0777, 0600u);
}

TEST(SettingsPersistence, GraphKeysReachTheGraphsAndComeBackInRange)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    SettingsStore& store = rig.store;
    store.save(kApp, "Graphs", "GraphNoPoints", "5");
    store.save(kApp, "Graphs", "GraphFreq", "0");
    store.save(kApp, "Graphs", "GenerateHum", "0");
    store.save(kApp, "Graphs", "GraphColorDew1", QString::number(0x00FF00));
    store.save(kApp, "Graphs", "ImageType", "0");
    store.save(kApp, "Graphs", "QualityGood", "True");
    store.save(kApp, "Graphs", "QualityNormal", "False");
    rig.core->load();
    const outputs::GraphSettings& g = rig.core->graphs().settings();
    EXPECT_EQ(g.points, 20); // the least allowed
    EXPECT_EQ(g.freq, 1);
    EXPECT_FALSE(g.generate[outputs::GraphHum]);
    EXPECT_TRUE(g.generate[outputs::GraphDew]); // Dew and Hum are stored in the other order
    EXPECT_EQ(g.colours[outputs::GraphDew][1], 0x00FF00);
    EXPECT_FALSE(g.png);
    EXPECT_EQ(g.quality, outputs::JpegQuality::Good);

    // What the graphs hold is what is saved, written back in range.
    rig.core->graphs().settings().generate[outputs::GraphTemp] = false;
    rig.core->save();
    EXPECT_EQ(store.get(kApp, "Graphs", "GraphNoPoints"), "20");
    EXPECT_EQ(store.get(kApp, "Graphs", "GraphFreq"), "1");
    EXPECT_EQ(store.get(kApp, "Graphs", "GenerateHum"), "0");
    EXPECT_EQ(store.get(kApp, "Graphs", "GenerateTemp"), "0");
    EXPECT_EQ(store.get(kApp, "Graphs", "GraphColorDew1"), QString::number(0x00FF00));
    EXPECT_EQ(store.get(kApp, "Graphs", "QualityGood"), "True");
}

// No quality option selected is a state of its own (the library's default
// JPEG quality, flags 0): it loads as none and is written back as none.
TEST(SettingsPersistence, NoJpegQualitySelectedStaysNone)
{
    Rig rig;
    ASSERT_TRUE(rig.ready());
    SettingsStore& store = rig.store;
    store.save(kApp, "Graphs", "ImageType", "0");
    for (const char* k : {"QualityTop", "QualityGood", "QualityNormal"}) store.save(kApp, "Graphs", k, "False");
    rig.core->load();
    const outputs::GraphSettings& g = rig.core->graphs().settings();
    EXPECT_EQ(g.quality, outputs::JpegQuality::None);
    EXPECT_EQ(outputs::imageFlags(g.png, g.quality), 0);
    rig.core->save();
    for (const char* k : {"QualityTop", "QualityGood", "QualityNormal"}) EXPECT_EQ(store.get(kApp, "Graphs", k), "False") << k;

    // a file without the keys still starts on Normal
    store.deleteApplication(kApp);
    rig.core->load();
    EXPECT_EQ(rig.core->graphs().settings().quality, outputs::JpegQuality::Normal);
}

namespace {

// The value a walk lets: unlike the current one, and within the rules
// (thresholds keep their order when each moves up by a half).
QVariant walkedValue(const QVariant& now, const QString& member)
{
    // the read period is one of the period list's items
    if (member == "ReadCycle") return now.toInt() == 5 ? 10 : 5;
    switch (now.metaType().id()) {
    case QMetaType::Double: return now.toDouble() + 0.5;
    case QMetaType::Int: return member.startsWith("Color") ? QVariant((now.toInt() + 0x010203) & 0xFFFFFF) : QVariant(now.toInt() + 3);
    case QMetaType::QString: return now.toString() + " walked";
    default: return {};
    }
}

} // namespace

// Every setting a client can change, let on the running program, survives a
// SIGKILL a second and a half later: the program restarted on the same
// folder gives the let value back.
TEST(SettingsPersistence, EveryClassLetSurvivesAKill)
{
    PrivateBus bus;
    ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
    QTemporaryDir dir;
    {
        SettingsStore store(dir.path());
        store.save(kApp, "Setup", "Emulator", "1");
    }
    QDBusConnection conn = bus.connection(QStringLiteral("client"));
    auto connect = [&](MonitorProcess& m) -> std::unique_ptr<automation::LateBoundObject> {
        return m.start(bus, dir.path()) ? attachToMonitor(conn) : nullptr;
    };
    // The members a client may change at any time (the guarded ones belong
    // to the sensor server and need it), the window position aside.
    QStringList members;
    {
        QFile f(qEnvironmentVariable("SKYVANE_SOURCE_DIR") + "/monitor/automation/NephorClass.cpp");
        ASSERT_TRUE(f.open(QIODevice::ReadOnly));
        for (const QByteArray& raw : f.readAll().split('\n')) {
            const QString line = QString::fromUtf8(raw);
            if (!line.startsWith("prop ") || line.contains("guarded") || line.contains("fwd")) continue;
            const QString name = line.mid(5).trimmed().section(' ', 0, 0);
            if (name.startsWith("Window") || name.startsWith("XOB_Speed") || name.startsWith("XOB_Temperature")) continue;
            members << name;
        }
    }
    ASSERT_GT(members.size(), 40);

    QMap<QString, QVariant> let;
    {
        MonitorProcess m;
        auto client = connect(m);
        ASSERT_NE(client, nullptr);
        for (const QString& member : std::as_const(members)) {
            const automation::CallResult now = client->get(member);
            ASSERT_TRUE(now.ok()) << member.toStdString() << ": " << now.error.toStdString();
            const QVariant v = walkedValue(now.value, member);
            if (!v.isValid()) continue;
            if (client->let(member, v).ok()) let[member] = v;
        }
        ASSERT_GT(let.size(), 40);
        // the last change is a second old, and then some
        const QDeadlineTimer settle(1500);
        waitFor([&] { return settle.hasExpired(); }, 3000);
        client.reset();
        m.kill9();
    }
    MonitorProcess again;
    auto client = connect(again);
    ASSERT_NE(client, nullptr);
    for (auto it = let.cbegin(); it != let.cend(); ++it) {
        const automation::CallResult back = client->get(it.key());
        ASSERT_TRUE(back.ok()) << it.key().toStdString();
        if (it.value().metaType().id() == QMetaType::Double)
            EXPECT_NEAR(back.value.toDouble(), it.value().toDouble(), 1e-9) << it.key().toStdString();
        else
            EXPECT_EQ(back.value.toString().toStdString(), it.value().toString().toStdString()) << it.key().toStdString();
    }
}
