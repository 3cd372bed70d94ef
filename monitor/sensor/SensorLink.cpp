#include "SensorLink.h"

#include "Format.h"

#include <QDBusObjectPath>

namespace skyvane {

using automation::CallResult;
using automation::Failure;
using automation::LateBoundObject;

SensorLink::SensorLink(QDBusConnection bus, Clock& clock) : bus_(std::move(bus)), clock_(clock) {}

SensorLink::~SensorLink() { release(); }

bool SensorLink::versionAcceptable(const QString& versionText)
{
    // "5.20.015" style texts: drop the build part, keep major.minor.
    const QString head = versionText.left(std::max<qsizetype>(0, versionText.size() - 4));
    // Compare as decimal numbers: 5.2 passes, 5.19 does not. Round away the
    // binary noise of the text-to-number conversion first.
    const double v = format::leadingNumber(head);
    return std::llround(v * 1e6) >= 5200000;
}

ConnectResult SensorLink::connect(const std::function<double()>& timeoutSeconds)
{
    ConnectResult r;
    release();
    QString err;
    object_ = LateBoundObject::create(bus_, QString::fromLatin1(kSensorProgId), callTimeoutMs_, &err);
    if (!object_) {
        r.outcome = ConnectOutcome::NoServer;
        r.detail = err;
        lastError_ = err;
        return r;
    }
    // Version
    const CallResult v = object_->get(QStringLiteral("Version"));
    r.versionText = v.value.toString();
    if (!v.ok() || !versionAcceptable(r.versionText)) {
        r.outcome = v.ok() ? ConnectOutcome::VersionTooOld : ConnectOutcome::NoServer;
        r.detail = v.ok() ? QStringLiteral("version %1").arg(r.versionText) : v.error;
        object_.reset();
        return r;
    }
    // Role: only a MASTER server lets this monitor drive the switch.
    const CallResult role = object_->get(QStringLiteral("XOB_DeviceRole"));
    role_ = role.ok() ? role.value.toString() : QString();
    r.role = role_;
    r.master = role_ == QLatin1String("MASTER");
    if (r.master) object_->let(QStringLiteral("XOB_DeviceSwitchCtrl"), true);

    if (!takeControl()) {
        r.outcome = ConnectOutcome::NoServer;
        r.detail = lastError_;
        object_.reset();
        return r;
    }

    // Wait for the first data. The timeout is read again on each pass.
    const qint64 t0 = clock_.msClock();
    bool ready = false;
    for (;;) {
        object_->resume();
        const auto dr = dataReady();
        ready = dr.value_or(false);
        if (ready) break;
        const double t = timeoutSeconds ? timeoutSeconds() : 0.0;
        if (!(t * 1000.0 >= double(clock_.msClock() - t0))) break;
        clock_.waitProcessingEvents(1000);
        if (!object_) break; // released while waiting (Stop, unload)
    }
    connected_ = ready;
    lost_ = false;
    if (!ready) {
        r.outcome = ConnectOutcome::NoData;
        r.detail = QStringLiteral("no data from the sensor server");
        return r; // the caller stops, which releases the object
    }
    r.outcome = ConnectOutcome::Connected;
    return r;
}

bool SensorLink::takeControl()
{
    QVariantList args{true, QString::fromLatin1(kSensorControlText)};
    const CallResult lc = object_->call(QStringLiteral("XOB_LocalControl"), args);
    const CallResult ds = object_->call(QStringLiteral("Device_Start"));
    if (!lc.ok() || !ds.ok()) {
        lastError_ = !lc.ok() ? lc.error : ds.error;
        return false;
    }
    return true;
}

void SensorLink::release()
{
    connected_ = false;
    lost_ = false;
    if (object_) {
        object_->resume();
        object_->setTimeout(std::min(callTimeoutMs_, 500));
        QVariantList args{false, QString()};
        object_->call(QStringLiteral("XOB_LocalControl"), args);
        object_.reset();
    }
}

void SensorLink::beginCycle()
{
    if (object_) {
        object_->resume();
        if (!object_->serverAlive()) lost_ = true;
    }
    if (lost_) {
        // The server restarted or went away: create a fresh instance and take
        // control again. If nothing answers, this cycle's reads fail at once.
        QString err;
        auto fresh = LateBoundObject::create(bus_, QString::fromLatin1(kSensorProgId), callTimeoutMs_, &err);
        if (fresh) {
            object_ = std::move(fresh);
            if (role_ == QLatin1String("MASTER")) object_->let(QStringLiteral("XOB_DeviceSwitchCtrl"), true);
            if (takeControl()) lost_ = false;
        } else {
            lastError_ = err;
        }
    }
}

template <typename T> std::optional<T> SensorLink::getAs(const char* member)
{
    if (!object_) return std::nullopt;
    const CallResult r = object_->get(QString::fromLatin1(member));
    if (!r.ok()) {
        lastError_ = r.error;
        if (r.failure == Failure::NoServer || r.failure == Failure::NoObject) lost_ = true;
        return std::nullopt;
    }
    if (!r.value.canConvert<T>()) return std::nullopt;
    return r.value.value<T>();
}

SensorReadings SensorLink::read()
{
    SensorReadings s;
    bool all = true;
    auto level = [&](const char* m, int& out) { auto v = getAs<int>(m); all &= v.has_value(); out = v.value_or(0); };
    auto num = [&](const char* m, double& out) { auto v = getAs<double>(m); all &= v.has_value(); out = v.value_or(0.0); };
    level("Condition_Cloud", s.cloud);
    level("Condition_Rain", s.rain);
    level("Condition_Brightness", s.brightness);
    num("SkyTemperature", s.skyTemperature);
    num("RainValue", s.rainValue);
    num("BrightnessValue", s.brightnessValue);
    num("SkySensorTemperature", s.skySensorTemperature);
    num("AmbientTemperature", s.ambientTemperature);
    num("RainHeaterPercent", s.rainHeaterPercent);
    num("RainHeaterTemperature", s.rainHeaterTemperature);
    if (auto v = getAs<QString>("RainHeaterStatus")) s.rainHeaterStatus = *v; else all = false;
    if (auto v = getAs<QDateTime>("LastReading")) s.lastReading = *v; else all = false;
    // A missing answer here counts as "not running" / "error": data are good
    // only when the server says so.
    const auto running = getAs<bool>("DeviceIsRunning");
    const auto xfer = getAs<bool>("XOB_XFERFileErr");
    s.deviceRunning = running.value_or(false);
    s.transferError = xfer.value_or(true);
    s.complete = all && running && xfer;
    if (!s.complete) {
        // Nothing half-read is shown: levels fall back to unknown.
        s.cloud = s.rain = s.brightness = 0;
    }
    return s;
}

std::optional<QString> SensorLink::temperatureUnits() { return getAs<QString>("XOB_TemperatureUnits"); }

bool SensorLink::setTemperatureUnits(const QString& letter)
{
    return object_ && object_->let(QStringLiteral("XOB_TemperatureUnits"), letter).ok();
}

bool SensorLink::setUnsafe(bool& unsafe)
{
    if (!object_) return false;
    QVariantList args{unsafe};
    const CallResult r = object_->call(QStringLiteral("SetUnSafe"), args);
    if (r.ok() && !args.isEmpty()) unsafe = args.first().toBool();
    return r.ok();
}

bool SensorLink::setSwitch(double& value)
{
    if (!object_) return false;
    QVariantList args{value};
    const CallResult r = object_->call(QStringLiteral("XOB_SetSwitch"), args);
    if (r.ok() && !args.isEmpty()) value = args.first().toDouble();
    return r.ok();
}

bool SensorLink::setSwitch(int& value)
{
    double d = value;
    const bool ok = setSwitch(d);
    if (ok) value = int(d);
    return ok;
}

std::optional<double> SensorLink::switchStatus() { return getAs<double>("SwitchStatus"); }
std::optional<bool> SensorLink::dataReady() { return getAs<bool>("DataReady"); }

bool SensorLink::alarmStop() { return object_ && object_->call(QStringLiteral("XOB_AlarmStop")).ok(); }

std::optional<QString> SensorLink::description(const QString& member)
{
    return getAs<QString>(member.toLatin1().constData());
}

} // namespace skyvane
