#include "NephorServer.h"

#include "Colours.h"
#include "ConditionSettings.h"
#include "Levels.h"
#include "MonitorApi.h"
#include "Safety.h"
#include "ThresholdRules.h"
#include "Units.h"

#include <QDBusObjectPath>
#include <QLoggingCategory>
#include <cmath>
#include <limits>

Q_LOGGING_CATEGORY(lcNephor, "skyvane.automation.nephor", QtWarningMsg)

namespace skyvane::nephor {

using automation::Call;
using automation::Failure;
using automation::MemberKind;
using automation::Reply;
using conditions::Quantity;

namespace {

const QString kSensorName = QStringLiteral("XOB_Nephor");

// Whole number the way an automation caller rounds (half to even), held to
// the int32 range.
qint32 roundInt32(double v)
{
    if (std::isnan(v)) return 0;
    const double r = std::nearbyint(v); // the default rounding mode is half to even
    if (r >= double(std::numeric_limits<qint32>::max())) return std::numeric_limits<qint32>::max();
    if (r <= double(std::numeric_limits<qint32>::min())) return std::numeric_limits<qint32>::min();
    return qint32(r);
}

QVariant zeroOf(const QString& type)
{
    if (type == QLatin1String("i")) return qint32(0);
    if (type == QLatin1String("d")) return 0.0;
    if (type == QLatin1String("b")) return false;
    return QString();
}

Reply badValue(const Call& c, const QString& what)
{
    return Reply::fail(Failure::BadArguments, QStringLiteral("%1: %2").arg(c.member->dbusName(), what));
}

// A check box value as a client sets it: 0 or 1.
std::optional<bool> checkBoxValue(const QVariant& v)
{
    const qint32 i = v.toInt();
    if (i == 0) return false;
    if (i == 1) return true;
    return std::nullopt;
}

struct LevelMember {
    Quantity q;
    int index;
};

} // namespace

NephorServer::NephorServer(MonitorApi& core, const QDBusConnection& bus, QObject* parent)
    : QObject(parent), core_(core), bus_(bus)
{
    buildHandlers();
    server_ = std::make_unique<automation::AutomationServer>(bus_, QString::fromLatin1(kProgId), nephorClass(),
                                                             [this](Call& c) { return invoke(c); });
    server_->setOnCreated([this](int id) {
        qCDebug(lcNephor) << "client attached, instance" << id << server_->instanceOwner(id);
        core_.registerUsers(1);
    });
    server_->setOnReleased([this](int id) {
        qCDebug(lcNephor) << "client detached, instance" << id;
        core_.registerUsers(-1);
    });
    server_->setOnClientGone([this](const QString& client) { clientGone(client); });
}

void NephorServer::clientGone(const QString& client)
{
    // Control ends with the client that took it: a program that crashed can
    // not give it back, and nobody else would ever decide the flag again.
    if (client.isEmpty() || client != controlOwner_) return;
    controlOwner_.clear();
    if (core_.hasControlFlag()) {
        qCDebug(lcNephor) << "the client that had control left:" << client;
        core_.hasControl(false, QString());
    }
}

NephorServer::~NephorServer() = default;

void NephorServer::setHooks(NephorHooks hooks) { hooks_ = std::move(hooks); }

bool NephorServer::publish(QString* error)
{
    if (server_->isPublished()) return true;
    if (!objectsAdded_) {
        objectsAdded_ = server_->addObject(QString::fromLatin1(kFormPath), formClass(), [this](Call& c) { return form(c); }, error)
            && server_->addObject(QStringLiteral("/IObjectSafety"), objectSafetyClass(),
                                  [this](Call& c) { return objectSafety(c); }, error);
        if (!objectsAdded_) return false;
    }
    // Fails while another program owns the name; it may be tried again later.
    return server_->publish(error);
}

bool NephorServer::isPublished() const { return server_->isPublished(); }

int NephorServer::instanceCount() const { return server_->instanceCount(); }

QStringList NephorServer::unhandledMembers() const { return handlers_.missing(*nephorClass()); }

// ---- the call path ------------------------------------------------------------

Reply NephorServer::checkInput(const Call& c) const
{
    for (int i = 0; i < c.member->args.size() && i < c.args.size(); ++i) {
        if (c.member->args[i].type == QLatin1String("s") && c.args[i].toString().size() > kMaxTextLength)
            return badValue(c, QStringLiteral("the text of %1 is longer than %2 characters")
                                   .arg(c.member->args[i].name)
                                   .arg(kMaxTextLength));
    }
    return Reply::ok();
}

void NephorServer::signalActivity(bool showPeriod) { core_.clientCalled(colour::ClientActivity, showPeriod); }

Reply NephorServer::invoke(Call& c)
{
    if (!c.member) return Reply::fail(Failure::UnknownMember, QStringLiteral("no member"));
    if (Reply r = checkInput(c); !r.isOk()) return r;
    const MemberTraits& t = traitsOf(*c.member);
    if (t.guarded && !core_.isRunning()) {
        // Nothing reaches the sensor server while monitoring is stopped.
        return c.member->kind == MemberKind::Let ? Reply::ok() : Reply::ok(zeroOf(c.member->result));
    }
    switch (t.activity) {
    case Activity::Signal: signalActivity(false); break;
    case Activity::SignalWithPeriod: signalActivity(true); break;
    case Activity::Quiet:
    case Activity::ThroughReadCycle: break;
    }
    return handlers_(c);
}

// ---- the sensor server ---------------------------------------------------------

automation::LateBoundObject* NephorServer::sensorObject() const { return core_.sensorObject(); }

namespace {
// Shortens the sensor object's timeout for one forwarded call.
struct ShortTimeout {
    automation::LateBoundObject* o;
    int saved;
    explicit ShortTimeout(automation::LateBoundObject* obj) : o(obj), saved(obj->timeout())
    {
        o->setTimeout(std::min(saved, kForwardTimeoutMs));
    }
    ~ShortTimeout() { o->setTimeout(saved); }
};

Reply sensorFailure(const QString& member, const automation::CallResult& r)
{
    QString why;
    switch (r.failure) {
    case Failure::Timeout: why = QStringLiteral("no answer in time"); break;
    case Failure::Suspended: why = QStringLiteral("not answering (calls resume with the next read cycle)"); break;
    case Failure::NoServer: why = QStringLiteral("the program has gone"); break;
    default: why = r.error; break;
    }
    return Reply::fail(Failure::ServerError, QStringLiteral("%1.%2 failed: %3").arg(kSensorName, member, why));
}

Reply noSensor(const QString& member)
{
    return Reply::fail(Failure::ServerError,
                       QStringLiteral("%1.%2: %1 is not connected (monitoring is not running)").arg(kSensorName, member));
}
} // namespace

Reply NephorServer::forward(Call& c, MemberKind kind, const QString& member, QVariantList args, Then then)
{
    if (!then) then = [](Reply r, const QVariantList&, QVariantList&) { return r; };
    auto* o = sensorObject();
    if (!o) return then(noSensor(member), args, c.args);
    automation::Responder responder = c.defer();
    ShortTimeout t(o);
    if (!responder.isValid()) {
        // A call made inside this program (not through the bus) is answered
        // at once.
        automation::CallResult r;
        if (kind == MemberKind::Get) r = o->get(member, args);
        else if (kind == MemberKind::Let) r = o->let(member, args.takeLast(), args);
        else r = o->call(member, args);
        return then(r.ok() ? Reply::ok(r.value) : sensorFailure(member, r), args, c.args);
    }
    // The client waits; the monitor does not: other calls and the read cycle
    // go on while the sensor server answers. Should the sensor object go
    // first (Stop), the dropped responder answers with an error.
    auto done = [responder, member, then](const automation::CallResult& r, const QVariantList& out) mutable {
        QVariantList& clientArgs = responder.args();
        responder.reply(then(r.ok() ? Reply::ok(r.value) : sensorFailure(member, r), out, clientArgs));
    };
    if (kind == MemberKind::Get) {
        o->getAsync(member, done, args);
    } else if (kind == MemberKind::Let) {
        const QVariant value = args.takeLast();
        o->letAsync(member, value, done, args);
    } else {
        o->callAsync(member, args, done);
    }
    return Reply::deferred();
}

Reply NephorServer::sensorFormCall(const QString& member, QVariantList& args)
{
    auto* o = sensorObject();
    if (!o) return noSensor(QStringLiteral("MForm"));
    ShortTimeout t(o);
    const automation::CallResult f = o->call(QStringLiteral("MForm"));
    if (!f.ok()) return sensorFailure(QStringLiteral("MForm"), f);
    auto form = o->objectAt(f.value.value<QDBusObjectPath>().path());
    if (!form) return noSensor(QStringLiteral("MForm"));
    const automation::CallResult r = form->call(member, args);
    if (!r.ok()) return sensorFailure(QStringLiteral("MForm.") + member, r);
    return Reply::ok(r.value);
}

Reply NephorServer::writeSensorFormControl(const QString& control, std::optional<int> index, const QVariant& value)
{
    auto* o = sensorObject();
    if (!o) return noSensor(QStringLiteral("MForm"));
    ShortTimeout t(o);
    const QString what = index ? QStringLiteral("MForm.%1(%2).Value").arg(control).arg(*index)
                               : QStringLiteral("MForm.%1.Value").arg(control);
    const automation::CallResult f = o->call(QStringLiteral("MForm"));
    if (!f.ok()) return sensorFailure(what, f);
    auto form = o->objectAt(f.value.value<QDBusObjectPath>().path());
    if (!form) return noSensor(what);
    form->setTimeout(o->timeout());
    const automation::CallResult c = index ? form->get(control, {*index}) : form->get(control);
    if (!c.ok()) return sensorFailure(what, c);
    auto box = form->objectAt(c.value.value<QDBusObjectPath>().path());
    if (!box) return noSensor(what);
    box->setTimeout(o->timeout());
    const automation::CallResult w = box->let(QStringLiteral("Value"), value);
    if (!w.ok()) return sensorFailure(what, w);
    return Reply::ok();
}

// ---- state the class reads ----------------------------------------------------

bool NephorServer::unsafeFlag() const { return core_.reportedUnsafe(); }

Reply NephorServer::notAvailable(const Call& c)
{
    return Reply::fail(Failure::ServerError,
                       QStringLiteral("%1 is not available in this version of XOB_Skyvane").arg(c.member->name));
}

Reply NephorServer::setUnsafe(Call& c, bool unsafe)
{
    // Only a client that took control decides the flag.
    if (!core_.hasControlFlag()) return Reply::ok();
    core_.setUnsafeByClient(unsafe);
    if (!sensorObject()) return Reply::ok();
    return forward(c, MemberKind::Method, QStringLiteral("SetUnSafe"), {unsafe},
                   [](Reply r, const QVariantList&, QVariantList&) { return r.isOk() ? Reply::ok() : r; });
}

Reply NephorServer::deviceStart(Call& c)
{
    if (core_.isRunning()) return Reply::ok(QVariant());
    // The start waits for the sensor server's first data (up to NPTimeout):
    // the client gets its answer when the start has ended, and the monitor
    // serves other calls meanwhile.
    automation::Responder r = c.defer();
    if (!r.isValid()) {
        core_.deviceStart();
        return Reply::ok(QVariant());
    }
    auto link = std::make_shared<QMetaObject::Connection>();
    *link = connect(&core_, &MonitorApi::startFinished, this, [r, link](bool running) mutable {
        QObject::disconnect(*link);
        if (running) r.reply(Reply::ok(QVariant()));
        else r.reply(Reply::fail(Failure::ServerError, QStringLiteral("Device_Start: cannot read %1, monitoring did not start").arg(kSensorName)));
    });
    core_.deviceStart();
    return Reply::deferred();
}

HistoryView NephorServer::history() const
{
    if (hooks_.history) return hooks_.history();
    HistoryView h;
    for (int row = 0; row <= 7; ++row) h.samples << QVariant(QVariantList{QVariant()});
    return h;
}

double NephorServer::graphFreq() const { return hooks_.graphFreq ? hooks_.graphFreq() : 6.0; }

QPoint NephorServer::windowPosition() const { return hooks_.windowPosition ? hooks_.windowPosition() : position_; }

Reply NephorServer::dataDisplayed(const QString& info, const QString& refIn) const
{
    const QString ref = refIn.toLower();
    struct Row {
        const char* key;
        Quantity q;
        const LabelState* value;
        int unit; // 0 temperature, 1 speed, 2 fixed suffix
        const char* suffix;
    };
    const MainState& s = core_.state();
    const Row rows[] = {
        {"cloud", Quantity::Cloud, &s.valCloud, 0, nullptr},
        {"rain", Quantity::Rain, &s.valRain, 2, " cycles"},
        {"wind", Quantity::Wind, &s.valWind, 1, nullptr},
        {"gust", Quantity::Gust, &s.valGust, 1, nullptr},
        {"dew", Quantity::DewPoint, &s.valDewPoint, 0, nullptr},
        {"humididty", Quantity::Humidity, &s.valHumidity, 2, " %"},
        {"temperature", Quantity::Temperature, &s.valTemperature, 0, nullptr},
        {"brightnesss", Quantity::Brightness, &s.valBrightness, 2, " K"},
    };
    const Row* row = nullptr;
    for (const Row& r : rows) {
        if (ref == QLatin1String(r.key)) row = &r;
    }
    const bool desc = info == QLatin1String("desc"), value = info == QLatin1String("value"),
               color = info == QLatin1String("color");
    if (!desc && !value && !color) return Reply::ok(QString());
    if (!row) {
        if (color) return Reply::ok(colourToHtml(16777088));
        return Reply::ok(QStringLiteral("n/a"));
    }
    const LabelState& cond = s.cond[size_t(row->q)];
    if (desc) return Reply::ok(cond.text);
    if (color) return Reply::ok(colourToHtml(cond.colour));
    // The station's value labels carry their own unit after a blank
    // ("12.5 km/h"); the answer names the unit once, as the monitor shows it.
    const QString number = row->value->text.section(QLatin1Char(' '), 0, 0, QString::SectionSkipEmpty);
    const auto& units = core_.conditionsConfig().units;
    switch (row->unit) {
    case 0: return Reply::ok(number + QLatin1Char(' ') + conditions::unitText(units.temperature));
    case 1: return Reply::ok(number + QLatin1Char(' ') + conditions::unitText(units.speed));
    default: return Reply::ok(number + QLatin1String(row->suffix));
    }
}

// ---- the handlers -----------------------------------------------------------------

void NephorServer::buildHandlers()
{
    auto& h = handlers_;
    auto& core = core_;

    // 1. Safe delay and history
    h.onGet("XOB_SafeDelayValue", [&core](Call&) {
        return Reply::ok(roundInt32(core.conditionsConfig().safety.safeDelaySeconds));
    });
    h.onLet("XOB_SafeDelayValue", [&core](Call& c) {
        const double seconds = double(c.value().toInt());
        core.editConditions([seconds](conditions::ConditionsConfig& cc) { cc.safety.safeDelaySeconds = seconds; });
        return Reply::ok();
    });
    h.onGet("XOB_SafeDelayMsg", [&core](Call&) {
        const MainState& s = core.state();
        QString m = s.safeDelayMsg.text.trimmed();
        if (const QString ws = s.wsAlarmMsg.text.trimmed(); !ws.isEmpty()) m += QStringLiteral(" / ") + ws;
        if (const QString np = s.npAlarmMsg.text.trimmed(); !np.isEmpty()) m += QStringLiteral(" / ") + np;
        return Reply::ok(m);
    });
    h.onGet("XOB_SafeDelayWait", [&core](Call&) { return Reply::ok(core.safeDelayRemaining()); });
    for (const char* name : {"XOB_GraphArrayFirstElem", "XOB_GraphArrayLastElem"}) {
        const bool first = QLatin1String(name).endsWith(QLatin1String("FirstElem"));
        h.onMethod(QLatin1String(name), [this, name, first](Call& c) {
            const qint32 graph = c.arg(0).toInt();
            if (graph >= 1 && graph <= 4) return forward(c, MemberKind::Method, QLatin1String(name), {graph});
            if (!hooks_.history) return notAvailable(c);
            const HistoryView v = history();
            return Reply::ok(first ? v.first : v.last);
        });
    }
    for (const char* name : {"XOB_GraphArrayCloud", "XOB_GraphArrayRain", "XOB_GraphArrayDay", "XOB_GraphArrayTemp"}) {
        h.onMethod(QLatin1String(name), [this, name](Call& c) { return forward(c, MemberKind::Method, QLatin1String(name), {}); });
    }
    h.onMethod("XOB_GraphArray", [this](Call& c) {
        if (!hooks_.history) return notAvailable(c);
        return Reply::ok(QVariant(history().samples));
    });
    h.onMethod("MForm", [](Call&) { return Reply::ok(QVariant::fromValue(QDBusObjectPath(QLatin1String(kFormPath)))); });

    // 2. Commands and switch control
    h.onMethod("XOB_AlarmStart", [&core](Call& c) {
        core.alarmStart(c.arg(0).toString());
        return Reply::ok();
    });
    h.onMethod("XOB_AlarmStop", [&core](Call&) {
        core.alarmStop();
        return Reply::ok();
    });
    h.onGet("XOB_CloudAlarmDelay", [this](Call& c) {
        // Any failure reads as 0.
        return forward(c, MemberKind::Get, QStringLiteral("XOB_CloudAlarmDelay"), {},
                       [](Reply r, const QVariantList&, QVariantList&) {
                           bool ok = false;
                           const qint32 v = r.isOk() ? automation::toInt32(r.value, &ok) : 0;
                           return Reply::ok(ok ? v : 0);
                       });
    });
    h.onLet("XOB_CloudAlarmDelay", [this, &core](Call& c) {
        const qint32 v = c.value().toInt();
        // Sent on without waiting; its failure is ignored.
        if (auto* o = sensorObject()) o->letAsync(QStringLiteral("XOB_CloudAlarmDelay"), v);
        core.setCloudAlarmDelay(v);
        return Reply::ok();
    });
    h.onGet("XOB_DeviceRole", [this](Call& c) { return forward(c, MemberKind::Get, QStringLiteral("XOB_DeviceRole"), {}); });
    h.onGet("XOB_DeviceSwitchCtrl", [&core](Call&) { return Reply::ok(core.config().swRole == 0); });
    h.onLet("XOB_DeviceSwitchCtrl", [this, &core](Call& c) {
        const bool on = c.value().toBool();
        return forward(c, MemberKind::Get, QStringLiteral("XOB_DeviceRole"), {},
                       [&core, on](Reply role, const QVariantList&, QVariantList&) {
            if (!role.isOk()) return role;
            if (role.value.toString() != QLatin1String("MASTER")) return Reply::ok();
            // True selects "Enabled" (this program drives the switch), the
            // option the get reports as true.
            core.setSwitchRole(on ? 0 : 1);
            return Reply::ok();
        });
    });
    h.onMethod("XOB_LocalControl", [this, &core](Call& c) {
        const bool take = c.arg(0).toBool();
        // Remember who holds control, so that it ends when that client goes.
        if (take) controlOwner_ = c.sender;
        else controlOwner_.clear();
        core.hasControl(take, c.arg(1).toString());
        return Reply::ok();
    });
    h.onMethod("XOB_SetSwitch", [&core](Call& c) {
        core.setSwitch(c.arg(0).toInt());
        return Reply::ok();
    });
    h.onGet("XOB_SpeedUnits", [&core](Call&) { return Reply::ok(conditions::unitCode(core.conditionsConfig().units.speed)); });
    h.onLet("XOB_SpeedUnits", [&core](Call& c) {
        // An exact code selects its option; anything else is ignored.
        const auto u = conditions::speedUnitFromCode(c.value().toString());
        if (u && *u != core.conditionsConfig().units.speed) core.selectSpeedUnit(*u);
        return Reply::ok();
    });
    h.onGet("XOB_TemperatureUnits", [&core](Call&) {
        return Reply::ok(conditions::unitCode(core.conditionsConfig().units.temperature));
    });
    h.onLet("XOB_TemperatureUnits", [&core](Call& c) {
        const auto u = conditions::temperatureUnitFromCode(c.value().toString());
        if (u && *u != core.conditionsConfig().units.temperature) core.selectTemperatureUnit(*u);
        return Reply::ok();
    });
    h.onMethod("XOB_XFERFileErr", [this](Call& c) { return forward(c, MemberKind::Get, QStringLiteral("XFERFileErr"), {}); });
    // Without a user data file there is nothing to record: say so rather
    // than let a client believe it records.
    h.onMethod("RecordStart", [this](Call& c) {
        if (!hooks_.recordStart) return notAvailable(c);
        const QString why = hooks_.recordStart(c.arg(0).toBool());
        if (!why.isEmpty()) return Reply::fail(Failure::ServerError, QStringLiteral("RecordStart: ") + why);
        return Reply::ok();
    });
    h.onMethod("RecordStop", [this](Call& c) {
        if (!hooks_.recordStop) return notAvailable(c);
        hooks_.recordStop();
        return Reply::ok();
    });
    h.onMethod("SetUnSafe", [this](Call& c) { return setUnsafe(c, c.arg(0).toBool()); });
    h.onMethod("DeviceIsRunning", [&core](Call&) {
        return Reply::ok(core.sensorConnected() && core.readings().deviceRunning);
    });
    h.onMethod("WindowNormal", [this, &core](Call&) {
        if (hooks_.windowNormal) hooks_.windowNormal();
        else core.setMinimized(false);
        return Reply::ok();
    });
    h.onMethod("WindowMinimize", [this, &core](Call&) {
        if (hooks_.windowMinimize) hooks_.windowMinimize();
        else core.setMinimized(true);
        return Reply::ok();
    });
    for (const bool left : {true, false}) {
        const QString name = left ? QStringLiteral("WindowLeft") : QStringLiteral("WindowTop");
        h.onGet(name, [this, left](Call&) {
            const QPoint p = windowPosition();
            return Reply::ok(left ? p.x() : p.y());
        });
        h.onLet(name, [this, left](Call& c) {
            QPoint p = windowPosition();
            (left ? p.rx() : p.ry()) = c.value().toInt();
            if (hooks_.moveWindow) hooks_.moveWindow(p);
            else position_ = p;
            return Reply::ok();
        });
    }
    h.onMethod("BlinkLEDCOM", [](Call&) { return Reply::ok(); }); // the activity signal is all it does
    h.onMethod("Device_Start", [this](Call& c) { return deviceStart(c); });
    h.onMethod("Device_Stop", [&core](Call&) {
        core.deviceStop();
        return Reply::ok(QVariant());
    });
    h.onMethod("XOB_DeviceStop", [&core](Call&) {
        // Only the one client there is may stop the device.
        if (core.state().clients == 1) core.deviceStop();
        return Reply::ok();
    });
    h.onMethod("LastReading", [&core](Call&) {
        const QDateTime t = core.readings().lastReading;
        return Reply::ok(t.isValid() ? QVariant(t) : QVariant(0.0));
    });
    h.onMethod("XOB_TotalNoUsers", [&core](Call&) { return Reply::ok(core.state().clients); });
    h.onGet("Name", [](Call&) { return Reply::ok(QStringLiteral("XOB_Skyvane")); });
    h.onGet("Version", [](Call&) { return Reply::ok(versionDigits()); });
    h.onGet("VersionNP", [this](Call& c) {
        if (!sensorObject()) return Reply::ok(QStringLiteral("0.00.000"));
        return forward(c, MemberKind::Get, QStringLiteral("Version"), {});
    });

    addValues();
    addForwardedSettings();
    addLocalLevels();
    addAlarmsAndMarks();

    // 7. Remaining members
    h.onGet("AlarmSuspendSound", [&core](Call&) { return Reply::ok(core.conditionsConfig().alarms.suspendSound ? 1 : 0); });
    h.onLet("AlarmSuspendSound", [&core](Call& c) {
        const auto on = checkBoxValue(c.value());
        if (!on) return badValue(c, QStringLiteral("a check box is 0 (off) or 1 (on)"));
        if (*on != core.conditionsConfig().alarms.suspendSound) core.setSuspendSoundAlarm(*on);
        return Reply::ok();
    });
    h.onGet("ReadCycle", [&core](Call&) {
        const int item = std::clamp(core.config().refreshRead, 0, int(kRefreshReadItems.size()) - 1);
        return Reply::ok(leadingInt(kRefreshReadItems[size_t(item)]));
    });
    h.onLet("ReadCycle", [&core](Call& c) {
        core.setReadPeriodItem(readCycleItem(c.value().toInt()));
        return Reply::ok();
    });
    h.onMethod("GetGraphCycle", [this](Call& c) {
        if (c.arg(0).toInt() != 0) {
            // This program's ReadCycle, which counts as activity itself.
            Call read;
            read.member = nephorClass()->find(QStringLiteral("ReadCycle"), MemberKind::Get);
            read.path = c.path;
            read.instance = c.instance;
            read.sender = c.sender;
            return invoke(read);
        }
        return forward(c, MemberKind::Get, QStringLiteral("ReadCycle"), {});
    });
    h.onMethod("GetGraphFreq", [this](Call& c) {
        if (c.arg(0).toInt() != 0) {
            if (!hooks_.graphFreq) return notAvailable(c);
            return Reply::ok(roundInt32(graphFreq()));
        }
        return forward(c, MemberKind::Method, QStringLiteral("GetGraphFreq"), {qint32(0)});
    });
    h.onMethod("XOB_DataDisplayed", [this](Call& c) { return dataDisplayed(c.arg(0).toString(), c.arg(1).toString()); });
}

void NephorServer::addValues()
{
    auto& h = handlers_;
    auto& core = core_;
    h.onMethod("AmbientTemperature", [&core](Call&) {
        return Reply::ok(conditions::captionNumber(core.state().valTemperature.text).value_or(0.0));
    });
    const std::pair<const char*, Quantity> levels[] = {
        {"Condition_Brightness", Quantity::Brightness}, {"Condition_Cloud", Quantity::Cloud},
        {"Condition_DewCond", Quantity::DewPoint},      {"Condition_Gust", Quantity::Gust},
        {"Condition_HumCond", Quantity::Humidity},      {"Condition_Rain", Quantity::Rain},
        {"Condition_Temp", Quantity::Temperature},      {"Condition_Wind", Quantity::Wind},
    };
    for (const auto& [name, q] : levels) {
        const Quantity quantity = q;
        h.onMethod(QLatin1String(name), [&core, quantity](Call&) {
            return Reply::ok(conditions::toInt(core.board().level(quantity)));
        });
    }
    h.onMethod("Condition_Sky", [&core](Call&) {
        return Reply::ok(skyCondition(conditions::toInt(core.board().level(Quantity::Cloud)),
                                      conditions::toInt(core.board().level(Quantity::Rain))));
    });
    h.onMethod("Condition_WetF", [&core](Call&) { return Reply::ok(wetFlag(conditions::toInt(core.board().level(Quantity::Rain)))); });
    h.onMethod("DataReady", [&core](Call&) { return Reply::ok(core.dataReady()); });

    // Sensor readings of the last cycle.
    const std::pair<const char*, double SensorReadings::*> sensorValues[] = {
        {"BrightnessValue", &SensorReadings::brightnessValue},
        {"RainHeaterPercent", &SensorReadings::rainHeaterPercent},
        {"RainHeaterTemperature", &SensorReadings::rainHeaterTemperature},
        {"RainValue", &SensorReadings::rainValue},
        {"SkySensorTemperature", &SensorReadings::skySensorTemperature},
        {"SkyTemperature", &SensorReadings::skyTemperature},
    };
    for (const auto& [name, field] : sensorValues) {
        const auto f = field;
        h.onMethod(QLatin1String(name), [&core, f](Call&) { return Reply::ok(core.readings().*f); });
    }
    // Weather-station values of the last cycle.
    const std::pair<const char*, station::Reading station::StationValues::*> stationValues[] = {
        {"DewPointTemp", &station::StationValues::dewPoint},
        {"GustValue", &station::StationValues::gust},
        {"HumidityRelative", &station::StationValues::humidity},
        {"TemperatureAmb", &station::StationValues::outTemp},
        {"WindDir", &station::StationValues::windDirection},
        {"WindValue", &station::StationValues::windSpeed},
        {"BarometricPressure", &station::StationValues::barometer},
    };
    // A quantity the file does not hold now (missing, cut, not a number, no
    // current data) has no value: NaN, never 0 or an old reading.
    for (const auto& [name, field] : stationValues) {
        const auto f = field;
        h.onMethod(QLatin1String(name), [&core, f](Call&) {
            const station::Reading& r = core.station().values.*f;
            return Reply::ok(r.ok ? r.value : std::numeric_limits<double>::quiet_NaN());
        });
    }
    h.onMethod("GraphFreq", [this](Call& c) {
        if (!hooks_.graphFreq) return notAvailable(c);
        return Reply::ok(roundInt32(graphFreq()));
    });
    for (const char* name : {"GraphTemperatureMax", "GraphTemperatureMin"}) {
        h.onMethod(QLatin1String(name), [this, name](Call& c) {
            if (c.arg(0).toInt() != 0) return Reply::ok(qint32(0));
            return forward(c, MemberKind::Method, QLatin1String(name), {qint32(0)},
                           [](Reply r, const QVariantList& out, QVariantList& clientArgs) {
                               if (r.isOk() && !out.isEmpty() && !clientArgs.isEmpty()) clientArgs[0] = out[0];
                               return r;
                           });
        });
    }
    h.onMethod("Safe", [this](Call&) { return Reply::ok(!unsafeFlag()); });
    h.onMethod("SecondsSinceGoodData", [&core](Call&) { return Reply::ok(core.secondsSinceGoodData()); });
    h.onMethod("SwitchStatus", [&core](Call&) { return Reply::ok(roundInt32(core.switchValue())); });
    h.onGet("UnitTemp", [&core](Call&) { return Reply::ok(conditions::unitText(core.conditionsConfig().units.temperature)); });
    h.onGet("UnitSpeed", [&core](Call&) { return Reply::ok(conditions::unitText(core.conditionsConfig().units.speed)); });
    h.onMethod("UnitsBarometricPressure", [&core](Call&) {
        return Reply::ok(core.state().wsValue[station::FieldBarometerUnit]);
    });
}

void NephorServer::addForwardedSettings()
{
    // Settings of the sensor server: every guarded, forwarded property of the
    // table that has no handler of its own.
    for (const Slot& s : nephorSlots()) {
        if (!s.traits.guarded || !s.traits.forwarded() || s.spec.kind == MemberKind::Method) continue;
        if (s.spec.name == QLatin1String("XOB_DeviceRole") || s.spec.name == QLatin1String("XOB_DeviceSwitchCtrl")) continue;
        const QString name = s.spec.name;
        if (s.spec.kind == MemberKind::Get) {
            handlers_.onGet(name, [this, name](Call& c) { return forward(c, MemberKind::Get, name, {}); });
            continue;
        }
        const QString type = s.spec.args.last().type;
        handlers_.onLet(name, [this, name, type](Call& c) {
            const QVariant v = c.value();
            // The sensor server's settings get what the monitor's own would
            // accept: finite numbers, colours of 24 bits.
            if (type == QLatin1String("d") && !std::isfinite(v.toDouble()))
                return badValue(c, QStringLiteral("not a finite number"));
            if (name.startsWith(QLatin1String("Color")) && (v.toInt() < 0 || v.toInt() > 0xFFFFFF))
                return badValue(c, QStringLiteral("a colour is 0 to 16777215 (blue * 65536 + green * 256 + red)"));
            return forward(c, MemberKind::Let, name, {v}, [this, name, v](Reply r, const QVariantList&, QVariantList&) {
                if (!r.isOk()) return r;
                // The sensor server's window keeps a copy of five settings in
                // its own controls; they are set to the same value. (Rare
                // settings changes: these few calls go the plain way.)
                if (name == QLatin1String("ThreshRainRain")) return writeSensorFormControl(QStringLiteral("UnknowRainLT"), {}, v);
                if (name == QLatin1String("RainUnknowConditionValue")) return writeSensorFormControl(QStringLiteral("RainLimit"), 2, v);
                if (name == QLatin1String("ThreshTempVCloudy")) return writeSensorFormControl(QStringLiteral("UnknowCloudGT"), {}, v);
                if (name == QLatin1String("CloudUnknowConditionValue")) return writeSensorFormControl(QStringLiteral("CloudLimit"), 2, v);
                if (name == QLatin1String("TempFactorON")) {
                    QVariantList args{v};
                    const Reply f = sensorFormCall(QStringLiteral("CloudTempSet"), args);
                    return f.isOk() ? Reply::ok() : f;
                }
                return Reply::ok();
            });
        });
    }
}

void NephorServer::addLocalLevels()
{
    enum Prop { Field, Back, Caption, Sector };
    struct Group {
        const char* names[3];
        Quantity q;
        Prop prop;
    };
    static const Group groups[] = {
        {{"ThreshWindCalm", "ThreshWindWindy", "ThreshWindVWindy"}, Quantity::Wind, Field},
        {{"ThreshGustCalm", "ThreshGustWindy", "ThreshGustVWindy"}, Quantity::Gust, Field},
        {{"ThreshDewCondensation", "ThreshDewHumid", "ThreshDewFine"}, Quantity::DewPoint, Field},
        {{"ThreshHumFine", "ThreshHumHumid", "ThreshHumVHumid"}, Quantity::Humidity, Field},
        {{"ThreshTAmbCold", "ThreshTAmbFine", "ThreshTAmbHot"}, Quantity::Temperature, Field},
        {{"ColorWindCalm", "ColorWindWindy", "ColorWindVWindy"}, Quantity::Wind, Back},
        {{"ColorGustCalm", "ColorGustWindy", "ColorGustVWindy"}, Quantity::Gust, Back},
        {{"ColorDewCondensation", "ColorDewHumid", "ColorDewFine"}, Quantity::DewPoint, Back},
        {{"ColorHumFine", "ColorHumHumid", "ColorHumVHumid"}, Quantity::Humidity, Back},
        {{"ColorTempCold", "ColorTempFine", "ColorTempHot"}, Quantity::Temperature, Back},
        {{"DescWindCalm", "DescWindWindy", "DescWindVWindy"}, Quantity::Wind, Caption},
        {{"DescGustCalm", "DescGustWindy", "DescGustVWindy"}, Quantity::Gust, Caption},
        {{"DescDewCondensation", "DescDewHumid", "DescDewFine"}, Quantity::DewPoint, Caption},
        {{"DescHumFine", "DescHumHumid", "DescHumVHumid"}, Quantity::Humidity, Caption},
        {{"DescTempCold", "DescTempFine", "DescTempHot"}, Quantity::Temperature, Caption},
        {{"DescDirWindCalm", "DescDirWindWindy", "DescDirWindVWindy"}, Quantity::Wind, Sector},
        {{"DescDirGustCalm", "DescDirGustWindy", "DescDirGustVWindy"}, Quantity::Gust, Sector},
    };
    auto& core = core_;
    for (const Group& g : groups) {
        for (int i = 0; i < 3; ++i) {
            const QString name = QLatin1String(g.names[i]);
            const Quantity q = g.q;
            switch (g.prop) {
            case Field:
                handlers_.onGet(name, [&core, q, i](Call&) { return Reply::ok(core.conditionsConfig().levels.thresholds[q][i]); });
                handlers_.onLet(name, [&core, q, i](Call& c) {
                    const double v = c.value().toDouble();
                    if (!std::isfinite(v)) return badValue(c, QStringLiteral("not a finite number"));
                    // The same checks as the user's threshold field: a
                    // value out of order (or a humidity above 100) is
                    // refused with the field's message and nothing is kept.
                    auto& levels = core.conditionsConfig().levels;
                    conditions::PerLevel<double> limits = levels.thresholds[q];
                    limits[i] = v;
                    const QString refused = conditions::thresholdFieldMessage(q, limits, i, levels.descriptions(q));
                    if (!refused.isEmpty()) return badValue(c, refused);
                    core.editConditions([q, i, v](conditions::ConditionsConfig& cc) { cc.levels.thresholds[q][i] = v; });
                    return Reply::ok();
                });
                break;
            case Back:
                handlers_.onGet(name, [&core, q, i](Call&) { return Reply::ok(core.conditionsConfig().levels.styles[q][i].colour); });
                handlers_.onLet(name, [&core, q, i](Call& c) {
                    const qint32 v = c.value().toInt();
                    if (v < 0 || v > 0xFFFFFF)
                        return badValue(c, QStringLiteral("a colour is 0 to 16777215 (blue * 65536 + green * 256 + red)"));
                    core.editConditions([q, i, v](conditions::ConditionsConfig& cc) { cc.levels.styles[q][i].colour = v; });
                    return Reply::ok();
                });
                break;
            case Caption:
                handlers_.onGet(name, [&core, q, i](Call&) {
                    return Reply::ok(core.conditionsConfig().levels.styles[q][i].description);
                });
                handlers_.onLet(name, [&core, q, i](Call& c) {
                    const QString text = c.value().toString();
                    core.editConditions([q, i, text](conditions::ConditionsConfig& cc) { cc.levels.styles[q][i].description = text; });
                    return Reply::ok();
                });
                break;
            case Sector:
                handlers_.onGet(name, [&core, q, i](Call&) { return Reply::ok(core.conditionsConfig().safety.sectors(q)[i]); });
                break;
            }
        }
    }
}

void NephorServer::addAlarmsAndMarks()
{
    auto& core = core_;
    struct Names {
        const char* names[3];
        Quantity q;
    };
    static const Names alarmGroups[] = {
        {{"Clear", "Cloudy", "Overcast"}, Quantity::Cloud},
        {{"Dry", "Wet", "Rain"}, Quantity::Rain},
        {{"Dark", "Light", "VLight"}, Quantity::Brightness},
    };
    for (const Names& g : alarmGroups) {
        for (int i = 0; i < 3; ++i) {
            const Quantity q = g.q;
            const QString level = QLatin1String(g.names[i]);
            handlers_.onGet(QStringLiteral("Alarm") + level, [&core, q, i](Call&) {
                return Reply::ok(core.conditionsConfig().alarms.boxes[q][i].armed() ? 1 : 0);
            });
            handlers_.onLet(QStringLiteral("Alarm") + level, [&core, q, i](Call& c) {
                const auto on = checkBoxValue(c.value());
                if (!on) return badValue(c, QStringLiteral("a check box is 0 (off) or 1 (on)"));
                // An alarm without a sound can not be switched on: it is
                // cleared again at once.
                core.editConditions([q, i, armed = *on](conditions::ConditionsConfig& cc) { cc.alarms.boxes[q][i].setArmed(armed); });
                return Reply::ok();
            });
            handlers_.onGet(QStringLiteral("Sound") + level, [&core, q, i](Call&) {
                return Reply::ok(core.conditionsConfig().alarms.boxes[q][i].sound());
            });
            handlers_.onLet(QStringLiteral("Sound") + level, [&core, q, i](Call& c) {
                // An empty sound also switches the alarm off.
                const QString sound = c.value().toString();
                core.editConditions([q, i, sound](conditions::ConditionsConfig& cc) { cc.alarms.boxes[q][i].setSound(sound); });
                return Reply::ok();
            });
        }
    }

    struct Mark {
        const char* name;
        Quantity q;
        int index;
    };
    static const Mark marks[] = {
        {"SafeClear", Quantity::Cloud, 0},       {"SafeCloudy", Quantity::Cloud, 1},     {"SafeOvercast", Quantity::Cloud, 2},
        {"SafeDry", Quantity::Rain, 0},          {"SafeWet", Quantity::Rain, 1},         {"SafeRain", Quantity::Rain, 2},
        {"SafeDark", Quantity::Brightness, 0},   {"SafeLight", Quantity::Brightness, 1}, {"SafeVLight", Quantity::Brightness, 2},
        {"SafeWindCalm", Quantity::Wind, 0},     {"SafeWindWindy", Quantity::Wind, 1},   {"SafeWindVWindy", Quantity::Wind, 2},
        {"SafeGustCalm", Quantity::Gust, 0},     {"SafeGustWindy", Quantity::Gust, 1},   {"SafeGustVWindy", Quantity::Gust, 2},
        // The dew marks run the other way: Fine is item 2, Condensation item 0.
        {"SafeDewFine", Quantity::DewPoint, 2},  {"SafeDewHumid", Quantity::DewPoint, 1}, {"SafeDewCondensation", Quantity::DewPoint, 0},
        {"SafeHumFine", Quantity::Humidity, 0},  {"SafeHumHumid", Quantity::Humidity, 1}, {"SafeHumVHumid", Quantity::Humidity, 2},
        {"SafeTempCold", Quantity::Temperature, 0}, {"SafeTempFine", Quantity::Temperature, 1}, {"SafeTempHot", Quantity::Temperature, 2},
    };
    for (const Mark& m : marks) {
        const Quantity q = m.q;
        const int i = m.index;
        handlers_.onGet(QLatin1String(m.name), [&core, q, i](Call&) {
            return Reply::ok(core.conditionsConfig().safety.unsafeMarks[q][i] ? 1 : 0);
        });
        handlers_.onLet(QLatin1String(m.name), [&core, q, i](Call& c) {
            const auto on = checkBoxValue(c.value());
            if (!on) return badValue(c, QStringLiteral("a check box is 0 (off) or 1 (on)"));
            core.editConditions([q, i, mark = *on](conditions::ConditionsConfig& cc) { cc.safety.unsafeMarks[q][i] = mark; });
            return Reply::ok();
        });
    }
}

// ---- the main window object and object safety ---------------------------------------

Reply NephorServer::form(Call& c) const
{
    const MainState& s = core_.state();
    const QString& n = c.member->name;
    if (n == QLatin1String("Caption")) return Reply::ok(s.caption);
    if (n == QLatin1String("WindowState")) return Reply::ok(core_.minimized() ? 1 : 0);
    if (n == QLatin1String("Left")) return Reply::ok(windowPosition().x());
    if (n == QLatin1String("Top")) return Reply::ok(windowPosition().y());
    if (n == QLatin1String("Running")) return Reply::ok(core_.isRunning());
    if (n == QLatin1String("AttachedUsers")) return Reply::ok(s.clients);
    if (n == QLatin1String("LblUsers")) return Reply::ok(s.users);
    if (n == QLatin1String("LblStatus")) return Reply::ok(s.unsafeFlag.text);
    if (n == QLatin1String("Statusbar1")) return Reply::ok(s.status.text);
    if (n == QLatin1String("Statusbar2")) return Reply::ok(s.codes.text);
    if (n == QLatin1String("SafeDelayMsg")) return Reply::ok(s.safeDelayMsg.text);
    return Reply::fail(Failure::UnknownMember, n);
}

Reply NephorServer::objectSafety(Call& c) const
{
    const QString riid = c.arg(0).toString();
    if (riid.size() > kMaxTextLength) return badValue(c, QStringLiteral("riid is not an interface identifier"));
    if (c.member->name == QLatin1String("GetInterfaceSafetyOptions")) {
        const SafetyOptions o = getInterfaceSafetyOptions(riid, safety_);
        c.args[1] = o.supported;
        c.args[2] = o.enabled;
        return Reply::ok(o.hr);
    }
    return Reply::ok(setInterfaceSafetyOptions(riid, c.arg(1).toInt(), c.arg(2).toInt(), safety_));
}

} // namespace skyvane::nephor
