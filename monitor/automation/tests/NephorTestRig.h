#pragma once
// The monitor with its automation server on a private bus, against the
// sensor stand-in, driven by a FakeClock; and client programs, each with its
// own bus connection in its own thread (a client's calls block, and the
// monitor must keep answering meanwhile, as it does for other programs).

#include "MonitorRig.h"
#include "Automation.h"
#include "MonitorCore.h"
#include "NephorServer.h"
#include "PrivateBus.h"
#include "SensorStandIn.h"
#include "SettingsStore.h"

#include <QCoreApplication>
#include <QDBusMessage>
#include <QDBusObjectPath>
#include <QDeadlineTimer>
#include <QFile>
#include <QTemporaryDir>
#include <QThread>
#include <atomic>
#include <functional>
#include <memory>
#include <optional>
#include <type_traits>

namespace skyvane::testing {

// Lets the monitor (this thread's event loop) work until pred holds.
inline bool spinUntil(const std::function<bool()>& pred, int ms = 5000)
{
    QDeadlineTimer deadline(ms);
    while (!pred()) {
        if (deadline.hasExpired()) return false;
        QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
        QCoreApplication::sendPostedEvents();
    }
    return true;
}

inline void spinFor(int ms)
{
    QDeadlineTimer deadline(ms);
    while (!deadline.hasExpired()) QCoreApplication::processEvents(QEventLoop::AllEvents, 5);
}

class ClientThread {
public:
    ClientThread(const QString& address, const QString& name) : address_(address), name_(name)
    {
        ctx_ = new QObject;
        ctx_->moveToThread(&thread_);
        thread_.start();
        run([this] { bus_ = QDBusConnection::connectToBus(address_, name_); });
    }
    ~ClientThread()
    {
        run([this] {
            object_.reset();
            if (connected_) QDBusConnection::disconnectFromBus(name_);
        });
        QMetaObject::invokeMethod(ctx_, [c = ctx_] { delete c; }, Qt::QueuedConnection);
        thread_.quit();
        thread_.wait();
    }
    ClientThread(const ClientThread&) = delete;
    ClientThread& operator=(const ClientThread&) = delete;

    // Runs fn in the client's thread; the monitor keeps working meanwhile.
    template <class F>
    auto run(F fn) -> decltype(fn())
    {
        using R = decltype(fn());
        std::atomic<bool> done{false};
        if constexpr (std::is_void_v<R>) {
            QMetaObject::invokeMethod(ctx_, [&] { fn(); done = true; }, Qt::QueuedConnection);
            wait(done);
        } else {
            std::optional<R> result;
            QMetaObject::invokeMethod(ctx_, [&] { result.emplace(fn()); done = true; }, Qt::QueuedConnection);
            wait(done);
            return std::move(*result);
        }
    }
    // Starts fn in the client's thread without waiting.
    void post(std::function<void()> fn) { QMetaObject::invokeMethod(ctx_, std::move(fn), Qt::QueuedConnection); }

    bool isConnected() { return run([this] { return bus_.isConnected(); }); }
    QDBusConnection bus() const { return bus_; } // use inside run() only

    // Creates an instance of the class (one attached client).
    bool create(QString* error = nullptr, const QString& progId = QString::fromLatin1(nephor::kProgId))
    {
        return run([&] {
            object_ = automation::LateBoundObject::create(bus_, progId, 2000, error);
            return object_ != nullptr;
        });
    }
    // Creates an instance with a plain message, without the client library
    // (which keeps its own handle on the connection): after disconnect() the
    // connection is really gone, as when a program crashes.
    bool createRaw(QString* error = nullptr)
    {
        const QDBusMessage r = raw(QDBusMessage::createMethodCall(nephor::kProgId, "/", automation::kFactoryInterface,
                                                                  "CreateInstance"));
        if (r.type() != QDBusMessage::ReplyMessage) {
            if (error) *error = r.errorMessage();
            return false;
        }
        rawPath_ = r.arguments().value(0).value<QDBusObjectPath>().path();
        return true;
    }
    // A message to the instance made by createRaw().
    QDBusMessage instanceCall(const QString& member, const QVariantList& args = {}) const
    {
        QDBusMessage m = QDBusMessage::createMethodCall(nephor::kProgId, rawPath_, nephor::kProgId, member);
        m.setArguments(args);
        return m;
    }
    automation::LateBoundObject* object() { return object_.get(); }
    QString path() { return object_ ? object_->path() : rawPath_; }

    automation::CallResult get(const QString& m) { return run([&] { return object_->get(m); }); }
    automation::CallResult let(const QString& m, const QVariant& v) { return run([&] { return object_->let(m, v); }); }
    automation::CallResult call(const QString& m, QVariantList args = {})
    {
        return run([&] { return object_->call(m, args); });
    }
    automation::CallResult callRef(const QString& m, QVariantList& args)
    {
        return run([&] { return object_->call(m, args); });
    }
    // A raw message, for calls the client library would refuse to send.
    QDBusMessage raw(QDBusMessage msg, int timeoutMs = 2000)
    {
        return run([&] { return bus_.call(msg, QDBus::Block, timeoutMs); });
    }
    // Releases the instance.
    void release() { run([this] { object_.reset(); }); }
    // Leaves the bus without releasing, as a program that crashes does.
    void disconnect()
    {
        run([this] {
            connected_ = false;
            bus_ = QDBusConnection(QString()); // the last handle on the connection goes
            QDBusConnection::disconnectFromBus(name_);
        });
    }

private:
    static void wait(std::atomic<bool>& done)
    {
        QDeadlineTimer deadline(60000);
        while (!done.load()) {
            if (deadline.hasExpired()) qFatal("a client call did not end");
            QCoreApplication::processEvents(QEventLoop::AllEvents, 2);
        }
    }

    QString address_, name_, rawPath_;
    QThread thread_;
    QObject* ctx_ = nullptr;
    QDBusConnection bus_{QString()};
    bool connected_ = true;
    std::unique_ptr<automation::LateBoundObject> object_;
};

// The monitor rig with the automation class published on its bus.
struct NephorRig : MonitorRig {
    std::unique_ptr<nephor::NephorServer> server;
    QString publishError;
    int clientNumber = 0;

    explicit NephorRig(const QStringList& simArgs = {"--ready-delay", "0"}, bool startSim = true,
                       conditions::SoundPlayer* player = nullptr, bool inRealTime = false)
        : MonitorRig(simArgs, startSim, player, inRealTime)
    {
        server = std::make_unique<nephor::NephorServer>(*core, bus.connection());
        if (!server->publish(&publishError)) server.reset();
    }
    bool ready() const { return bus.isRunning() && (!sim || sim->isRunning()) && server; }
    QString why() const
    {
        if (!bus.isRunning()) return bus.error();
        if (sim && !sim->isRunning()) return sim->error();
        return publishError;
    }

    // A new client program with an instance of the class.
    std::unique_ptr<ClientThread> client()
    {
        auto c = std::make_unique<ClientThread>(bus.address(), QStringLiteral("client%1").arg(++clientNumber));
        QString err;
        if (!c->create(&err)) qWarning() << "client could not create the class:" << err;
        return c;
    }
    // Waits until the monitor counts n clients.
    bool clientsAre(int n, int ms = 5000)
    {
        return spinUntil([&] { return core->state().clients == n; }, ms);
    }
};

} // namespace skyvane::testing
