#include "NephorClass.h"

#include <QHash>
#include <QRegularExpression>
#include <QStringList>

namespace skyvane::nephor {

using automation::ArgSpec;
using automation::ClassSpec;
using automation::MemberKind;
using automation::MemberSpec;

namespace {

// The member table, in interface order. One line per member:
//
//   <kind> <Name>[(<args>)] [: <type>]   [| <traits>]
//
// kind: get, let, prop (get and let), method. Arguments are "<name> <type>",
// "&<name> <type>" when passed by reference. Types are the D-Bus types i d b
// s v o, or an enumeration of the type library (travels as i). A let value
// passed by reference is written ": &<type>".
// Traits: quiet (no activity signal), period (activity with the period
// shown), readcycle (activity only through ReadCycle), guarded (only while
// monitoring runs), fwd (forwarded under the same name), fwd=<Member>.
const char* const kMembers = R"(
# Safe delay and history
prop   XOB_SafeDelayValue : i                            | quiet
get    XOB_SafeDelayMsg : s                              | quiet
get    XOB_SafeDelayWait : i                             | quiet
method XOB_GraphArrayFirstElem(GraphNo i) : i            | quiet fwd
method XOB_GraphArrayLastElem(GraphNo i) : i             | quiet fwd
method XOB_GraphArrayCloud : v                           | fwd
method XOB_GraphArrayRain : v                            | fwd
method XOB_GraphArrayDay : v                             | fwd
method XOB_GraphArrayTemp : v                            | fwd
method XOB_GraphArray : v
method MForm : o                                         | quiet

# Commands and switch control
method XOB_AlarmStart(&vData s)
method XOB_AlarmStop
prop   XOB_CloudAlarmDelay : i                           | quiet fwd
get    XOB_DeviceRole : s                                | guarded fwd
prop   XOB_DeviceSwitchCtrl : b                          | guarded fwd=XOB_DeviceRole
method XOB_LocalControl(vData b, sLabel s)
method XOB_SetSwitch(vData i)
prop   XOB_SpeedUnits : s
prop   XOB_TemperatureUnits : s
method XOB_XFERFileErr : b                               | guarded fwd=XFERFileErr
method RecordStart(flgAppendToFile b)
method RecordStop
method SetUnSafe(iP b)                                   | fwd
method DeviceIsRunning : b
method WindowNormal
method WindowMinimize
prop   WindowLeft : i                                    | quiet
prop   WindowTop : i                                     | quiet
method BlinkLEDCOM
method Device_Start : v                                  | quiet
method Device_Stop : v                                   | quiet
method XOB_DeviceStop                                    | quiet
method LastReading : v                                   | quiet
method XOB_TotalNoUsers : i                              | quiet
get    Name : s                                          | quiet
get    Version : s                                       | quiet
get    VersionNP : s                                     | quiet fwd=Version

# Current values and condition levels
method AmbientTemperature : d
method Condition_Brightness : BrightnessCond
method Condition_Cloud : CloudCond
method Condition_DewCond : CloudCond
method Condition_Gust : WindCond
method Condition_HumCond : CloudCond
method Condition_Rain : RainCond
method Condition_Temp : TemperatureCond
method Condition_Sky : SkyCond
method Condition_WetF : b
method Condition_Wind : WindCond
method DataReady : b
method BrightnessValue : d
method DewPointTemp : d                                  | quiet
method GraphFreq : i
method GraphTemperatureMax(&iP i) : i                    | fwd
method GraphTemperatureMin(&iP i) : i                    | fwd
method GustValue : d
method HumidityRelative : d                              | quiet
method RainHeaterPercent : d
method RainHeaterTemperature : d
method RainValue : d
method Safe : b
method SecondsSinceGoodData : i                          | period
method SkySensorTemperature : d
method SkyTemperature : d
method SwitchStatus : i
method TemperatureAmb : d
get    UnitTemp : s
get    UnitSpeed : s
method WindDir : d
method WindValue : d
method BarometricPressure : d
method UnitsBarometricPressure : s

# Settings of the sensor server (forwarded) and local thresholds
prop   ThreshBrightnessDark : d                          | guarded fwd
prop   ThreshBrightnessLigth : d                         | guarded fwd
prop   ThreshBrightnessVLigth : d                        | guarded fwd
prop   BrightnessUnknowConditionValue : i                | guarded fwd
prop   ThreshRainDry : d                                 | guarded fwd
prop   ThreshRainWet : d                                 | guarded fwd
prop   ThreshRainRain : d                                | guarded fwd
prop   RainUnknowConditionValue : i                      | guarded fwd
prop   ThreshTempClear : d                               | guarded fwd
prop   ThreshTempCloudy : d                              | guarded fwd
prop   ThreshTempVCloudy : d                             | guarded fwd
prop   CloudUnknowConditionValue : i                     | guarded fwd
prop   ThreshWindCalm : d
prop   ThreshWindWindy : d
prop   ThreshWindVWindy : d
prop   ThreshGustCalm : d
prop   ThreshGustWindy : d
prop   ThreshGustVWindy : d
prop   ThreshDewCondensation : d
prop   ThreshDewHumid : d
prop   ThreshDewFine : d
prop   ThreshHumFine : d
prop   ThreshHumHumid : d
prop   ThreshHumVHumid : d
prop   ThreshTAmbCold : d
prop   ThreshTAmbFine : d
prop   ThreshTAmbHot : d

# Colours
prop   ColorClear : i                                    | guarded fwd
prop   ColorCloudy : i                                   | guarded fwd
prop   ColorVCloudy : i                                  | guarded fwd
prop   ColorDry : i                                      | guarded fwd
prop   ColorWet : i                                      | guarded fwd
prop   ColorRain : i                                     | guarded fwd
prop   ColorWindCalm : i
prop   ColorWindWindy : i
prop   ColorWindVWindy : i
prop   ColorGustCalm : i
prop   ColorGustWindy : i
prop   ColorGustVWindy : i
prop   ColorDewCondensation : i
prop   ColorDewHumid : i
prop   ColorDewFine : i
prop   ColorHumFine : i
prop   ColorHumHumid : i
prop   ColorHumVHumid : i
prop   ColorTempCold : i
prop   ColorTempFine : i
prop   ColorTempHot : i
prop   ColorDark : i                                     | guarded fwd
prop   ColorLight : i                                    | guarded fwd
prop   ColorVLight : i                                   | guarded fwd

# Descriptions
prop   DescriptionClear : s                              | guarded fwd
prop   DescriptionCloudy : s                             | guarded fwd
prop   DescriptionVCloudy : s                            | guarded fwd
prop   DescriptionDry : s                                | guarded fwd
prop   DescriptionWet : s                                | guarded fwd
prop   DescriptionRain : s                               | guarded fwd
prop   DescriptionDark : s                               | guarded fwd
prop   DescriptionLight : s                              | guarded fwd
prop   DescriptionVLight : s                             | guarded fwd
prop   DescWindCalm : s
prop   DescWindWindy : s
prop   DescWindVWindy : s
prop   DescGustCalm : s
prop   DescGustWindy : s
prop   DescGustVWindy : s
prop   DescDewCondensation : s
prop   DescDewHumid : s
prop   DescDewFine : s
prop   DescHumFine : s
prop   DescHumHumid : s
prop   DescHumVHumid : s
get    DescDirWindCalm : s                               | quiet
get    DescDirWindWindy : s                              | quiet
get    DescDirWindVWindy : s                             | quiet
get    DescDirGustCalm : s                               | quiet
get    DescDirGustWindy : s                              | quiet
get    DescDirGustVWindy : s                             | quiet
prop   DescTempCold : s
prop   DescTempFine : s
prop   DescTempHot : s

# Alarm switches, alarm sounds and unsafe marks
prop   AlarmClear : &i
prop   AlarmCloudy : &i
prop   AlarmOvercast : &i
prop   AlarmDry : &i
prop   AlarmWet : &i
prop   AlarmRain : &i
prop   AlarmDark : &i
prop   AlarmLight : &i
prop   AlarmVLight : &i
prop   SoundClear : &s
prop   SoundCloudy : &s
prop   SoundOvercast : &s
prop   SoundDry : &s
prop   SoundWet : &s
prop   SoundRain : &s
prop   SoundDark : &s
prop   SoundLight : &s
prop   SoundVLight : &s
prop   SafeClear : &i
prop   SafeCloudy : &i
prop   SafeOvercast : &i
prop   SafeDry : &i
prop   SafeWet : &i
prop   SafeRain : &i
prop   SafeDark : &i
prop   SafeLight : &i
prop   SafeVLight : &i
prop   SafeWindCalm : &i
prop   SafeWindWindy : &i
prop   SafeWindVWindy : &i
prop   SafeGustCalm : &i
prop   SafeGustWindy : &i
prop   SafeGustVWindy : &i
prop   SafeDewFine : &i
prop   SafeDewHumid : &i
prop   SafeDewCondensation : &i
prop   SafeHumFine : &i
prop   SafeHumHumid : &i
prop   SafeHumVHumid : &i
prop   SafeTempCold : &i
prop   SafeTempFine : &i
prop   SafeTempHot : &i

# Remaining members
prop   TempFactorON : b                                  | guarded fwd
prop   TempFactorK1 : i                                  | guarded fwd
prop   TempFactorK2 : i                                  | guarded fwd
prop   TempFactorK3 : i                                  | guarded fwd
prop   TempFactorK4 : i                                  | guarded fwd
prop   TempFactorK5 : i                                  | guarded fwd
prop   AlarmSuspendSound : i
prop   NoConsecutiveUnknownReads : i                     | guarded fwd
prop   NoConsecutiveRS232Errors : i                      | guarded fwd
prop   ReadCycle : i
method GetGraphCycle(iP i) : i                           | readcycle fwd=ReadCycle
method GetGraphFreq(iP i) : i                            | quiet fwd
method XOB_DataDisplayed(info s, ref s) : s              | quiet
)";

const char* const kObjectSafety = R"(
method GetInterfaceSafetyOptions(riid s, &pdwSupportedOptions i, &pdwEnabledOptions i) : i
method SetInterfaceSafetyOptions(riid s, dwOptionSetMask i, dwEnabledOptions i) : i
)";

// The main window as a client sees it through MForm: what it shows, read-only.
const char* const kForm = R"(
get    Caption : s
get    WindowState : i
get    Left : i
get    Top : i
get    Running : b
get    AttachedUsers : i
get    LblUsers : s
get    LblStatus : s
get    Statusbar1 : s
get    Statusbar2 : s
get    SafeDelayMsg : s
)";

const QList<EnumDef> kEnums = {
    {QStringLiteral("CloudCond"),
     {{"CloudUnknown", 0}, {"CloudClear", 1}, {"CloudCloudy", 2}, {"CloudVeryCloudy", 3}}},
    {QStringLiteral("BrightnessCond"),
     {{"BrightnessUnknown", 0}, {"BrightnessDark", 1}, {"BrightnessLight", 2}, {"BrightnessVerylight", 3}}},
    {QStringLiteral("RainCond"), {{"RainUnknown", 0}, {"RainDry", 1}, {"RainWet", 2}, {"RainRain", 3}}},
    {QStringLiteral("WindCond"), {{"WindUnknown", 0}, {"WindCalm", 1}, {"WindWindy", 2}, {"WindVeryWindy", 3}}},
    {QStringLiteral("SkyCond"),
     {{"SkyUnknown", 0}, {"SkyClear", 1}, {"SkyCloudy", 2}, {"SkyVeryCloudy", 3}, {"SkyWet", 4}}},
    {QStringLiteral("TemperatureCond"),
     {{"TemperatureUnknown", 0}, {"TemperatureLow", 1}, {"TemperatureMedium", 2}, {"TemperatureHigh", 3}}},
    {QStringLiteral("DewCond"), {{"DewUnknown", 0}, {"DewLow", 1}, {"DewMedium", 2}, {"DewHigh", 3}}},
    {QStringLiteral("HumidityCond"),
     {{"HumidityUnknown", 0}, {"HumidityLow", 1}, {"HumidityMedium", 2}, {"HumidityHigh", 3}}},
};

bool isEnum(const QString& t)
{
    for (const EnumDef& e : kEnums)
        if (e.name == t) return true;
    return false;
}

struct Parsed {
    QList<Slot> entries;
    std::shared_ptr<ClassSpec> spec;
};

// Parses a table of the form above. A bad line is a programming error: the
// program stops with the line named, so a broken table never ships.
Parsed parseTable(const QString& iface, const char* text)
{
    static const QRegularExpression lineRe(QStringLiteral(
        R"(^\s*(get|let|prop|method)\s+([A-Za-z_][A-Za-z0-9_]*)\s*(?:\(([^)]*)\))?\s*(?::\s*(&)?\s*([A-Za-z]+))?\s*$)"));
    Parsed out;
    out.spec = std::make_shared<ClassSpec>(iface);
    const QStringList lines = QString::fromLatin1(text).split(QLatin1Char('\n'));
    for (int n = 0; n < lines.size(); ++n) {
        QString l = lines[n];
        if (int hash = l.indexOf(QLatin1Char('#')); hash >= 0) l.truncate(hash);
        if (l.trimmed().isEmpty()) continue;
        auto bad = [&](const QString& why) {
            qFatal("%s member table, line %d \"%s\": %s", qPrintable(iface), n + 1, qPrintable(l.trimmed()), qPrintable(why));
        };
        QString traitText;
        if (int bar = l.indexOf(QLatin1Char('|')); bar >= 0) {
            traitText = l.mid(bar + 1);
            l.truncate(bar);
        }
        const auto m = lineRe.match(l);
        if (!m.hasMatch()) bad(QStringLiteral("not <kind> <Name>[(<args>)] [: <type>]"));
        const QString kind = m.captured(1);
        const QString name = m.captured(2);
        const bool valueByRef = !m.captured(4).isEmpty();
        QString type = m.captured(5);
        QString declared = type.isEmpty() ? QString() : (isEnum(type) ? type : automationTypeName(type));
        if (isEnum(type)) type = QStringLiteral("i");

        MemberTraits traits;
        for (const QString& t : traitText.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts)) {
            if (t == QLatin1String("quiet")) traits.activity = Activity::Quiet;
            else if (t == QLatin1String("period")) traits.activity = Activity::SignalWithPeriod;
            else if (t == QLatin1String("readcycle")) traits.activity = Activity::ThroughReadCycle;
            else if (t == QLatin1String("guarded")) traits.guarded = true;
            else if (t == QLatin1String("fwd")) traits.forwardTo = name;
            else if (t.startsWith(QLatin1String("fwd="))) traits.forwardTo = t.mid(4);
            else bad(QStringLiteral("unknown trait \"%1\"").arg(t));
        }
        traits.declaredType = declared;

        QList<ArgSpec> args;
        const QString argText = m.captured(3).trimmed();
        if (!argText.isEmpty()) {
            for (const QString& part : argText.split(QLatin1Char(','))) {
                QStringList words = part.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
                if (words.size() != 2) bad(QStringLiteral("argument \"%1\" is not [&]<name> <type>").arg(part.trimmed()));
                ArgSpec a;
                a.name = words[0];
                if (a.name.startsWith(QLatin1Char('&'))) {
                    a.byRef = true;
                    a.name.remove(0, 1);
                }
                a.type = words[1];
                args << a;
            }
        }
        auto add = [&](MemberSpec s) {
            s.tag = int(out.entries.size());
            QString why;
            if (!out.spec->add(s, &why)) bad(why);
            out.entries << Slot{s, traits};
        };
        if (kind == QLatin1String("get") || kind == QLatin1String("prop")) {
            if (type.isEmpty()) bad(QStringLiteral("a property get needs a type"));
            add(MemberSpec{name, MemberKind::Get, args, type});
        }
        if (kind == QLatin1String("let") || kind == QLatin1String("prop")) {
            if (type.isEmpty()) bad(QStringLiteral("a property let needs a type"));
            MemberSpec s{name, MemberKind::Let, args, {}};
            s.args << ArgSpec{QStringLiteral("value"), type, valueByRef};
            add(s);
        } else if (valueByRef) {
            bad(QStringLiteral("only a let value can be passed by reference"));
        }
        if (kind == QLatin1String("method")) add(MemberSpec{name, MemberKind::Method, args, type});
    }
    // The class keeps its own order (a get always sits before its let); the
    // slots must match it one for one.
    const QList<MemberSpec>& members = out.spec->members();
    if (members.size() != out.entries.size()) qFatal("%s member table: slot count mismatch", qPrintable(iface));
    for (int i = 0; i < members.size(); ++i) {
        if (members[i].dbusName() != out.entries[i].spec.dbusName())
            qFatal("%s member table: %s is out of order", qPrintable(iface), qPrintable(members[i].dbusName()));
    }
    return out;
}

const Parsed& nephorTable()
{
    static const Parsed p = [] {
        Parsed t = parseTable(QString::fromLatin1(kProgId), kMembers);
        if (t.entries.size() != kSlotCount)
            qFatal("XOB_Skyvane.Nephor member table has %d slots, not %d", int(t.entries.size()), kSlotCount);
        return t;
    }();
    return p;
}

QString xmlComment(const QString& s)
{
    QString t = s;
    return t.replace(QStringLiteral("--"), QStringLiteral("- -"));
}

QString signature(const MemberSpec& m, const MemberTraits& t)
{
    QStringList args;
    for (const ArgSpec& a : m.args) {
        if (m.kind == MemberKind::Let && &a == &m.args.last()) continue;
        args << QStringLiteral("%1%2 %3").arg(a.byRef ? QStringLiteral("ByRef ") : QString(), a.name, automationTypeName(a.type));
    }
    QString s = args.isEmpty() ? QString() : QStringLiteral("(%1)").arg(args.join(QStringLiteral(", ")));
    if (m.kind == MemberKind::Let) {
        const ArgSpec& v = m.args.last();
        s += QStringLiteral(" = %1%2").arg(v.byRef ? QStringLiteral("ByRef ") : QString(), t.declaredType);
    } else if (!t.declaredType.isEmpty()) {
        s += QStringLiteral(" → %1").arg(t.declaredType);
    }
    return s.trimmed();
}

} // namespace

QString automationTypeName(const QString& t)
{
    static const QHash<QString, QString> names = {
        {QStringLiteral("i"), QStringLiteral("int32")},  {QStringLiteral("d"), QStringLiteral("double")},
        {QStringLiteral("b"), QStringLiteral("bool")},   {QStringLiteral("s"), QStringLiteral("string")},
        {QStringLiteral("v"), QStringLiteral("variant")}, {QStringLiteral("o"), QStringLiteral("object")},
        {QStringLiteral("av"), QStringLiteral("variant array")},
    };
    return names.value(t, t);
}

const QList<Slot>& nephorSlots() { return nephorTable().entries; }

std::shared_ptr<const ClassSpec> nephorClass() { return nephorTable().spec; }

const MemberTraits& traitsOf(const MemberSpec& m)
{
    static const MemberTraits none;
    const QList<Slot>& s = nephorSlots();
    if (m.tag < 0 || m.tag >= s.size()) return none;
    const Slot& slot = s[m.tag];
    return slot.spec.dbusName() == m.dbusName() ? slot.traits : none;
}

std::shared_ptr<const ClassSpec> objectSafetyClass()
{
    static const Parsed p = parseTable(QString::fromLatin1(kObjectSafetyInterface), kObjectSafety);
    return p.spec;
}

std::shared_ptr<const ClassSpec> formClass()
{
    static const Parsed p = parseTable(QString::fromLatin1(kFormInterface), kForm);
    return p.spec;
}

const QList<EnumDef>& typeLibraryEnums() { return kEnums; }

QString introspectionDocument()
{
    QString enums;
    for (const EnumDef& e : kEnums) {
        QStringList v;
        for (const auto& [n, value] : e.values) v << QStringLiteral("%1 = %2").arg(n).arg(value);
        enums += QStringLiteral("       %1: %2\n").arg(e.name, v.join(QStringLiteral(", ")));
    }
    QString x = ClassSpec::documentHead(
        QStringLiteral(
            "The monitor's public class, bus name \"XOB_Skyvane.Nephor\" (type library XOB_Skyvane 2.0).\n"
            "     \"/\" is the class factory; every instance it hands out (paths /Instances/I<n>_<run>)\n"
            "     serves the interface XOB_Skyvane.Nephor, %1 slots in interface order. MForm returns\n"
            "     /MForm, the main window; /IObjectSafety answers the object-safety queries.\n"
            "     Members returning a condition level are int32 values of these enumerations:\n"
            "%2"
            "     Generated from the member table by `nephor_class_doc`; do not edit.")
            .arg(kSlotCount)
            .arg(xmlComment(enums)));
    x += nephorClass()->interfaceXml(6);
    x += QStringLiteral("    </node>\n  </node>\n  <node name=\"MForm\">\n");
    x += formClass()->interfaceXml(4);
    x += QStringLiteral("  </node>\n  <node name=\"IObjectSafety\">\n");
    x += objectSafetyClass()->interfaceXml(4);
    x += QStringLiteral("  </node>\n</node>\n");
    return x;
}

QString markdownPage()
{
    QString md;
    md += QStringLiteral(
        "# The class `Nephor` (\"XOB_Skyvane.Nephor\")\n\n"
        "<!-- Generated from the member table (monitor/automation/NephorClass.cpp) by\n"
        "     `nephor_class_doc`; do not edit by hand. -->\n\n"
        "The monitor publishes one class for other programs on the same computer:\n"
        "`Nephor`, under the bus name `XOB_Skyvane.Nephor` on the session bus. How\n"
        "to create an instance, call members and read errors is described in\n"
        "[automation.md](automation.md); the introspection data of every object is\n"
        "[nephor-class.xml](nephor-class.xml). From a shell, use `skyvane-cli`.\n\n"
        "Type library: `XOB_Skyvane` 2.0. Class `Nephor`, default interface `_Nephor`\n"
        "(on the bus: interface `XOB_Skyvane.Nephor`), %1 slots in this order.\n\n"
        "## Members\n\n"
        "Columns: **slot** (1-based interface position), **D-Bus method**, the\n"
        "member as an automation client sees it (`ByRef` arguments are written\n"
        "back), **activity** (the call counts as client activity on the main\n"
        "window: yes, *period* = yes with the period shown, *ReadCycle* = only when it\n"
        "reads ReadCycle, no), **guarded** (answered only while monitoring runs;\n"
        "otherwise 0, 0.0, False or \"\" and nothing reaches the sensor server), and\n"
        "**forwarded** (the sensor server's member the call is passed on to).\n\n"
        "| slot | D-Bus method | member | activity | guarded | forwarded |\n"
        "|---:|---|---|---|---|---|\n")
              .arg(kSlotCount);
    const QList<Slot>& entries = nephorSlots();
    for (int i = 0; i < entries.size(); ++i) {
        const Slot& s = entries[i];
        const char* kind = s.spec.kind == MemberKind::Get ? "get" : s.spec.kind == MemberKind::Let ? "let" : "method";
        QString activity;
        switch (s.traits.activity) {
        case Activity::Signal: activity = QStringLiteral("yes"); break;
        case Activity::SignalWithPeriod: activity = QStringLiteral("period"); break;
        case Activity::Quiet: activity = QStringLiteral("no"); break;
        case Activity::ThroughReadCycle: activity = QStringLiteral("ReadCycle"); break;
        }
        const QString member = QStringLiteral("%1 `%2` %3")
                                   .arg(QLatin1String(kind), s.spec.name,
                                        signature(s.spec, s.traits).toHtmlEscaped().replace(QLatin1Char('|'), QStringLiteral("\\|")))
                                   .trimmed();
        md += QStringLiteral("| %1 | `%2` | %3 | %4 | %5 | %6 |\n")
                  .arg(i + 1)
                  .arg(s.spec.dbusName(), member, activity, s.traits.guarded ? QStringLiteral("yes") : QString(),
                       s.traits.forwarded() ? QStringLiteral("`%1`").arg(s.traits.forwardTo) : QString());
    }
    md += QStringLiteral(
        "\nSome members forward only part of the time: `XOB_GraphArrayFirstElem` and\n"
        "`XOB_GraphArrayLastElem` for graph numbers 1 to 4, `GraphTemperatureMax`,\n"
        "`GraphTemperatureMin`, `GetGraphCycle` and `GetGraphFreq` for an argument of\n"
        "0; `XOB_DeviceSwitchCtrl` reads `XOB_DeviceRole` before its let;\n"
        "`SetUnSafe` passes the flag on only while a client has control. The lets of\n"
        "`ThreshRainRain`, `RainUnknowConditionValue`, `ThreshTempVCloudy`,\n"
        "`CloudUnknowConditionValue` and `TempFactorON` also set the matching control\n"
        "of the sensor server's own main window.\n\n"
        "## Behaviour worth knowing\n\n"
        "- Each instance counts one attached client on the main window (\"Attached\n"
        "  Users: n\"); while any is attached the monitor hides Start, Stop and Exit\n"
        "  and refuses to close. An instance is released by `ReleaseInstance` or when\n"
        "  its client leaves the bus for any reason.\n"
        "- `Device_Start` answers once the start has finished, which includes waiting\n"
        "  for the sensor server's first data (up to `NPTimeout` seconds): call it with\n"
        "  a timeout of at least `NPTimeout` + 5 s. It fails with\n"
        "  `XOB.Automation.Error.ServerError` when monitoring did not start.\n"
        "- `Safe` is False while monitoring is stopped, until the first read cycle of\n"
        "  a run has completed, and whenever the last completed cycle is older than\n"
        "  two read intervals; `SecondsSinceGoodData` then answers 1000.\n"
        "- Control taken with `XOB_LocalControl(True, ...)` ends when the client that\n"
        "  took it leaves the bus (released its last instance, or crashed) and at\n"
        "  every Start.\n"
        "- `RecordStart(flgAppendToFile)` starts the user data file named in the\n"
        "  Files tab as Record → Start does, without asking: True appends to an\n"
        "  existing file (with a new header line), False starts it afresh. It does\n"
        "  nothing while recording or while no file name is set. When the file\n"
        "  cannot be opened the call fails with a server error that says so, and\n"
        "  the monitor shows d13. `RecordStop` ends recording.\n"
        "- `GraphFreq`, and `GetGraphFreq` with an argument other than 0, answer the\n"
        "  monitor's own graph period: one graph sample every that many read cycles\n"
        "  (the *every* field of the Weather Station tab).\n"
        "- `XOB_GraphArray` is the monitor's own graph history, and\n"
        "  `XOB_GraphArrayFirstElem`/`XOB_GraphArrayLastElem` for graph numbers other\n"
        "  than 1 to 4 answer the slots of its oldest and newest sample (0 and 0\n"
        "  before the first sample). Row 1 holds the time of the sensor reading,\n"
        "  rows 2 to 7 wind, gust, direction, dew-point spread, humidity and\n"
        "  temperature in the units on show; row 0, slot 0, unused slots and values\n"
        "  the station did not give are empty.\n"
        "- `XOB_DeviceSwitchCtrl` = True selects \"Enabled\" (this program drives the\n"
        "  switch), the state its get reports as True; it acts only while monitoring\n"
        "  runs and the sensor server's role is \"MASTER\".\n"
        "- `SetUnSafe` changes the flag only while a client has control\n"
        "  (`XOB_LocalControl(True, ...)`); read cycles then leave it as set.\n"
        "- `XOB_DataDisplayed(info, ref)`: info \"desc\", \"value\" or \"color\" as\n"
        "  written; ref \"cloud\", \"rain\", \"wind\", \"gust\", \"dew\", \"humididty\",\n"
        "  \"temperature\", \"brightnesss\" in any case. A value comes with its unit\n"
        "  once (\"5 km/hr\", \"60 %\"); a colour is \"#RRGGBB\", empty when the label\n"
        "  has no colour of its own yet.\n"
        "- Check-box members (Alarm*, Safe*, `AlarmSuspendSound`) take 0 or 1; colour\n"
        "  lets take 0 to 16777215 (blue × 65536 + green × 256 + red), also those\n"
        "  passed on to the sensor server; numbers must be finite (no NaN, no\n"
        "  infinity); texts are at most 4096 characters. Anything else is refused with\n"
        "  `XOB.Automation.Error.BadArguments`; an alarm switched on without a sound\n"
        "  reads back 0.\n"
        "- A failing call to the sensor server (not connected, not answering) is\n"
        "  `XOB.Automation.Error.ServerError` with a message naming XOB_Nephor; the\n"
        "  monitor's own members keep answering. After the sensor server failed to\n"
        "  answer, forwarded members fail at once until the next read cycle.\n"
        "- The weather-station values (`WindValue`, `GustValue`, `WindDir`,\n"
        "  `TemperatureAmb`, `HumidityRelative`, `DewPointTemp`, `BarometricPressure`)\n"
        "  are NaN when the station file does not hold that value now (missing, cut\n"
        "  off, not a number, or no current station data): never 0 or an old value.\n"
        "- `LastReading` is an automation date (days since 1899-12-30) in a variant;\n"
        "  `XOB_GraphArray` is rows 0..7 of slots 0..N.\n\n"
        "## From a shell\n\n"
        "```sh\n"
        "skyvane-cli call Device_Start         # start monitoring\n"
        "skyvane-cli get Safe                  # True / False\n"
        "skyvane-cli set XOB_SpeedUnits k      # knots\n"
        "skyvane-cli call XOB_DataDisplayed value wind\n"
        "skyvane-cli list -l                   # every slot with its signature\n"
        "```\n\n"
        "Exit status 0 done, 1 the member failed, 2 bad command line, 3 no bus or no\n"
        "monitor. When the monitor is not running, the session bus starts it if its\n"
        "activation file is installed: `monitor/automation/dbus/install-user-service.sh`\n"
        "writes it to `~/.local/share/dbus-1/services`.\n\n"
        "## Enumerations\n\n"
        "Condition levels travel as int32.\n\n"
        "| enumeration | values |\n|---|---|\n");
    for (const EnumDef& e : kEnums) {
        QStringList v;
        for (const auto& [n, value] : e.values) v << QStringLiteral("`%1` = %2").arg(n).arg(value);
        md += QStringLiteral("| `%1` | %2 |\n").arg(e.name, v.join(QStringLiteral(", ")));
    }
    md += QStringLiteral(
        "\n## The main window object (`MForm`)\n\n"
        "`MForm` returns the path `/MForm` (interface `XOB_Skyvane.MForm`), the\n"
        "main window as clients may read it. All its members are read-only property\n"
        "gets and do not count as client activity:\n\n"
        "| member | type | meaning |\n|---|---|---|\n"
        "| `Caption` | string | the window caption, \"XOB_Skyvane (v5.02.015)\" |\n"
        "| `WindowState` | int32 | 0 normal, 1 minimised |\n"
        "| `Left`, `Top` | int32 | window position in twips (15 per pixel) |\n"
        "| `Running` | bool | monitoring runs |\n"
        "| `AttachedUsers` | int32 | the attached-client count |\n"
        "| `LblUsers` | string | \"Attached Users: \" and the count |\n"
        "| `LblStatus` | string | \"Safe\", \"Unsafe\" or empty |\n"
        "| `Statusbar1` | string | the status line |\n"
        "| `Statusbar2` | string | the code line (a31, a41, ...) |\n"
        "| `SafeDelayMsg` | string | the safe-delay message |\n\n"
        "## Object safety\n\n"
        "Script hosts ask whether the class is safe to script through the object\n"
        "`/IObjectSafety` (interface `XOB_Skyvane.IObjectSafety`). The interface\n"
        "identifier is a GUID string (compared without regard to case; braces may be\n"
        "left out). The result is the HRESULT: 0 (S_OK), -2147467259 (E_FAIL,\n"
        "0x80004005) or -2147467262 (E_NOINTERFACE, 0x80004002).\n\n"
        "| method | answer |\n|---|---|\n"
        "| `GetInterfaceSafetyOptions(riid) → (hr, supported, enabled)` | supported is always 3; enabled is 1 for IDispatch `{00020400-0000-0000-C000-000000000046}`, 2 for IPersistStorage, IPersistStream and IPersistPropertyBag; any other identifier gives E_NOINTERFACE |\n"
        "| `SetInterfaceSafetyOptions(riid, mask, enabled) → hr` | with r = mask AND enabled: IDispatch with r = 1 and a persistence interface with r = 2 succeed; any other r fails with E_FAIL; an unknown identifier gives E_NOINTERFACE |\n");
    return md;
}

} // namespace skyvane::nephor
