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

} // namespace

std::shared_ptr<ClassSpec> NephorSim::nephorClass() { return sensorserve::NephorService::nephorClass(); }
std::shared_ptr<ClassSpec> NephorSim::formClass() { return sensorserve::NephorService::formClass(); }
std::shared_ptr<ClassSpec> NephorSim::numberBoxClass() { return sensorserve::NephorService::numberBoxClass(); }
std::shared_ptr<ClassSpec> NephorSim::controlClass() { return build(kControlInterface, kControlDecl); }

QString NephorSim::introspectionDocument()
{
    return sensorserve::NephorService::introspectionDocument(
        QStringLiteral(
            "The sensor-server stand-in XOB_Nephor_sim, bus name \"XOB_Nephor.Nephor\".\n"
            "     \"/\" is the class factory; every instance it hands out (paths /Instances/I<n>_<run>)\n"
            "     serves the interface XOB_Nephor.Nephor; MForm returns /MForm, whose controls sit\n"
            "     below it; /Control steers the stand-in. Every object also answers\n"
            "     org.freedesktop.DBus.Introspectable."),
        QStringLiteral("  <node name=\"Control\">\n") + controlClass()->interfaceXml(4) + QStringLiteral("  </node>\n"));
}

NephorSim::NephorSim(const QDBusConnection& bus, const Options& options, QObject* parent)
    : QObject(parent), bus_(bus), options_(options), service_(bus, *this)
{
    service_.setServerName(QStringLiteral("the stand-in"));
    readyTimer_.setSingleShot(true);
    connect(&readyTimer_, &QTimer::timeout, this, [this] { ready_ = true; });
    connect(&readTimer_, &QTimer::timeout, this, &NephorSim::takeReading);
    model_.step(QDateTime::currentDateTime());
}

NephorSim::~NephorSim() = default;

bool NephorSim::start(QString* error)
{
    if (!service_.prepare(error)
        || !service_.server()->addObject(QString::fromLatin1(kControlPath), controlClass(), [this](Call& c) { return control(c); }, error)
        || !service_.publish(error))
        return false;
    armReadingTimer();
    return true;
}

void NephorSim::armReadingTimer()
{
    const int seconds = std::clamp(model_.setting(QStringLiteral("ReadCycle")).toInt(), 1, 3600);
    readTimer_.start(seconds * 1000);
}

void NephorSim::takeReading()
{
    if (running_) model_.step(QDateTime::currentDateTime());
}

void NephorSim::setSetting(const QString& name, const QVariant& value)
{
    model_.setSetting(name, value);
    if (name == QLatin1String("ReadCycle")) armReadingTimer();
}

void NephorSim::deviceStart()
{
    running_ = true;
    model_.step(QDateTime::currentDateTime());
    if (ready_ || readyTimer_.isActive()) return;
    if (options_.readyDelayMs == 0) ready_ = true;
    else if (options_.readyDelayMs > 0) readyTimer_.start(options_.readyDelayMs);
}

Reply NephorSim::control(Call& call)
{
    const QString& name = call.member->name;
    const sensorserve::Received& got = service_.received();
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
    if (name == QLatin1String("LastUnsafe")) return Reply::ok(got.lastUnsafe);
    if (name == QLatin1String("UnsafeCount")) return Reply::ok(got.unsafeCount);
    if (name == QLatin1String("LastSwitch")) return Reply::ok(got.lastSwitch);
    if (name == QLatin1String("SwitchCount")) return Reply::ok(got.switchCount);
    if (name == QLatin1String("LocalControl")) return Reply::ok(got.localControl);
    if (name == QLatin1String("LocalControlLabel")) return Reply::ok(got.localControlLabel);
    if (name == QLatin1String("LocalControlCalls")) return Reply::ok(got.localControlCalls);
    if (name == QLatin1String("TemperatureUnits")) return Reply::ok(model_.temperatureUnits());
    if (name == QLatin1String("SwitchCtrl")) return Reply::ok(got.switchCtrl);
    if (name == QLatin1String("SwitchCtrlCount")) return Reply::ok(got.switchCtrlCount);
    if (name == QLatin1String("DeviceStartCount")) return Reply::ok(got.deviceStartCount);
    if (name == QLatin1String("AlarmStopCount")) return Reply::ok(got.alarmStopCount);
    if (name == QLatin1String("FormValue")) {
        const QString key = call.arg(0).toString();
        if (key == QLatin1String("CloudTempSet")) return Reply::ok(got.cloudTempSet);
        // "RainLimit(2)" and "RainLimit_2" both name the control
        QString k = key;
        k.replace(QLatin1Char('('), QLatin1Char('_')).remove(QLatin1Char(')'));
        const QString setting = sensorserve::NephorService::settingOfControl(k);
        if (setting.isEmpty()) return Reply::fail(Failure::BadArguments, QStringLiteral("no control %1").arg(key));
        return Reply::ok(model_.setting(setting).toDouble());
    }
    if (name == QLatin1String("CallLog")) {
        QVariantList out;
        for (const QString& s : got.callLog) out << s;
        return Reply::ok(out);
    }
    if (name == QLatin1String("ClearCallLog")) {
        service_.clearCallLog();
        return Reply::ok();
    }
    if (name == QLatin1String("InstanceCount")) return Reply::ok(service_.server() ? service_.server()->instanceCount() : 0);
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
