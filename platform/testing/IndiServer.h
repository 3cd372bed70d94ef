#pragma once
// A real INDI server (Debian's indiserver) with its drivers as a child
// process of a test, on a free local port, with a home of its own (drivers
// keep their configuration there), and the INDI command-line tools to set and
// read properties.
//
//     IndiServer indi({"indi_simulator_weather"});
//     ASSERT_TRUE(indi.isRunning()) << indi.error().toStdString();
//     indi.setProp("Weather Simulator.WEATHER_CONTROL.Precip=5");
//     indi.kill();    // the server and its drivers go away
//     indi.start();   // again, on the same port

#include <QProcess>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>

namespace skyvane::testing {

class IndiServer {
public:
    // Starts the server on a free port and waits (a few seconds at most)
    // until it accepts connections.
    explicit IndiServer(QStringList drivers = {QStringLiteral("indi_simulator_weather")});
    ~IndiServer(); // kills the server and its drivers
    IndiServer(const IndiServer&) = delete;
    IndiServer& operator=(const IndiServer&) = delete;

    static bool available(); // indiserver is installed
    bool start();
    bool isRunning() const;
    QString error() const { return error_; }
    int port() const { return port_; }

    // Ends the server and its drivers at once.
    void kill();
    // Stops (true) or resumes (false) every driver process: a hung driver,
    // whose connection stays open while it sends nothing.
    bool freezeDrivers(bool frozen);
    // The same for the server itself: its clients' connections stay open
    // and nothing answers on them; its drivers run on.
    bool freezeServer(bool frozen);

    // indi_setprop "device.property.element=value" (text, number or switch);
    // false when the tool failed.
    bool setProp(const QString& spec);
    // indi_getprop of one element: its value, empty when not found.
    QString getProp(const QString& spec);
    // Polls getProp until it gives value or the time is up.
    bool waitProp(const QString& spec, const QString& value, int timeoutMs);

private:
    QList<qint64> driverPids() const;
    QStringList drivers_;
    QTemporaryDir dir_;
    QProcess process_;
    QString error_;
    int port_ = 0;
};

} // namespace skyvane::testing
