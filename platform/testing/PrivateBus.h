#pragma once
// A private D-Bus bus for a test: its own dbus-daemon, killed when the object
// goes away, so that tests never see or disturb the user's session bus.
//
//     PrivateBus bus;
//     ASSERT_TRUE(bus.isRunning()) << bus.error().toStdString();
//     QDBusConnection c = bus.connection();          // this process on the bus
//     bus.exportAddress();                           // children started now use it

#include <QByteArray>
#include <QDBusConnection>
#include <QProcess>
#include <QProcessEnvironment>
#include <QString>
#include <QStringList>
#include <QTemporaryDir>
#include <memory>

namespace skyvane::testing {

class PrivateBus {
public:
    // Who may connect: this user only, or any local user (a program the test
    // runs as an unprivileged user).
    enum class Users { ThisUser, Any };
    // Starts the daemon and waits (a few seconds at most) for its address.
    explicit PrivateBus(Users users = Users::ThisUser);
    ~PrivateBus();
    PrivateBus(const PrivateBus&) = delete;
    PrivateBus& operator=(const PrivateBus&) = delete;

    bool isRunning() const;
    QString error() const { return error_; }
    QString address() const { return address_; }

    // A connection of this process to the bus, by a name local to this bus
    // (each name is one separate client on the bus). Closed in the destructor.
    QDBusConnection connection(const QString& name = QStringLiteral("main"));
    // Closes one connection: the bus sees that client leave. Copies of the
    // connection still held elsewhere keep it open.
    void disconnect(const QString& name);
    // The Qt connection name behind a local name (for QDBusConnection(name)).
    QString connectionName(const QString& name) const;

    // Sets DBUS_SESSION_BUS_ADDRESS of this process to the bus (restored in
    // the destructor), so that child processes and sessionBus() use it.
    void exportAddress();
    // An environment for a child process on this bus.
    QProcessEnvironment environment() const;

private:
    QTemporaryDir dir_;
    QProcess daemon_;
    QString address_;
    QString error_;
    QString prefix_;
    QStringList names_;
    bool exported_ = false;
    QByteArray previousAddress_;
    bool hadPreviousAddress_ = false;
};

} // namespace skyvane::testing
