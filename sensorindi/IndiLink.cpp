#include "IndiLink.h"

#include <baseclient.h>
#include <basedevice.h>
#include <indiproperty.h>

#include <QLoggingCategory>
#include <QMetaObject>
#include <memory>


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
        QMetaObject::invokeMethod(link_, [l = link_, g = gen_, d, n] { if (l->current(g)) emit l->propertyRemoved(d, n); },
                                  Qt::QueuedConnection);
    }
    void removeDevice(INDI::BaseDevice dev) override
    {
        const QString d = QString::fromUtf8(dev.getDeviceName());
        QMetaObject::invokeMethod(link_, [l = link_, g = gen_, d] { if (l->current(g)) emit l->deviceRemoved(d); },
                                  Qt::QueuedConnection);
    }
    void serverDisconnected(int) override
    {
        QMetaObject::invokeMethod(link_, [l = link_, g = gen_] { l->lost(g); }, Qt::QueuedConnection);
    }

private:
    void post(IndiProperty p)
    {
        QMetaObject::invokeMethod(link_, [l = link_, g = gen_, p = std::move(p)] { if (l->current(g)) emit l->propertyUpdated(p); },
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

    // One connection attempt with a new client; true when connected.
    bool connectOnce(int generation)
    {
        drop();
        client_ = std::make_unique<IndiClient>(link_, generation);
        client_->setServer(host_.toUtf8().constData(), unsigned(port_));
        client_->setConnectionTimeout(uint32_t(timeoutMs_ / 1000), uint32_t(timeoutMs_ % 1000) * 1000);
        for (const QString& d : devices_) client_->watchDevice(d.toUtf8().constData());
        return client_->connectServer();
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
};

IndiLink::IndiLink(const QString& host, int port, const QStringList& devices, int reconnectMs, int connectTimeoutMs,
                   QObject* parent)
    : QObject(parent)
{
    qRegisterMetaType<IndiProperty>();
    thread_.setObjectName(QStringLiteral("indi-worker"));
    worker_ = new IndiWorker(this, host, port, devices, connectTimeoutMs);
    worker_->moveToThread(&thread_);
    connect(&thread_, &QThread::finished, worker_, &QObject::deleteLater);
    thread_.start();
    retry_.setInterval(reconnectMs);
    connect(&retry_, &QTimer::timeout, this, &IndiLink::attempt);
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

void IndiLink::attempt()
{
    if (connected_ || attempting_) return;
    attempting_ = true;
    const int gen = ++generation_;
    QMetaObject::invokeMethod(worker_, [this, w = worker_, gen] {
        const bool ok = w->connectOnce(gen);
        QMetaObject::invokeMethod(this, [this, ok, gen] {
            attempting_ = false;
            if (!ok || gen != generation_ || connected_ || lostEarly_ == gen) return;
            connected_ = true;
            emit connectionChanged(true);
        }, Qt::QueuedConnection);
    }, Qt::QueuedConnection);
}

void IndiLink::lost(int generation)
{
    if (generation != generation_) return;
    if (!connected_) {
        lostEarly_ = generation;
        return;
    }
    connected_ = false;
    emit connectionChanged(false);
    attempt();
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
