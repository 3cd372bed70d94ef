#include "NephorSim.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <QFile>
#include <QLoggingCategory>
#include <QRegularExpression>
#include <QTextStream>
#include <QThread>
#include <algorithm>

Q_LOGGING_CATEGORY(lcSim, "skyvane.sensorsim", QtInfoMsg)

namespace skyvane::sensorsim {

using automation::Call;
using automation::ClassSpec;
using automation::Failure;
using automation::MemberKind;
using automation::Reply;

namespace {

// Member order: first what the monitor reads and sends on every connection and
// read cycle, in the order it uses them; then the settings that the monitor's
// own class passes through to clients, in that class's order; then the graph
// members and the main window.
const char* const kNephorDecl = R"(
get    Version : s
get    XOB_DeviceRole : s
prop   XOB_DeviceSwitchCtrl : b
method XOB_LocalControl(vData b, sLabel s)
method Device_Start
get    DataReady : b
prop   XOB_TemperatureUnits : s
get    Condition_Cloud : i
get    Condition_Rain : i
get    Condition_Brightness : i
get    SkyTemperature : d
get    RainValue : d
get    BrightnessValue : d
get    SkySensorTemperature : d
get    AmbientTemperature : d
get    RainHeaterPercent : d
get    RainHeaterTemperature : d
get    RainHeaterStatus : s
get    LastReading : date
get    DeviceIsRunning : b
get    XOB_XFERFileErr : b
get    XFERFileErr : b
method XOB_AlarmStop
method SetUnSafe(ref iP b)
method XOB_SetSwitch(ref vData d)
get    SwitchStatus : d
prop   ThreshBrightnessDark : d
prop   ThreshBrightnessLigth : d
prop   ThreshBrightnessVLigth : d
prop   BrightnessUnknowConditionValue : i
prop   ThreshRainDry : d
prop   ThreshRainWet : d
prop   ThreshRainRain : d
prop   RainUnknowConditionValue : i
prop   ThreshTempClear : d
prop   ThreshTempCloudy : d
prop   ThreshTempVCloudy : d
prop   CloudUnknowConditionValue : i
prop   ColorClear : i
prop   ColorCloudy : i
prop   ColorVCloudy : i
prop   ColorDry : i
prop   ColorWet : i
prop   ColorRain : i
prop   ColorDark : i
prop   ColorLight : i
prop   ColorVLight : i
prop   DescriptionClear : s
prop   DescriptionCloudy : s
prop   DescriptionVCloudy : s
prop   DescriptionDry : s
prop   DescriptionWet : s
prop   DescriptionRain : s
prop   DescriptionDark : s
prop   DescriptionLight : s
prop   DescriptionVLight : s
prop   TempFactorON : b
prop   TempFactorK1 : i
prop   TempFactorK2 : i
prop   TempFactorK3 : i
prop   TempFactorK4 : i
prop   TempFactorK5 : i
prop   NoConsecutiveUnknownReads : i
prop   NoConsecutiveRS232Errors : i
prop   XOB_CloudAlarmDelay : i
prop   ReadCycle : i
method GetGraphFreq(iP i) : i
method GraphTemperatureMax(ref iP i) : i
method GraphTemperatureMin(ref iP i) : i
method XOB_GraphArrayFirstElem(GraphNo i) : i
method XOB_GraphArrayLastElem(GraphNo i) : i
method XOB_GraphArrayCloud : av
method XOB_GraphArrayRain : av
method XOB_GraphArrayDay : av
method XOB_GraphArrayTemp : av
method MForm : o
)";

const char* const kFormDecl = R"(
get    UnknowRainLT : o
get    UnknowCloudGT : o
get    RainLimit(Index i) : o
get    CloudLimit(Index i) : o
method CloudTempSet(ref Value d)
)";

const char* const kNumberBoxDecl = R"(
prop   Value : d
)";

const char* const kControlDecl = R"(
# steering the simulation
method SetReading(name s, value v)        # freeze a reading at a value
method ReleaseReading(name s)             # back to simulation ("" = all)
method SetLevels(cloud i, rain i, brightness i)   # -1 = classified again
method SetDeviceRunning(running b)
method SetXferError(error b)
method SetReadyDelay(ms i)                # -1 = never ready
method SetDataReady(ready b)
method SetRole(role s)
method SetVersion(version s)
method ReadNow
method Hang(ms i)                         # block the event loop after answering
method Quit
# what the monitor sent
method LastUnsafe : b
method UnsafeCount : i
method LastSwitch : d
method SwitchCount : i
method LocalControl : b
method LocalControlLabel : s
method LocalControlCalls : av
method TemperatureUnits : s
method SwitchCtrl : b
method SwitchCtrlCount : i
method DeviceStartCount : i
method AlarmStopCount : i
method FormValue(name s) : d
method CallLog : av
method ClearCallLog
method InstanceCount : i
# round trips for the automation tests
method Probe(ref number d, ref flag b, ref text s, when date) : date
method Echo(value v) : v
method Reverse(items av) : av
)";

std::shared_ptr<ClassSpec> build(const char* iface, const char* decl)
{
    auto spec = std::make_shared<ClassSpec>(QString::fromLatin1(iface));
    QString err;
    if (!spec->declare(QString::fromLatin1(decl), &err)) qFatal("sensor stand-in class %s: %s", iface, qPrintable(err));
    return spec;
}

const QStringList kLimitNames = {QStringLiteral("RainLimit"), QStringLiteral("CloudLimit")};

// The setting behind each control of the stand-in's main window.
QString settingOfControl(const QString& key)
{
    static const QHash<QString, QString> map = {
        {QStringLiteral("UnknowRainLT"), QStringLiteral("ThreshRainRain")},
        {QStringLiteral("UnknowCloudGT"), QStringLiteral("ThreshTempVCloudy")},
        {QStringLiteral("RainLimit_0"), QStringLiteral("ThreshRainDry")},
        {QStringLiteral("RainLimit_1"), QStringLiteral("ThreshRainWet")},
        {QStringLiteral("RainLimit_2"), QStringLiteral("RainUnknowConditionValue")},
        {QStringLiteral("CloudLimit_0"), QStringLiteral("ThreshTempClear")},
        {QStringLiteral("CloudLimit_1"), QStringLiteral("ThreshTempCloudy")},
        {QStringLiteral("CloudLimit_2"), QStringLiteral("CloudUnknowConditionValue")},
    };
    return map.value(key);
}

QString controlPath(const QString& key)
{
    // "RainLimit_2" -> /MForm/RainLimit/2
    QString p = QLatin1String(kFormPath) + QLatin1Char('/') + key;
    return p.replace(QLatin1Char('_'), QLatin1Char('/'));
}

} // namespace

std::shared_ptr<ClassSpec> NephorSim::nephorClass() { return build(kProgId, kNephorDecl); }
std::shared_ptr<ClassSpec> NephorSim::formClass() { return build(kFormInterface, kFormDecl); }
std::shared_ptr<ClassSpec> NephorSim::numberBoxClass() { return build(kNumberBoxInterface, kNumberBoxDecl); }
std::shared_ptr<ClassSpec> NephorSim::controlClass() { return build(kControlInterface, kControlDecl); }

QString NephorSim::introspectionDocument()
{
    QString x = ClassSpec::documentHead(QStringLiteral(
        "The sensor-server stand-in XOB_Nephor_sim, bus name \"XOB_Nephor.Nephor\".\n"
        "     \"/\" is the class factory; every instance it hands out (paths /Instances/I<n>_<run>)\n"
        "     serves the interface XOB_Nephor.Nephor; MForm returns /MForm, whose controls sit\n"
        "     below it; /Control steers the stand-in. Every object also answers\n"
        "     org.freedesktop.DBus.Introspectable."));
    x += nephorClass()->interfaceXml(6);
    x += QStringLiteral("    </node>\n  </node>\n  <node name=\"MForm\">\n");
    x += formClass()->interfaceXml(4);
    const QString box = numberBoxClass()->interfaceXml(8);
    for (const char* c : {"UnknowRainLT", "UnknowCloudGT"})
        x += QStringLiteral("    <node name=\"%1\">\n").arg(QLatin1String(c)) + numberBoxClass()->interfaceXml(6)
            + QStringLiteral("    </node>\n");
    for (const QString& l : kLimitNames) {
        x += QStringLiteral("    <node name=\"%1\">\n").arg(l);
        for (int i = 0; i < 3; ++i)
            x += QStringLiteral("      <node name=\"%1\">\n").arg(i) + box + QStringLiteral("      </node>\n");
        x += QStringLiteral("    </node>\n");
    }
    x += QStringLiteral("  </node>\n  <node name=\"Control\">\n");
    x += controlClass()->interfaceXml(4);
    x += QStringLiteral("  </node>\n</node>\n");
    return x;
}

NephorSim::NephorSim(const QDBusConnection& bus, const Options& options, QObject* parent)
    : QObject(parent), bus_(bus), options_(options)
{
    readyTimer_.setSingleShot(true);
    connect(&readyTimer_, &QTimer::timeout, this, [this] { ready_ = true; });
    connect(&readTimer_, &QTimer::timeout, this, &NephorSim::reading);
    model_.step(QDateTime::currentDateTime());
}

NephorSim::~NephorSim() = default;

bool NephorSim::start(QString* error)
{
    server_ = std::make_unique<automation::AutomationServer>(bus_, QString::fromLatin1(kProgId), nephorClass(),
                                                             [this](Call& c) { return nephor(c); });
    server_->setOnCreated([](int id) { qCDebug(lcSim) << "instance" << id << "created"; });
    server_->setOnReleased([](int id) { qCDebug(lcSim) << "instance" << id << "released"; });
    bool ok = server_->addObject(QString::fromLatin1(kControlPath), controlClass(), [this](Call& c) { return control(c); }, error)
        && server_->addObject(QString::fromLatin1(kFormPath), formClass(), [this](Call& c) { return form(c); }, error);
    const auto box = numberBoxClass();
    QStringList keys = {QStringLiteral("UnknowRainLT"), QStringLiteral("UnknowCloudGT")};
    for (const QString& l : kLimitNames)
        for (int i = 0; i < 3; ++i) keys << QStringLiteral("%1_%2").arg(l).arg(i);
    for (const QString& key : keys) {
        if (!ok) break;
        ok = server_->addObject(controlPath(key), box, [this, key](Call& c) { return numberBox(key, c); }, error);
    }
    if (!ok || !server_->publish(error)) return false;
    armReadingTimer();
    return true;
}

void NephorSim::armReadingTimer()
{
    const int seconds = std::clamp(model_.setting(QStringLiteral("ReadCycle")).toInt(), 1, 3600);
    readTimer_.start(seconds * 1000);
}

void NephorSim::reading()
{
    if (running_) model_.step(QDateTime::currentDateTime());
}

void NephorSim::deviceStart()
{
    ++deviceStartCount_;
    running_ = true;
    model_.step(QDateTime::currentDateTime());
    if (ready_ || readyTimer_.isActive()) return;
    if (options_.readyDelayMs == 0) ready_ = true;
    else if (options_.readyDelayMs > 0) readyTimer_.start(options_.readyDelayMs);
}

Reply NephorSim::nephor(Call& call)
{
    if (callLog_.size() < 10000) callLog_ << call.member->dbusName();
    const QString& name = call.member->name;
    const MemberKind kind = call.member->kind;

    if (kind == MemberKind::Get && SensorModel::isReading(name)) return Reply::ok(model_.reading(name));
    if (model_.hasSetting(name) && call.member->args.size() <= 1) {
        if (kind == MemberKind::Get) return Reply::ok(model_.setting(name));
        if (kind == MemberKind::Let) {
            model_.setSetting(name, call.value());
            if (name == QLatin1String("ReadCycle")) armReadingTimer();
            return Reply::ok();
        }
    }
    if (name == QLatin1String("Version")) return Reply::ok(options_.version);
    if (name == QLatin1String("XOB_DeviceRole")) return Reply::ok(options_.role);
    if (name == QLatin1String("XOB_DeviceSwitchCtrl")) {
        if (kind == MemberKind::Get) return Reply::ok(switchCtrl_);
        switchCtrl_ = call.value().toBool();
        ++switchCtrlCount_;
        return Reply::ok();
    }
    if (name == QLatin1String("XOB_LocalControl")) {
        localControl_ = call.arg(0).toBool();
        localControlLabel_ = call.arg(1).toString();
        if (localControlCalls_.size() < 1000) localControlCalls_ << QVariant(QVariantList{localControl_, localControlLabel_});
        return Reply::ok();
    }
    if (name == QLatin1String("Device_Start")) {
        deviceStart();
        return Reply::ok();
    }
    if (name == QLatin1String("DataReady")) return Reply::ok(ready_);
    if (name == QLatin1String("XOB_TemperatureUnits")) {
        if (kind == MemberKind::Get) return Reply::ok(model_.temperatureUnits());
        model_.setTemperatureUnits(call.value().toString());
        return Reply::ok();
    }
    if (name == QLatin1String("DeviceIsRunning")) return Reply::ok(running_);
    if (name == QLatin1String("XOB_XFERFileErr") || name == QLatin1String("XFERFileErr")) return Reply::ok(xferError_);
    if (name == QLatin1String("XOB_AlarmStop")) {
        ++alarmStopCount_;
        return Reply::ok();
    }
    if (name == QLatin1String("SetUnSafe")) {
        lastUnsafe_ = call.arg(0).toBool();
        ++unsafeCount_;
        return Reply::ok();
    }
    if (name == QLatin1String("XOB_SetSwitch")) {
        lastSwitch_ = call.arg(0).toDouble();
        ++switchCount_;
        model_.setSwitchStatus(lastSwitch_);
        return Reply::ok();
    }
    if (name == QLatin1String("GetGraphFreq")) return Reply::ok(model_.setting(QStringLiteral("GraphFreq")));
    if (name == QLatin1String("GraphTemperatureMax") || name == QLatin1String("GraphTemperatureMin"))
        return Reply::ok(model_.setting(name));
    if (name == QLatin1String("XOB_GraphArrayFirstElem") || name == QLatin1String("XOB_GraphArrayLastElem")) {
        const int graph = call.arg(0).toInt();
        if (graph < 1 || graph > 4) return Reply::fail(Failure::BadArguments, QStringLiteral("graph number %1 is not 1 to 4").arg(graph));
        return Reply::ok(name.endsWith(QLatin1String("FirstElem")) ? model_.firstSlot() : model_.lastSlot());
    }
    static const QStringList arrays = {QStringLiteral("XOB_GraphArrayCloud"), QStringLiteral("XOB_GraphArrayRain"),
                                       QStringLiteral("XOB_GraphArrayDay"), QStringLiteral("XOB_GraphArrayTemp")};
    if (int g = int(arrays.indexOf(name)); g >= 0) return Reply::ok(model_.history(g + 1));
    if (name == QLatin1String("MForm")) return Reply::ok(QVariant::fromValue(QDBusObjectPath(QString::fromLatin1(kFormPath))));
    return Reply::fail(Failure::UnknownMember, QStringLiteral("%1 is not served by the stand-in").arg(call.member->dbusName()));
}

Reply NephorSim::form(Call& call)
{
    const QString& name = call.member->name;
    if (callLog_.size() < 10000) callLog_ << QStringLiteral("MForm.") + call.member->dbusName();
    if (name == QLatin1String("UnknowRainLT") || name == QLatin1String("UnknowCloudGT"))
        return Reply::ok(QVariant::fromValue(QDBusObjectPath(controlPath(name))));
    if (kLimitNames.contains(name)) {
        const int i = call.arg(0).toInt();
        if (i < 0 || i > 2) return Reply::fail(Failure::BadArguments, QStringLiteral("%1(%2): index is not 0 to 2").arg(name).arg(i));
        return Reply::ok(QVariant::fromValue(QDBusObjectPath(controlPath(QStringLiteral("%1_%2").arg(name).arg(i)))));
    }
    if (name == QLatin1String("CloudTempSet")) {
        cloudTempSet_ = call.arg(0).toDouble();
        model_.setSetting(QStringLiteral("TempFactorON"), cloudTempSet_ != 0.0);
        return Reply::ok();
    }
    return Reply::fail(Failure::UnknownMember, name);
}

Reply NephorSim::numberBox(const QString& key, Call& call)
{
    if (callLog_.size() < 10000) callLog_ << QStringLiteral("MForm.%1.%2").arg(key, call.member->dbusName());
    const QString setting = settingOfControl(key);
    if (call.member->kind == MemberKind::Get) return Reply::ok(model_.setting(setting).toDouble());
    const QVariant old = model_.setting(setting);
    const double v = call.value().toDouble();
    // Integer settings stay integers.
    model_.setSetting(setting, old.metaType().id() == QMetaType::Int ? QVariant(qRound(v)) : QVariant(v));
    return Reply::ok();
}

Reply NephorSim::control(Call& call)
{
    const QString& name = call.member->name;
    QString err;
    if (name == QLatin1String("SetReading")) {
        if (!model_.freeze(call.arg(0).toString(), call.arg(1), &err)) return Reply::fail(Failure::BadArguments, err);
        return Reply::ok();
    }
    if (name == QLatin1String("ReleaseReading")) {
        model_.release(call.arg(0).toString());
        return Reply::ok();
    }
    if (name == QLatin1String("SetLevels")) {
        model_.forceLevels(call.arg(0).toInt(), call.arg(1).toInt(), call.arg(2).toInt());
        return Reply::ok();
    }
    if (name == QLatin1String("SetDeviceRunning")) {
        running_ = call.arg(0).toBool();
        return Reply::ok();
    }
    if (name == QLatin1String("SetXferError")) {
        xferError_ = call.arg(0).toBool();
        return Reply::ok();
    }
    if (name == QLatin1String("SetReadyDelay")) {
        options_.readyDelayMs = call.arg(0).toInt();
        if (options_.readyDelayMs < 0) {
            ready_ = false;
            readyTimer_.stop();
        } else if (running_ && !ready_) {
            if (options_.readyDelayMs == 0) ready_ = true;
            else readyTimer_.start(options_.readyDelayMs);
        }
        return Reply::ok();
    }
    if (name == QLatin1String("SetDataReady")) {
        ready_ = call.arg(0).toBool();
        readyTimer_.stop();
        return Reply::ok();
    }
    if (name == QLatin1String("SetRole")) {
        options_.role = call.arg(0).toString();
        return Reply::ok();
    }
    if (name == QLatin1String("SetVersion")) {
        options_.version = call.arg(0).toString();
        return Reply::ok();
    }
    if (name == QLatin1String("ReadNow")) {
        model_.step(QDateTime::currentDateTime());
        return Reply::ok();
    }
    if (name == QLatin1String("Hang")) {
        const int ms = std::clamp(call.arg(0).toInt(), 0, 60000);
        // Answer first, then stop answering anyone for ms.
        QTimer::singleShot(0, this, [ms] { QThread::msleep(ulong(ms)); });
        return Reply::ok();
    }
    if (name == QLatin1String("Quit")) {
        QTimer::singleShot(0, qApp, &QCoreApplication::quit);
        return Reply::ok();
    }
    if (name == QLatin1String("LastUnsafe")) return Reply::ok(lastUnsafe_);
    if (name == QLatin1String("UnsafeCount")) return Reply::ok(unsafeCount_);
    if (name == QLatin1String("LastSwitch")) return Reply::ok(lastSwitch_);
    if (name == QLatin1String("SwitchCount")) return Reply::ok(switchCount_);
    if (name == QLatin1String("LocalControl")) return Reply::ok(localControl_);
    if (name == QLatin1String("LocalControlLabel")) return Reply::ok(localControlLabel_);
    if (name == QLatin1String("LocalControlCalls")) return Reply::ok(localControlCalls_);
    if (name == QLatin1String("TemperatureUnits")) return Reply::ok(model_.temperatureUnits());
    if (name == QLatin1String("SwitchCtrl")) return Reply::ok(switchCtrl_);
    if (name == QLatin1String("SwitchCtrlCount")) return Reply::ok(switchCtrlCount_);
    if (name == QLatin1String("DeviceStartCount")) return Reply::ok(deviceStartCount_);
    if (name == QLatin1String("AlarmStopCount")) return Reply::ok(alarmStopCount_);
    if (name == QLatin1String("FormValue")) {
        const QString key = call.arg(0).toString();
        if (key == QLatin1String("CloudTempSet")) return Reply::ok(cloudTempSet_);
        // "RainLimit(2)" and "RainLimit_2" both name the control
        QString k = key;
        k.replace(QLatin1Char('('), QLatin1Char('_')).remove(QLatin1Char(')'));
        const QString setting = settingOfControl(k);
        if (setting.isEmpty()) return Reply::fail(Failure::BadArguments, QStringLiteral("no control %1").arg(key));
        return Reply::ok(model_.setting(setting).toDouble());
    }
    if (name == QLatin1String("CallLog")) {
        QVariantList out;
        for (const QString& s : std::as_const(callLog_)) out << s;
        return Reply::ok(out);
    }
    if (name == QLatin1String("ClearCallLog")) {
        callLog_.clear();
        return Reply::ok();
    }
    if (name == QLatin1String("InstanceCount")) return Reply::ok(server_ ? server_->instanceCount() : 0);
    if (name == QLatin1String("Probe")) {
        // Doubles the number, negates the flag, appends "!" to the text, all
        // by reference, and answers the date one day later.
        const QDateTime when = call.arg(3).toDateTime();
        call.args[0] = call.arg(0).toDouble() * 2.0;
        call.args[1] = !call.arg(1).toBool();
        call.args[2] = call.arg(2).toString() + QLatin1Char('!');
        return Reply::ok(when.addDays(1));
    }
    if (name == QLatin1String("Echo")) return Reply::ok(call.arg(0));
    if (name == QLatin1String("Reverse")) {
        QVariantList items = call.arg(0).toList();
        std::reverse(items.begin(), items.end());
        return Reply::ok(items);
    }
    return Reply::fail(Failure::UnknownMember, name);
}

bool NephorSim::runCommand(const QStringList& words, QString* error)
{
    auto fail = [&](const QString& text) {
        if (error) *error = text;
        return false;
    };
    if (words.isEmpty()) return true;
    static const auto spec = controlClass();
    const automation::MemberSpec* m = spec->find(words.first(), MemberKind::Method);
    if (!m) return fail(QStringLiteral("unknown command %1").arg(words.first()));
    QStringList rest = words.mid(1);
    if (rest.size() > m->args.size() && !m->args.isEmpty()) {
        // Extra words belong to the last argument ("SetReading RainHeaterStatus Heater on").
        const QString tail = rest.mid(m->args.size() - 1).join(QLatin1Char(' '));
        rest = rest.mid(0, m->args.size() - 1);
        rest << tail;
    }
    // Trailing text arguments may be left out: they are empty.
    while (rest.size() < m->args.size() && m->args[rest.size()].type == QLatin1String("s")) rest << QString();
    if (rest.size() != m->args.size())
        return fail(QStringLiteral("%1 takes %2 argument(s)").arg(m->name).arg(m->args.size()));
    Call call;
    call.member = m;
    call.path = QString::fromLatin1(kControlPath);
    for (int i = 0; i < rest.size(); ++i) {
        QVariant value = rest[i];
        if (m->args[i].type == QLatin1String("v")) {
            // A word in a variant: a flag, a number or else text.
            bool ok = false;
            const double d = QLocale::c().toDouble(rest[i], &ok);
            if (rest[i].compare(QLatin1String("true"), Qt::CaseInsensitive) == 0) value = true;
            else if (rest[i].compare(QLatin1String("false"), Qt::CaseInsensitive) == 0) value = false;
            else if (ok) value = d;
        }
        QString why;
        const QVariant w = automation::toWire(value, m->args[i].type, m->args[i].date, &why);
        if (!w.isValid()) return fail(QStringLiteral("%1, argument %2: %3").arg(m->name, m->args[i].name, why));
        call.args << automation::fromWire(w, m->args[i].type, m->args[i].date);
    }
    const Reply r = control(call);
    if (!r.isOk()) return fail(r.error);
    return true;
}

bool NephorSim::loadScript(const QString& path, QString* error)
{
    QFile f(path);
    if (!f.open(QIODevice::ReadOnly | QIODevice::Text)) {
        if (error) *error = QStringLiteral("can not read %1: %2").arg(path, f.errorString());
        return false;
    }
    // Lines: <seconds after start> <command> <arguments...>; '#' starts a comment.
    QTextStream in(&f);
    int lineNo = 0;
    while (!in.atEnd()) {
        QString line = in.readLine();
        ++lineNo;
        if (int hash = line.indexOf(QLatin1Char('#')); hash >= 0) line.truncate(hash);
        QStringList words = line.simplified().split(QLatin1Char(' '), Qt::SkipEmptyParts);
        if (words.isEmpty()) continue;
        bool ok = false;
        const double at = QLocale::c().toDouble(words.first(), &ok);
        if (!ok || at < 0 || words.size() < 2) {
            if (error) *error = QStringLiteral("%1:%2: expected <seconds> <command> <arguments>").arg(path).arg(lineNo);
            return false;
        }
        words.removeFirst();
        // Check the command now, so that a bad script fails at start.
        static const auto spec = controlClass();
        if (!spec->find(words.first(), MemberKind::Method)) {
            if (error) *error = QStringLiteral("%1:%2: unknown command %3").arg(path).arg(lineNo).arg(words.first());
            return false;
        }
        QTimer::singleShot(int(at * 1000.0), this, [this, words, path, lineNo] {
            QString err;
            if (!runCommand(words, &err)) qCWarning(lcSim) << path << lineNo << err;
            else qCInfo(lcSim) << "script:" << words.join(QLatin1Char(' '));
        });
    }
    return true;
}

} // namespace skyvane::sensorsim
