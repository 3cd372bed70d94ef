#pragma once
// The connection to the INDI server through libindi's client. libindi reads
// the server on a thread of its own and calls back there; every callback is
// copied into an IndiProperty and handed to the Qt thread as a queued signal.
// Connecting (which blocks up to its timeout), connecting a device and
// setting a switch run on a further thread of ours, so the Qt thread, which
// answers the monitor on the bus, never waits for the INDI server and never
// takes a lock that the INDI side holds for long.

#include "IndiSensor.h"

#include <QObject>
#include <QString>
#include <QStringList>
#include <QThread>
#include <QTimer>
#include <atomic>

namespace skyvane::sensorindi {

class IndiWorker;

class IndiLink : public QObject {
    Q_OBJECT
public:
    IndiLink(const QString& host, int port, const QStringList& devices, int reconnectMs, int connectTimeoutMs,
             QObject* parent = nullptr);
    ~IndiLink() override;

    // Starts connecting, now and then every reconnectMs while not connected.
    void start();
    bool isConnected() const { return connected_; }

    // Sent on the worker thread; nothing happens while not connected.
    void connectDevice(const QString& device);
    void setSwitch(const QString& device, const QString& property, const QString& element);

    // For the client's callbacks, on this object's thread: whether news of
    // that client still counts, and its loss of the server.
    bool current(int generation) const { return generation == generation_; }
    void lost(int generation);

signals:
    void connectionChanged(bool up);
    void propertyUpdated(const skyvane::sensorindi::IndiProperty& property);
    void propertyRemoved(const QString& device, const QString& name);
    void deviceRemoved(const QString& device);

private:
    void attempt();

    QThread thread_;
    IndiWorker* worker_ = nullptr; // lives on thread_
    QTimer retry_;
    bool connected_ = false;
    bool attempting_ = false;
    int generation_ = 0; // of the newest client
    int lostEarly_ = 0;  // a client that lost the server before its connection was reported
};

} // namespace skyvane::sensorindi
