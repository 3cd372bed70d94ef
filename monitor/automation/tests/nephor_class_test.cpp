// The class's member table, its introspection data and documentation, and
// the small rules that need no bus.
#include "NephorClass.h"
#include "NephorRules.h"
#include "NephorServer.h"
#include "InterfaceOrder.h"

#include "MonitorCore.h"
#include "SettingsStore.h"

#include <QDir>
#include <QFile>
#include <QProcess>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace skyvane;
using namespace skyvane::nephor;
using automation::MemberKind;

using testdata::expectedDbusNames;

TEST(NephorClass, TableHas342SlotsInTheInterfaceOrder)
{
    const QStringList expected = expectedDbusNames();
    ASSERT_EQ(expected.size(), kSlotCount);
    QStringList actual;
    for (const automation::MemberSpec& m : nephorClass()->members()) actual << m.dbusName();
    EXPECT_EQ(actual, expected);
    EXPECT_EQ(nephorSlots().size(), kSlotCount);
    for (int i = 0; i < nephorSlots().size(); ++i) EXPECT_EQ(nephorSlots()[i].spec.tag, i);
}

TEST(NephorClass, SignaturesTraitsAndByReferenceArguments)
{
    const auto cls = nephorClass();
    struct Row {
        const char* dbus;
        const char* in;
        const char* out;
        Activity activity;
        bool guarded;
        const char* forward;
        const char* declared;
    };
    const Row rows[] = {
        {"get_XOB_SafeDelayValue", "", "i", Activity::Quiet, false, "", "int32"},
        {"let_XOB_SafeDelayValue", "i", "", Activity::Quiet, false, "", "int32"},
        {"XOB_AlarmStart", "s", "s", Activity::Signal, false, "", ""},
        {"XOB_XFERFileErr", "", "b", Activity::Signal, true, "XFERFileErr", "bool"},
        {"get_XOB_DeviceSwitchCtrl", "", "b", Activity::Signal, true, "XOB_DeviceRole", "bool"},
        {"SetUnSafe", "b", "", Activity::Signal, false, "SetUnSafe", ""},
        {"Device_Start", "", "v", Activity::Quiet, false, "", "variant"},
        {"get_VersionNP", "", "s", Activity::Quiet, false, "Version", "string"},
        {"Condition_Cloud", "", "i", Activity::Signal, false, "", "CloudCond"},
        {"Condition_DewCond", "", "i", Activity::Signal, false, "", "CloudCond"},
        {"Condition_Sky", "", "i", Activity::Signal, false, "", "SkyCond"},
        {"GraphTemperatureMax", "i", "ii", Activity::Signal, false, "GraphTemperatureMax", "int32"},
        {"SecondsSinceGoodData", "", "i", Activity::SignalWithPeriod, false, "", "int32"},
        {"DewPointTemp", "", "d", Activity::Quiet, false, "", "double"},
        {"let_ThreshRainRain", "d", "", Activity::Signal, true, "ThreshRainRain", "double"},
        {"let_ThreshWindCalm", "d", "", Activity::Signal, false, "", "double"},
        {"get_DescDirGustVWindy", "", "s", Activity::Quiet, false, "", "string"},
        {"let_AlarmClear", "i", "i", Activity::Signal, false, "", "int32"},
        {"let_SoundVLight", "s", "s", Activity::Signal, false, "", "string"},
        {"let_SafeDewFine", "i", "i", Activity::Signal, false, "", "int32"},
        {"let_TempFactorON", "b", "", Activity::Signal, true, "TempFactorON", "bool"},
        {"GetGraphCycle", "i", "i", Activity::ThroughReadCycle, false, "ReadCycle", "int32"},
        {"GetGraphFreq", "i", "i", Activity::Quiet, false, "GetGraphFreq", "int32"},
        {"XOB_DataDisplayed", "ss", "s", Activity::Quiet, false, "", "string"},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.dbus);
        const automation::MemberSpec* m = cls->find(QString::fromLatin1(r.dbus));
        ASSERT_NE(m, nullptr);
        EXPECT_EQ(m->inSignature(), QLatin1String(r.in));
        EXPECT_EQ(m->outSignature(), QLatin1String(r.out));
        const MemberTraits& t = traitsOf(*m);
        EXPECT_EQ(t.activity, r.activity);
        EXPECT_EQ(t.guarded, r.guarded);
        EXPECT_EQ(t.forwardTo, QLatin1String(r.forward));
        EXPECT_EQ(t.declaredType, QLatin1String(r.declared));
    }
    // XOB_DataDisplayed names its second argument "ref" but takes it by value.
    const automation::MemberSpec* dd = cls->find(QStringLiteral("XOB_DataDisplayed"));
    EXPECT_EQ(dd->args[1].name, QStringLiteral("ref"));
    EXPECT_FALSE(dd->args[1].byRef);

    // The members the activity list names as quiet are exactly these.
    QStringList quiet;
    for (const Slot& s : nephorSlots())
        if (s.traits.activity == Activity::Quiet && !quiet.contains(s.spec.name)) quiet << s.spec.name;
    EXPECT_EQ(quiet, (QStringList{"XOB_SafeDelayValue", "XOB_SafeDelayMsg", "XOB_SafeDelayWait", "XOB_GraphArrayFirstElem",
                                  "XOB_GraphArrayLastElem", "MForm", "XOB_CloudAlarmDelay", "WindowLeft", "WindowTop",
                                  "Device_Start", "Device_Stop", "XOB_DeviceStop", "LastReading", "XOB_TotalNoUsers",
                                  "Name", "Version", "VersionNP", "DewPointTemp", "HumidityRelative", "DescDirWindCalm",
                                  "DescDirWindWindy", "DescDirWindVWindy", "DescDirGustCalm", "DescDirGustWindy",
                                  "DescDirGustVWindy", "GetGraphFreq", "XOB_DataDisplayed"}));
    // 12 settings + 9 colours + 9 descriptions + 6 temperature factors + 2
    // counters are guarded properties (76 slots), plus the role, the switch
    // control (3 slots) and the transfer-file error.
    int guarded = 0;
    for (const Slot& s : nephorSlots()) guarded += s.traits.guarded ? 1 : 0;
    EXPECT_EQ(guarded, 76 + 1 + 2 + 1);
}

TEST(NephorClass, EveryMemberHasAHandler)
{
    QTemporaryDir dir;
    SettingsStore store(dir.path());
    FakeClock clock;
    MonitorCore core(clock, store, QDBusConnection(QStringLiteral("not-connected")), dir.path());
    NephorServer server(core, QDBusConnection(QStringLiteral("not-connected")));
    EXPECT_EQ(server.unhandledMembers(), QStringList());
}

TEST(NephorClass, DocumentsInDocsAreUpToDate)
{
    const QString src = qEnvironmentVariable("SKYVANE_SOURCE_DIR");
    if (src.isEmpty()) GTEST_SKIP() << "SKYVANE_SOURCE_DIR not set";
    for (const auto& [name, text] : {std::pair{QStringLiteral("nephor-class.xml"), introspectionDocument()},
                                     std::pair{QStringLiteral("nephor-class.md"), markdownPage()}}) {
        QFile f(QDir(src).filePath(QStringLiteral("docs/") + name));
        ASSERT_TRUE(f.open(QIODevice::ReadOnly)) << name.toStdString();
        EXPECT_TRUE(QString::fromUtf8(f.readAll()) == text)
            << name.toStdString() << " differs from the member table: build the target nephor_docs";
    }
    EXPECT_TRUE(introspectionDocument().contains(QStringLiteral("BrightnessVerylight = 3")));
    EXPECT_TRUE(markdownPage().contains(QStringLiteral("| `SkyCond` | `SkyUnknown` = 0, `SkyClear` = 1, `SkyCloudy` = 2, `SkyVeryCloudy` = 3, `SkyWet` = 4 |")));

    // The generator itself (the target nephor_docs runs it) writes exactly
    // the checked-in files, and its --check tells a stale file from a
    // current one.
    const QString tool = qEnvironmentVariable("SKYVANE_BIN_DIR") + QStringLiteral("/nephor_class_doc");
    auto run = [&](const QStringList& args) {
        QProcess p;
        p.start(tool, args);
        if (!p.waitForFinished(30000)) return -1;
        return p.exitStatus() == QProcess::NormalExit ? p.exitCode() : -2;
    };
    QTemporaryDir out;
    ASSERT_EQ(run({out.path()}), 0) << tool.toStdString();
    for (const QString& name : {QStringLiteral("nephor-class.xml"), QStringLiteral("nephor-class.md")}) {
        QFile written(out.filePath(name)), checkedIn(QDir(src).filePath(QStringLiteral("docs/") + name));
        ASSERT_TRUE(written.open(QIODevice::ReadOnly) && checkedIn.open(QIODevice::ReadOnly)) << name.toStdString();
        EXPECT_TRUE(written.readAll() == checkedIn.readAll())
            << "docs/" << name.toStdString() << " is not what nephor_class_doc writes: build the target nephor_docs";
    }
    EXPECT_EQ(run({QStringLiteral("--check"), QDir(src).filePath(QStringLiteral("docs"))}), 0);
    {
        QFile md(out.filePath(QStringLiteral("nephor-class.md")));
        ASSERT_TRUE(md.open(QIODevice::Append));
        md.write("\n");
    }
    EXPECT_EQ(run({QStringLiteral("--check"), out.path()}), 1) << "--check passed a file that differs";
}

TEST(NephorRules, ColourToHtml)
{
    const std::pair<qint64, const char*> rows[] = {
        {16777088, "#80FFFF"}, {255, "#FF0000"}, {0, "#000000"}, {0xFF0000, "#0000FF"}, {0x00FF00, "#00FF00"},
        {0x123456, "#563412"}, {0xFFFFFF, "#FFFFFF"}, {0x0A, "#0A0000"},
        // no defined colour: system colour references and "the control's own"
        {-1, ""}, {0x1000000, ""}, {qint64(0x80000005), ""},
    };
    for (const auto& [c, html] : rows) EXPECT_EQ(colourToHtml(c), QLatin1String(html)) << c;
}

TEST(NephorRules, SkyConditionAndWetFlag)
{
    // cloud, rain -> sky
    const int rows[][3] = {
        {2, 1, 2}, {1, 1, 1}, {3, 1, 3}, {1, 2, 4}, {3, 3, 4},
        {0, 0, 0}, {0, 1, 0}, {0, 2, 0}, {0, 3, 0}, {2, 0, 0},
    };
    for (const auto& r : rows) EXPECT_EQ(skyCondition(r[0], r[1]), r[2]) << r[0] << "," << r[1];
    EXPECT_FALSE(wetFlag(0));
    EXPECT_FALSE(wetFlag(1));
    EXPECT_TRUE(wetFlag(2));
    EXPECT_TRUE(wetFlag(3));
}

TEST(NephorRules, ReadCycleItems)
{
    const std::pair<int, int> rows[] = {{-5, 0}, {0, 0}, {5, 0}, {6, 1}, {10, 1}, {11, 2}, {30, 2},
                                        {31, 3}, {60, 3}, {61, 1}, {3600, 1}};
    for (const auto& [s, item] : rows) EXPECT_EQ(readCycleItem(s), item) << s;
}

TEST(NephorRules, ObjectSafety)
{
    const SafetyFlags on;
    // Get: supported is always 3.
    auto g = getInterfaceSafetyOptions(kIID_IDispatch, on);
    EXPECT_EQ(g.hr, kS_OK);
    EXPECT_EQ(g.supported, 3);
    EXPECT_EQ(g.enabled, 1);
    for (const QString& iid : {kIID_IPersistStorage, kIID_IPersistStream, kIID_IPersistPropertyBag}) {
        g = getInterfaceSafetyOptions(iid, on);
        EXPECT_EQ(g.hr, kS_OK);
        EXPECT_EQ(g.enabled, 2);
    }
    g = getInterfaceSafetyOptions(QStringLiteral("{00000000-0000-0000-C000-000000000046}"), on); // IUnknown
    EXPECT_EQ(g.hr, kE_NOINTERFACE);
    EXPECT_EQ(g.hr, qint32(0x80004002u));
    // The same GUID in lower case or without braces is the same interface.
    EXPECT_EQ(getInterfaceSafetyOptions(QStringLiteral("00020400-0000-0000-c000-000000000046"), on).enabled, 1);

    // Set: r = mask AND enabled.
    EXPECT_EQ(setInterfaceSafetyOptions(kIID_IDispatch, 1, 1, on), kS_OK);
    EXPECT_EQ(setInterfaceSafetyOptions(kIID_IDispatch, 1, 0, on), kE_FAIL);
    EXPECT_EQ(setInterfaceSafetyOptions(kIID_IDispatch, 3, 1, on), kS_OK);
    EXPECT_EQ(setInterfaceSafetyOptions(kIID_IDispatch, 2, 2, on), kE_FAIL);
    EXPECT_EQ(setInterfaceSafetyOptions(kIID_IDispatch, 3, 3, on), kE_FAIL);
    EXPECT_EQ(setInterfaceSafetyOptions(kIID_IPersistStream, 2, 2, on), kS_OK);
    EXPECT_EQ(setInterfaceSafetyOptions(kIID_IPersistStream, 1, 1, on), kE_FAIL);
    EXPECT_EQ(setInterfaceSafetyOptions(QStringLiteral("{11111111-2222-3333-4444-555555555555}"), 1, 1, on), kE_NOINTERFACE);
    EXPECT_EQ(kE_FAIL, qint32(0x80004005u));

    // Were the flags ever false, nothing would be enabled.
    const SafetyFlags off{false, false};
    EXPECT_EQ(getInterfaceSafetyOptions(kIID_IDispatch, off).enabled, 0);
    EXPECT_EQ(setInterfaceSafetyOptions(kIID_IDispatch, 1, 1, off), kE_FAIL);
}
