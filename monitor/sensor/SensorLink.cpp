#include "SensorLink.h"

#include "Format.h"

#include <QCoreApplication>
#include <QDBusObjectPath>
#include <cmath>

namespace skyvane {

using automation::CallResult;
using automation::Failure;
using automation::LateBoundObject;

// Collects the answers of calls sent together and runs done once the last
// one is in. Calls answer later, never inside the call that sends them, so
// done can not run before seal().
struct SensorLink::Gather {
    int pending = 0;
    bool sealed = false;
    std::function<void()> done;

    static std::shared_ptr<Gather> make(std::function<void()> fn)
    {
        auto g = std::make_shared<Gather>();
        g->done = std::move(fn);
        return g;
    }
    // One more call; the returned function is its answer's arrival.
    std::function<void()> expect(std::shared_ptr<Gather> self)
    {
        ++pending;
        return [self] { self->answered(); };
    }
    void answered()
    {
        if (--pending == 0 && sealed && done) std::exchange(done, nullptr)();
    }
    void seal()
    {
        sealed = true;
        if (pending == 0 && done) std::exchange(done, nullptr)();
    }
};

SensorLink::SensorLink(QDBusConnection bus, Clock& clock) : bus_(std::move(bus)), clock_(clock)
{
    pollTimer_ = clock_.createTimer();
    pollTimer_->setSingleShot(true);
}

SensorLink::~SensorLink() { release(true); }

bool SensorLink::versionAcceptable(const QString& versionText)
{
    // "5.20.015" style texts: drop the build part, keep major.minor.
    const QString head = versionText.left(std::max<qsizetype>(0, versionText.size() - 4));
    // Compare as decimal numbers: 5.2 passes, 5.19 does not. Round away the
    // binary noise of the text-to-number conversion first.
    const double v = format::leadingNumber(head);
    return std::llround(v * 1e6) >= 5200000;
}

void SensorLink::noteFailure(const CallResult& r)
{
    if (r.ok()) return;
    lastError_ = r.error;
    if (r.failure == Failure::NoServer || r.failure == Failure::NoObject) lost_ = true;
}

// ---- connecting -------------------------------------------------------------

void SensorLink::connect(std::function<double()> timeoutSeconds, std::function<void(const ConnectResult&)> done)
{
    release();
    connecting_ = true;
    connectTimeout_ = std::move(timeoutSeconds);
    connectDone_ = std::move(done);
    const int gen = generation_;
    std::weak_ptr<int> alive = alive_;
    LateBoundObject::createAsync(bus_, QString::fromLatin1(kSensorProgId), callTimeoutMs_,
                                 [this, gen, alive](std::unique_ptr<LateBoundObject> obj, const QString& err) {
        if (alive.expired() || gen != generation_) return; // released meanwhile: obj releases itself
        auto r = std::make_shared<ConnectResult>();
        if (!obj) {
            lastError_ = err;
            r->detail = err;
            finishConnect(*r);
            return;
        }
        object_ = std::move(obj);
        // Version
        object_->getAsync(QStringLiteral("Version"), [this, r](const CallResult& v, const QVariantList&) {
            r->versionText = v.value.toString();
            if (!v.ok() || !versionAcceptable(r->versionText)) {
                r->outcome = v.ok() ? ConnectOutcome::VersionTooOld : ConnectOutcome::NoServer;
                r->detail = v.ok() ? QStringLiteral("version %1").arg(r->versionText) : v.error;
                object_.reset();
                finishConnect(*r);
                return;
            }
            // Role: only a MASTER server lets this monitor drive the switch.
            object_->getAsync(QStringLiteral("XOB_DeviceRole"), [this, r](const CallResult& role, const QVariantList&) {
                role_ = role.ok() ? role.value.toString() : QString();
                r->role = role_;
                r->master = role_ == QLatin1String("MASTER");
                takeControl([this, r](bool ok) {
                    if (!ok) {
                        r->outcome = ConnectOutcome::NoServer;
                        r->detail = lastError_;
                        object_.reset();
                        finishConnect(*r);
                        return;
                    }
                    pollDataReady(clock_.msClock(), r);
                });
            });
        });
    });
}

void SensorLink::takeControl(std::function<void(bool)> done)
{
    // Sent together: the switch right (MASTER only), control, device start.
    auto ok = std::make_shared<bool>(true);
    auto g = Gather::make([ok, done = std::move(done)] { done(*ok); });
    if (role_ == QLatin1String("MASTER")) object_->letAsync(QStringLiteral("XOB_DeviceSwitchCtrl"), true);
    auto check = [this, ok](std::function<void()> arrived) {
        return [this, ok, arrived](const CallResult& r, const QVariantList&) {
            if (!r.ok()) {
                *ok = false;
                noteFailure(r);
            }
            arrived();
        };
    };
    object_->callAsync(QStringLiteral("XOB_LocalControl"), {true, QString::fromLatin1(kSensorControlText)}, check(g->expect(g)));
    object_->callAsync(QStringLiteral("Device_Start"), {}, check(g->expect(g)));
    g->seal();
}

void SensorLink::pollDataReady(qint64 t0, std::shared_ptr<ConnectResult> r)
{
    // The timeout is read again on each pass; passes are a second apart.
    object_->resume();
    object_->getAsync(QStringLiteral("DataReady"), [this, t0, r](const CallResult& dr, const QVariantList&) {
        noteFailure(dr);
        if (dr.ok() && automation::toBool(dr.value)) {
            connected_ = true;
            lost_ = false;
            r->outcome = ConnectOutcome::Connected;
            finishConnect(*r);
            return;
        }
        const double t = connectTimeout_ ? connectTimeout_() : 0.0;
        if (!(t * 1000.0 >= double(clock_.msClock() - t0))) {
            r->outcome = ConnectOutcome::NoData;
            r->detail = QStringLiteral("no data from the sensor server");
            finishConnect(*r); // the caller stops, which releases the object
            return;
        }
        pollTimer_->setCallback([this, t0, r] {
            if (object_) pollDataReady(t0, r);
        });
        pollTimer_->setInterval(1000);
        pollTimer_->start();
    });
}

void SensorLink::finishConnect(const ConnectResult& r)
{
    connecting_ = false;
    pollTimer_->stop();
    auto done = std::exchange(connectDone_, nullptr);
    connectTimeout_ = nullptr;
    if (done) done(r);
}

void SensorLink::release(bool wait)
{
    ++generation_;
    connected_ = false;
    lost_ = false;
    pollTimer_->stop();
    if (object_) {
        object_->resume();
        object_->setTimeout(std::min(callTimeoutMs_, 500));
        QVariantList args{false, QString()};
        if (wait) {
            object_->call(QStringLiteral("XOB_LocalControl"), args);
        } else {
            object_->callAsync(QStringLiteral("XOB_LocalControl"), args);
            object_->setReleaseWithoutWaiting(true);
        }
        object_.reset(); // the instance is released after the call, in order
    }
    if (connecting_) {
        ConnectResult r;
        r.outcome = ConnectOutcome::Cancelled;
        r.detail = QStringLiteral("released while connecting");
        finishConnect(r);
    }
}

// ---- the read cycle ----------------------------------------------------------

void SensorLink::later(std::function<void()> fn)
{
    // Without an object there is nothing to ask: the answer ("nothing read")
    // still comes from the event loop, as every other answer does, and not
    // after this link is gone.
    std::weak_ptr<int> alive = alive_;
    QMetaObject::invokeMethod(
        QCoreApplication::instance(), [alive, fn = std::move(fn)] { if (!alive.expired()) fn(); }, Qt::QueuedConnection);
}

void SensorLink::read(const QString& letter, std::function<void(const SensorReadings&)> done)
{
    if (!object_) return later([done] { done(SensorReadings{}); });
    object_->resume();
    // Sent together: who owns the server's name now (the bus answers this
    // even when the server hangs), the server's unit letter and every value.
    // The letter rarely changes; when it has, it is sent and the values are
    // read again, so a cycle's values are always in the letter of its file.
    struct Answers {
        QString owner;
        std::optional<QString> units;
        SensorReadings readings;
    };
    auto a = std::make_shared<Answers>();
    const int gen = generation_;
    std::weak_ptr<int> alive = alive_;
    auto g = Gather::make([this, a, gen, alive, letter, done] {
        if (alive.expired() || gen != generation_) return;
        if (!object_ || a->owner != object_->owner()) lost_ = true;
        if (lost_) {
            reconnect([this, letter, done](const std::optional<QString>& units) {
                if (object_ && units && *units != letter) object_->letAsync(QStringLiteral("XOB_TemperatureUnits"), letter);
                readValues(done);
            });
            return;
        }
        if (a->units && *a->units != letter) {
            object_->letAsync(QStringLiteral("XOB_TemperatureUnits"), letter);
            readValues(done);
            return;
        }
        done(a->readings);
    });
    auto ownerArrived = g->expect(g);
    LateBoundObject::nameOwnerAsync(bus_, QString::fromLatin1(kSensorProgId), callTimeoutMs_,
                                    [a, alive, ownerArrived](const QString& owner) {
        if (alive.expired()) return;
        a->owner = owner;
        ownerArrived();
    });
    auto unitsArrived = g->expect(g);
    object_->getAsync(QStringLiteral("XOB_TemperatureUnits"), [this, a, unitsArrived](const CallResult& r, const QVariantList&) {
        noteFailure(r);
        if (r.ok()) a->units = r.value.toString();
        unitsArrived();
    });
    auto valuesArrived = g->expect(g);
    readValues([a, valuesArrived](const SensorReadings& r) {
        a->readings = r;
        valuesArrived();
    });
    g->seal();
}

void SensorLink::reconnect(std::function<void(const std::optional<QString>&)> done)
{
    // The server restarted or went away: create a fresh instance and take
    // control again. If nothing answers, this cycle's reads fail at once.
    const int gen = generation_;
    std::weak_ptr<int> alive = alive_;
    LateBoundObject::createAsync(bus_, QString::fromLatin1(kSensorProgId), callTimeoutMs_,
                                 [this, gen, alive, done](std::unique_ptr<LateBoundObject> fresh, const QString& err) {
        if (alive.expired() || gen != generation_) return;
        if (!fresh) {
            lastError_ = err;
            done(std::nullopt);
            return;
        }
        object_ = std::move(fresh);
        takeControl([this, done](bool ok) {
            if (ok) lost_ = false;
            if (!object_) return done(std::nullopt);
            object_->getAsync(QStringLiteral("XOB_TemperatureUnits"), [this, done](const CallResult& r, const QVariantList&) {
                noteFailure(r);
                done(r.ok() ? std::optional<QString>(r.value.toString()) : std::nullopt);
            });
        });
    });
}

void SensorLink::readValues(std::function<void(const SensorReadings&)> done)
{
    if (!object_) return later([done] { done(SensorReadings{}); });
    auto s = std::make_shared<SensorReadings>();
    auto all = std::make_shared<bool>(true);
    auto running = std::make_shared<std::optional<bool>>();
    auto xfer = std::make_shared<std::optional<bool>>();
    auto g = Gather::make([s, all, running, xfer, done] {
        // A missing answer here counts as "not running" / "error": data are
        // good only when the server says so.
        s->deviceRunning = running->value_or(false);
        s->transferError = xfer->value_or(true);
        s->complete = *all && running->has_value() && xfer->has_value();
        if (!s->complete) {
            // Nothing half-read is shown: levels fall back to unknown.
            s->cloud = s->rain = s->brightness = 0;
        }
        done(*s);
    });
    // Each value is taken only when the answer converts; otherwise the whole
    // reading is incomplete.
    auto ask = [&](const char* member, std::function<bool(const QVariant&)> take, bool counts = true) {
        auto arrived = g->expect(g);
        object_->getAsync(QString::fromLatin1(member), [this, all, take, counts, arrived](const CallResult& r, const QVariantList&) {
            noteFailure(r);
            const bool ok = r.ok() && take(r.value);
            if (counts && !ok) *all = false;
            arrived();
        });
    };
    auto level = [&](const char* m, int SensorReadings::*field) {
        ask(m, [s, field](const QVariant& v) { bool ok = false; const qint32 x = automation::toInt32(v, &ok); if (ok) (*s).*field = x; return ok; });
    };
    auto number = [&](const char* m, double SensorReadings::*field) {
        ask(m, [s, field](const QVariant& v) {
            bool ok = false;
            const double x = automation::toDouble(v, &ok);
            if (ok && std::isfinite(x)) (*s).*field = x;
            return ok && std::isfinite(x);
        });
    };
    level("Condition_Cloud", &SensorReadings::cloud);
    level("Condition_Rain", &SensorReadings::rain);
    level("Condition_Brightness", &SensorReadings::brightness);
    number("SkyTemperature", &SensorReadings::skyTemperature);
    number("RainValue", &SensorReadings::rainValue);
    number("BrightnessValue", &SensorReadings::brightnessValue);
    number("SkySensorTemperature", &SensorReadings::skySensorTemperature);
    number("AmbientTemperature", &SensorReadings::ambientTemperature);
    number("RainHeaterPercent", &SensorReadings::rainHeaterPercent);
    number("RainHeaterTemperature", &SensorReadings::rainHeaterTemperature);
    ask("RainHeaterStatus", [s](const QVariant& v) { s->rainHeaterStatus = automation::toText(v); return true; });
    ask("LastReading", [s](const QVariant& v) {
        if (v.metaType().id() != QMetaType::QDateTime) return false;
        s->lastReading = v.toDateTime();
        return s->lastReading.isValid();
    });
    ask("DeviceIsRunning", [running](const QVariant& v) { bool ok = false; const bool b = automation::toBool(v, &ok); if (ok) *running = b; return ok; });
    ask("XOB_XFERFileErr", [xfer](const QVariant& v) { bool ok = false; const bool b = automation::toBool(v, &ok); if (ok) *xfer = b; return ok; });
    // The level names; used only when the reading is good, and a missing
    // name does not make the reading faulty.
    for (size_t i = 0; i < kSensorDescriptionMembers.size(); ++i)
        ask(kSensorDescriptionMembers[i], [s, i](const QVariant& v) { s->descriptions[i] = automation::toText(v); return true; }, false);
    g->seal();
}

void SensorLink::report(bool unsafe, std::optional<double> switchValue, std::function<void(const SensorReport&)> done)
{
    if (!object_) return later([done] { done(SensorReport{}); });
    auto rep = std::make_shared<SensorReport>();
    auto g = Gather::make([rep, done] { done(*rep); });
    auto arrivedSet = g->expect(g);
    object_->callAsync(QStringLiteral("SetUnSafe"), {unsafe}, [this, arrivedSet](const CallResult& r, const QVariantList&) {
        noteFailure(r);
        arrivedSet();
    });
    if (switchValue) {
        auto arrived = g->expect(g);
        object_->callAsync(QStringLiteral("XOB_SetSwitch"), {*switchValue}, [this, arrived](const CallResult& r, const QVariantList&) {
            noteFailure(r);
            arrived();
        });
    } else {
        auto arrived = g->expect(g);
        object_->getAsync(QStringLiteral("SwitchStatus"), [this, rep, arrived](const CallResult& r, const QVariantList&) {
            noteFailure(r);
            bool ok = false;
            const double v = r.ok() ? automation::toDouble(r.value, &ok) : 0.0;
            if (ok) rep->switchStatus = v;
            arrived();
        });
    }
    auto arrivedReady = g->expect(g);
    object_->getAsync(QStringLiteral("DataReady"), [this, rep, arrivedReady](const CallResult& r, const QVariantList&) {
        noteFailure(r);
        bool ok = false;
        const bool b = r.ok() ? automation::toBool(r.value, &ok) : false;
        if (ok) rep->dataReady = b;
        arrivedReady();
    });
    g->seal();
}

void SensorLink::alarmStop()
{
    if (object_) object_->callAsync(QStringLiteral("XOB_AlarmStop"), {});
}

void SensorLink::setSwitch(int value)
{
    if (object_) object_->callAsync(QStringLiteral("XOB_SetSwitch"), {value});
}

} // namespace skyvane
