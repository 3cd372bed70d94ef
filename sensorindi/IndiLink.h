#pragma once
// The connection to the INDI server through libindi's client. libindi reads
// the server on a thread of its own and calls back there; every callback is
// copied into an IndiProperty and handed to the Qt thread as a queued signal.
// Connecting (which blocks up to its timeout), connecting a device and
// setting a switch run on a further thread of ours, so the Qt thread, which
// answers the monitor on the bus, never waits for the INDI server and never
// takes a lock that the INDI side holds for long.
//
// libindi's word that it is connected, or still connected, is not taken:
// right after a server has gone, its client can call a refused connection
// connected, and it tells of a closed one only when the reading thread's
// errno happens to say so. A connection counts as up once the server has
// answered over it (a ping reply or any news of the devices), and while up,
// a quiet connection is pinged every reconnection period; no answer within
// the time allowed is a lost connection. News that comes before the answer
// is held back until it, and dropped with a connection that never answers.

#include "IndiSensor.h"

#include <QElapsedTimer>
#include <QList>
#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <functional>

namespace skyvane::sensorindi {

class IndiWorker;

class IndiLink : public QObject {
    Q_OBJECT
public:
    // Also makes the process ignore SIGPIPE: libindi writes to its socket
    // with plain write(2), and a server gone away would end the program.
    IndiLink(const QString& host, int port, const QStringList& devices, int reconnectMs, int connectTimeoutMs,
             QObject* parent = nullptr);
    ~IndiLink() override;

    // Starts connecting, now and then every reconnectMs while not connected.
    void start();
    bool isConnected() const { return connected_; }

    // Sent on the worker thread; nothing happens while not connected.
    void connectDevice(const QString& device);
    void setSwitch(const QString& device, const QString& property, const QString& element);

    // For the client's callbacks, on this object's thread: news of that
    // client (run now, held back or dropped), its answer to a ping, and its
    // loss of the server.
    void news(int generation, std::function<void()> deliver);
    void answered(int generation);
    void lost(int generation);

signals:
    void connectionChanged(bool up);
    void propertyUpdated(const skyvane::sensorindi::IndiProperty& property);
    void propertyRemoved(const QString& device, const QString& name);
    void deviceRemoved(const QString& device);

private:
    void tick();
    void attempt();
    void heard(); // the current client's server has answered
    void up();
    void down(const char* why);
    void giveUp();

    QThread thread_;
    IndiWorker* worker_ = nullptr; // lives on thread_
    QTimer retry_;                 // every reconnectMs: attempts, and pings while connected
    int connectTimeoutMs_;
    bool connected_ = false;
    bool attempting_ = false;  // from attempt() until the connection is up or given up
    bool confirming_ = false;  // connectServer() said yes; waiting for the server to answer
    bool heard_ = false;       // the current client's server has answered
    bool pings_ = false;       // ... and it answers pings (an older server may not)
    int generation_ = 0;       // of the newest client
    int lostEarly_ = 0;        // a client that lost the server before its connection was reported
    bool quiet_ = false;       // up: nothing heard since the last tick
    QElapsedTimer since_;      // confirming: since connectServer() returned
    QElapsedTimer pingSent_;   // up: a ping not yet answered (invalid: none)
    QList<std::function<void()>> held_; // news of a connection not yet up
};

} // namespace skyvane::sensorindi
