#include "IndiLink.h"

#include <baseclient.h>
#include <basedevice.h>
#include <indiproperty.h>

#include <QLoggingCategory>
#include <QMetaObject>
#include <csignal>
#include <memory>
#include <utility>


namespace skyvane::sensorindi {

namespace {

IndiProperty copyOf(const INDI::Property& p)
{
    IndiProperty out;
    out.device = QString::fromUtf8(p.getDeviceName());
    out.name = QString::fromUtf8(p.getName());
    switch (p.getType()) {
    case INDI_NUMBER:
        out.kind = IndiProperty::Number;
        if (auto* v = p.getNumber())
            for (const auto& w : *v) out.numbers.insert(QString::fromUtf8(w.getName()), w.getValue());
        break;
    case INDI_SWITCH:
        out.kind = IndiProperty::Switch;
        if (auto* v = p.getSwitch())
            for (const auto& w : *v) out.switches.insert(QString::fromUtf8(w.getName()), w.getState() == ISS_ON);
        break;
    case INDI_TEXT:
        out.kind = IndiProperty::Text;
        if (auto* v = p.getText())
            for (const auto& w : *v) out.texts.insert(QString::fromUtf8(w.getName()), QString::fromUtf8(w.getText()));
        break;
    case INDI_LIGHT:
        // A light counts as on unless it is idle or ok.
        out.kind = IndiProperty::Light;
        if (auto* v = p.getLight())
            for (const auto& w : *v)
                out.switches.insert(QString::fromUtf8(w.getName()), w.getState() != IPS_IDLE && w.getState() != IPS_OK);
        break;
    default:
        break;
    }
    return out;
}

} // namespace

// libindi's client. Its callbacks run on libindi's reading thread: they only
// copy and post to the link, tagged with the client's generation, so that
// news from a client already given up never counts for the current one.
class IndiClient final : public INDI::BaseClient {
public:
    IndiClient(IndiLink* link, int generation) : link_(link), gen_(generation) {}

protected:
    void newProperty(INDI::Property p) override { post(copyOf(p)); }
    void updateProperty(INDI::Property p) override { post(copyOf(p)); }
    void removeProperty(INDI::Property p) override
    {
        const QString d = QString::fromUtf8(p.getDeviceName()), n = QString::fromUtf8(p.getName());
        news([l = link_, d, n] { emit l->propertyRemoved(d, n); });
    }
    void removeDevice(INDI::BaseDevice dev) override
    {
        const QString d = QString::fromUtf8(dev.getDeviceName());
        news([l = link_, d] { emit l->deviceRemoved(d); });
    }
    void newPingReply(std::string) override
    {
        QMetaObject::invokeMethod(link_, [l = link_, g = gen_] { l->answered(g); }, Qt::QueuedConnection);
    }
    void serverDisconnected(int) override
    {
        QMetaObject::invokeMethod(link_, [l = link_, g = gen_] { l->lost(g); }, Qt::QueuedConnection);
    }

private:
    void post(IndiProperty p)
    {
        news([l = link_, p = std::move(p)] { emit l->propertyUpdated(p); });
    }
    void news(std::function<void()> deliver)
    {
        QMetaObject::invokeMethod(link_, [l = link_, g = gen_, deliver = std::move(deliver)] { l->news(g, deliver); },
                                  Qt::QueuedConnection);
    }
    IndiLink* link_;
    int gen_;
};

// Owns the client; its slots run on the worker thread.
class IndiWorker : public QObject {
public:
    IndiWorker(IndiLink* link, QString host, int port, QStringList devices, int timeoutMs)
        : link_(link), host_(std::move(host)), port_(port), devices_(std::move(devices)), timeoutMs_(timeoutMs)
    {
    }
    ~IndiWorker() override { drop(); }

    // One connection attempt with a new client; true when libindi says it
    // is connected. The server is asked for an answer at once: only that
    // (or its news) shows the connection is real.
    bool connectOnce(int generation)
    {
        drop();
        client_ = std::make_unique<IndiClient>(link_, generation);
        clientGen_ = generation;
        client_->setServer(host_.toUtf8().constData(), unsigned(port_));
        client_->setConnectionTimeout(uint32_t(timeoutMs_ / 1000), uint32_t(timeoutMs_ % 1000) * 1000);
        for (const QString& d : devices_) client_->watchDevice(d.toUtf8().constData());
        if (!client_->connectServer()) return false;
        ping(generation);
        return true;
    }
    void ping(int generation)
    {
        if (client_ && clientGen_ == generation && client_->isServerConnected()) client_->sendPingRequest("skyvane");
    }
    void connectDevice(const QString& device)
    {
        if (client_ && client_->isServerConnected()) client_->connectDevice(device.toUtf8().constData());
    }
    void setSwitch(const QString& device, const QString& property, const QString& element)
    {
        if (!client_ || !client_->isServerConnected()) return;
        INDI::BaseDevice dev = client_->getDevice(device.toUtf8().constData());
        if (!dev.isValid()) return;
        INDI::PropertySwitch sp = dev.getProperty(property.toUtf8().constData(), INDI_SWITCH);
        if (!sp.isValid()) return;
        sp.reset();
        auto* w = sp.findWidgetByName(element.toUtf8().constData());
        if (!w) return;
        w->setState(ISS_ON);
        client_->sendNewSwitch(sp);
    }
    void drop()
    {
        if (!client_) return;
        if (client_->isServerConnected()) client_->disconnectServer();
        client_.reset();
    }

private:
    IndiLink* link_;
    QString host_;
    int port_;
    QStringList devices_;
    int timeoutMs_;
    std::unique_ptr<IndiClient> client_;
    int clientGen_ = 0;
};

IndiLink::IndiLink(const QString& host, int port, const QStringList& devices, int reconnectMs, int connectTimeoutMs,
                   QObject* parent)
    : QObject(parent), connectTimeoutMs_(connectTimeoutMs)
{
    // A write to a connection the server has just closed raises SIGPIPE,
    // which would end the bridge without a word; the write failing is
    // enough (libindi then closes its side).
    std::signal(SIGPIPE, SIG_IGN);
    qRegisterMetaType<IndiProperty>();
    thread_.setObjectName(QStringLiteral("indi-worker"));
    worker_ = new IndiWorker(this, host, port, devices, connectTimeoutMs);
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
    retry_.setInterval(reconnectMs);
    connect(&retry_, &QTimer::timeout, this, &IndiLink::tick);
}

IndiLink::~IndiLink()
{
    retry_.stop();
    // The worker drops the client (and with it libindi's thread) on its own
    // thread, then the thread ends.
    QMetaObject::invokeMethod(worker_, [w = worker_] { w->drop(); }, Qt::BlockingQueuedConnection);
    thread_.quit();
    thread_.wait();
}

void IndiLink::start()
{
    retry_.start();
    attempt();
}

void IndiLink::tick()
{
    if (connected_) {
        if (pingSent_.isValid()) {
            // Asked and not answered in time: the connection is gone, though
            // libindi may never say so.
            if (pings_ && pingSent_.hasExpired(connectTimeoutMs_)) down("the INDI server does not answer");
            return;
        }
        // A connection with nothing on it for a whole period is asked.
        if (quiet_) {
            pingSent_.start();
            QMetaObject::invokeMethod(worker_, [w = worker_, g = generation_] { w->ping(g); }, Qt::QueuedConnection);
        }
        quiet_ = true;
        return;
    }
    // Connected by libindi's account, but nothing has come back over it.
    if (confirming_ && since_.hasExpired(connectTimeoutMs_)) giveUp();
    attempt();
}

void IndiLink::attempt()
{
    if (connected_ || attempting_) return;
    attempting_ = true;
    confirming_ = heard_ = pings_ = false;
    held_.clear();
    const int gen = ++generation_;
    QMetaObject::invokeMethod(worker_, [this, w = worker_, gen] {
        const bool ok = w->connectOnce(gen);
        QMetaObject::invokeMethod(this, [this, ok, gen] {
            if (gen != generation_ || !attempting_) return;
            if (!ok || lostEarly_ == gen) {
                attempting_ = false;
                held_.clear();
                return;
            }
            confirming_ = true;
            since_.start();
            // The answer may have come before the news that libindi connected.
            if (heard_) up();
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void IndiLink::news(int generation, std::function<void()> deliver)
{
    if (generation != generation_ || (!connected_ && !attempting_)) return;
    if (connected_) {
        heard();
        deliver();
        return;
    }
    held_.append(std::move(deliver));
    heard(); // may bring the connection up, and deliver what is held
}

void IndiLink::answered(int generation)
{
    if (generation != generation_ || (!connected_ && !attempting_)) return;
    pings_ = true;
    heard();
}

void IndiLink::heard()
{
    heard_ = true;
    quiet_ = false;
    pingSent_.invalidate();
    if (confirming_) up();
}

void IndiLink::up()
{
    attempting_ = confirming_ = false;
    connected_ = true;
    quiet_ = false;
    pingSent_.invalidate();
    emit connectionChanged(true);
    // What the devices sent before the answer, in order.
    const QList<std::function<void()>> held = std::exchange(held_, {});
    for (const auto& deliver : held) deliver();
}

void IndiLink::down(const char* why)
{
    connected_ = false;
    pingSent_.invalidate();
    if (why) qCWarning(lcSensor) << why;
    emit connectionChanged(false);
    attempt();
}

void IndiLink::giveUp()
{
    attempting_ = confirming_ = false;
    held_.clear();
}

void IndiLink::lost(int generation)
{
    if (generation != generation_) return;
    if (connected_) {
        down(nullptr);
        return;
    }
    lostEarly_ = generation;
    if (confirming_) giveUp();
}

void IndiLink::connectDevice(const QString& device)
{
    QMetaObject::invokeMethod(worker_, [w = worker_, device] { w->connectDevice(device); }, Qt::QueuedConnection);
}

void IndiLink::setSwitch(const QString& device, const QString& property, const QString& element)
{
    QMetaObject::invokeMethod(worker_, [w = worker_, device, property, element] { w->setSwitch(device, property, element); },
                              Qt::QueuedConnection);
}

} // namespace skyvane::sensorindi
